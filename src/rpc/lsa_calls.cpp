// SPDX-License-Identifier: Apache-2.0
#include "rpc/lsa_calls.h"

#include <vector>

#include "rpc/rpc_pipe.h"

namespace net {
namespace {

constexpr uint32_t kBindCallId = 1;

}  // namespace

Status OpenLsaPipe(Exchange* x, const std::u16string& tree_path) {
  return BindPipe(x, tree_path, u"lsarpc", kLsaSyntax, kBindCallId);
}

Status CallOpenPolicy2(Exchange* x, uint32_t call_id, PolicyHandle* handle) {
  std::vector<uint8_t> stub;
  EncodeOpenPolicy2(&stub);
  RpcReply reply;
  Status s = CallPipe(x, call_id, kLsarOpenPolicy2, stub, &reply);
  if (!IsOk(s)) return s;
  return DecodeOpenPolicy2(reply.stub.data(), reply.stub.size(), handle);
}

Status CallQueryAccountDomain(Exchange* x, uint32_t call_id, const PolicyHandle& handle,
                              AccountDomain* out) {
  std::vector<uint8_t> stub;
  EncodeQueryAccountDomain(handle, &stub);
  RpcReply reply;
  Status s = CallPipe(x, call_id, kLsarQueryInformationPolicy, stub, &reply);
  if (!IsOk(s)) return s;
  return DecodeAccountDomain(reply.stub.data(), reply.stub.size(), out);
}

}  // namespace net
