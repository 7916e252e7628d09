// SPDX-License-Identifier: Apache-2.0
// DCE/RPC over a named pipe, for any interface: the BIND sent with the
// pipe's opening requests, then one REQUEST per call, each answer
// reassembled from as many pipe reads as its fragments take.
#ifndef KESTRIN_RPC_RPC_PIPE_H_
#define KESTRIN_RPC_RPC_PIPE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "rpc/dcerpc.h"
#include "smb2/named_pipe.h"

namespace net {

/// Opens `pipe` of `tree_path` (`\\server\IPC$`) with the BIND to
/// `interface` (call `bind_call_id`) as its first write, and checks the
/// BIND_ACK.
Status BindPipe(Exchange* x, const std::u16string& tree_path, const std::u16string& pipe,
                const RpcSyntax& interface, uint32_t bind_call_id);

/// One call on the bound pipe: `stub` for `opnum` in a REQUEST, the
/// reassembled reply out.
Status CallPipe(Exchange* x, uint32_t call_id, uint16_t opnum, const std::vector<uint8_t>& stub,
                RpcReply* reply);

}  // namespace net

#endif  // KESTRIN_RPC_RPC_PIPE_H_
