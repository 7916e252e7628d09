// Feeds arbitrary bytes to every decoder of server replies. The first byte
// picks the decoder, the rest is the reply; fuzz/corpus/ holds the live
// replies in that form (file names say which decoder).
#include <stddef.h>
#include <stdint.h>

#include "net/dcerpc.h"
#include "net/lsa.h"
#include "net/ntlmssp.h"
#include "net/spnego.h"

namespace {

/// The call id of the corpus's LsarQueryInformationPolicy reply.
constexpr uint32_t kCallId = 3;

/// Cuts the bytes into PDUs the way the pipe reader does, reassembles them
/// and decodes the stub as either LSA reply.
void Reassemble(const uint8_t* data, size_t size) {
  net::RpcReply reply;
  while (!reply.complete) {
    size_t length = net::PduLength(data, size);
    if (length == 0 || length > size) return;
    if (!net::IsOk(net::AddReplyFragment(data, length, kCallId, &reply))) return;
    data += length;
    size -= length;
  }
  net::AccountDomain domain;
  (void)net::DecodeAccountDomain(reply.stub.data(), reply.stub.size(), &domain);
  net::PolicyHandle handle;
  (void)net::DecodeOpenPolicy2(reply.stub.data(), reply.stub.size(), &handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* reply = data + 1;
  size_t n = size - 1;
  uint32_t flags = 0;
  switch (data[0] % 7) {
    case 0:
      (void)net::DecodeBindAck(reply, n, 1);
      break;
    case 1:
      Reassemble(reply, n);
      break;
    case 2: {
      net::PolicyHandle handle;
      (void)net::DecodeOpenPolicy2(reply, n, &handle);
      break;
    }
    case 3: {
      net::AccountDomain domain;
      (void)net::DecodeAccountDomain(reply, n, &domain);
      break;
    }
    case 4:
      (void)net::DecodeSpnegoChallenge(reply, n, &flags);
      break;
    case 5:
      (void)net::DecodeSpnegoFinal(reply, n);
      break;
    default:
      (void)net::DecodeNtlmChallenge(reply, n, &flags);
      break;
  }
  return 0;
}
