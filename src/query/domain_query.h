// SPDX-License-Identifier: Apache-2.0
// The account-domain query: from a computer's name to its account domain's
// name and SID, over SMB2, a session with the caller's credentials (or an
// anonymous one), the lsarpc pipe and two LSA calls.
#ifndef KESTRIN_QUERY_DOMAIN_QUERY_H_
#define KESTRIN_QUERY_DOMAIN_QUERY_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "auth/authenticator.h"
#include "transport/transport.h"
#include "base/status.h"
#include "base/trace.h"
#include "query/query_limits.h"
#include "rpc/lsa.h"

namespace net {

/// How the query went, for callers that report it.
struct QueryReport {
  LogonMechanism mechanism = LogonMechanism::kAnonymous;
  uint16_t dialect = 0;            // 0 before NEGOTIATE was answered
  bool signed_session = false;     // requests signed, answers verified
  bool encrypted_session = false;  // requests and answers encrypted at the end
  uint32_t round_trips = 0;        // frames sent
  uint16_t port = 0;               // the TCP port tried last: 445, or 139 after it
};

/// Asks `server` (as typed: optional leading "\\", empty for this computer)
/// for its account domain, logged on with the caller's credentials where the
/// platform has some for it, anonymously otherwise.
Status QueryAccountDomain(const char16_t* server, const QueryLimits& limits, AccountDomain* out,
                          QueryReport* report = nullptr);

/// The query proper over an established connection, logged on with `logon`
/// (anonymously when null), which it closes; its steps noted in `trace`.
Status RunDomainQuery(Transport* transport, Authenticator* logon, const QueryLimits& limits,
                      AccountDomain* out, QueryReport* report = nullptr, Trace* trace = nullptr);

}  // namespace net

#endif  // KESTRIN_QUERY_DOMAIN_QUERY_H_
