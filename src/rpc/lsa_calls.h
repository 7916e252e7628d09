// SPDX-License-Identifier: Apache-2.0
// The lsarpc pipe: bound to the LSA interface, and the LSA calls the query
// makes over it (MS-LSAD 3.1.4.4.1, 3.1.4.4.4).
#ifndef KESTRIN_RPC_LSA_CALLS_H_
#define KESTRIN_RPC_LSA_CALLS_H_

#include <stdint.h>

#include <string>

#include "base/status.h"
#include "rpc/lsa.h"
#include "smb2/named_pipe.h"

namespace net {

/// Opens the lsarpc pipe of `tree_path` (`\\server\IPC$`), bound to LSA.
Status OpenLsaPipe(Exchange* x, const std::u16string& tree_path);

/// LsarOpenPolicy2 as call `call_id`: the policy handle.
Status CallOpenPolicy2(Exchange* x, uint32_t call_id, PolicyHandle* handle);

/// LsarQueryInformationPolicy at level 5 as call `call_id`: the account
/// domain.
Status CallQueryAccountDomain(Exchange* x, uint32_t call_id, const PolicyHandle& handle,
                              AccountDomain* out);

}  // namespace net

#endif  // KESTRIN_RPC_LSA_CALLS_H_
