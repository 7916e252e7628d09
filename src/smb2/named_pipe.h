// SPDX-License-Identifier: Apache-2.0
// The lsarpc pipe of IPC$ on an established session: opening it (TREE_CONNECT,
// CREATE and the BIND, as one related compound where the credits cover it,
// one request at a time where they do not) and one LSA call over it.
#ifndef KESTRIN_NET_LSA_PIPE_H_
#define KESTRIN_NET_LSA_PIPE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "rpc/dcerpc.h"
#include "smb2/smb2.h"
#include "smb2/smb2_connection.h"
#include "smb2/smb2_session.h"
#include "base/status.h"

namespace net {

/// One query's state on its connection.
struct Exchange {
  Smb2Connection connection;
  Smb2Session session;
  Smb2FileId file;                   // the pipe, once open
  bool negotiation_checked = false;  // the validation, where needed, is done
};

/// TREE_CONNECT to `tree_path` (`\\server\IPC$`), CREATE lsarpc and the BIND
/// to the LSA interface. Where the TREE_CONNECT answer says IPC$ wants
/// encryption and what went with it in clear was refused, that goes again,
/// encrypted (MS-SMB2 3.2.5.5).
Status OpenLsaPipe(Exchange* x, const std::u16string& tree_path);

/// One LSA call: `stub` in a REQUEST over the pipe, the reassembled reply
/// out. On a signed 3.0.x session the first call brings the negotiation's
/// validation with it (in its frame, or just before it on one credit),
/// checked before anything of the call's answer is used.
Status CallLsa(Exchange* x, uint32_t call_id, uint16_t opnum, const std::vector<uint8_t>& stub,
               RpcReply* reply);

}  // namespace net

#endif  // KESTRIN_NET_LSA_PIPE_H_
