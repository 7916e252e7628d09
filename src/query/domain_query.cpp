// SPDX-License-Identifier: Apache-2.0
// The account-domain query: NEGOTIATE, the logon (anonymous: two
// SESSION_SETUP legs; Kerberos one; NTLM two), the lsarpc pipe opened with
// TREE_CONNECT + CREATE + IOCTL(BIND) (rpc/lsa_calls.h), then one IOCTL per LSA
// call. Six round trips anonymously, five with Kerberos; on a server that
// grants one credit at a time, two more. The connection is simply closed
// at the end: the server needs no teardown.
#include "query/domain_query.h"

#include <string>
#include <vector>

#include "rpc/lsa_calls.h"
#include "query/connect.h"
#include "auth/authenticator.h"
#include "query/server_name.h"
#include "smb2/smb2.h"
#include "smb2/smb2_connection.h"
#include "smb2/smb2_session.h"
#include "transport/socket.h"

namespace net {
namespace {

/// The longest server name we put into the tree path.
constexpr size_t kMaxServerUnits = 255;
constexpr uint32_t kOpenPolicyCallId = 2;
constexpr uint32_t kQueryCallId = 3;

// MS-LSAD 3.1.4.4.1 and 3.1.4.4.4: open the policy, ask for level 5.
Status QueryPolicy(Exchange* x, AccountDomain* out) {
  PolicyHandle handle;
  Status s = CallOpenPolicy2(x, kOpenPolicyCallId, &handle);
  if (!IsOk(s)) return s;
  return CallQueryAccountDomain(x, kQueryCallId, handle, out);
}

/// The whole exchange with `logon` (which it closes), keys wiped at the end.
Status RunQuery(Transport* transport, Authenticator* logon, const std::u16string& tree_path,
                uint32_t reply_ms, uint64_t deadline, AccountDomain* out, QueryReport* report,
                Trace* trace) {
  Exchange x;
  x.connection.trace = trace;
  x.connection.transport = transport;
  x.connection.reply_ms = reply_ms;
  x.connection.deadline = deadline;
  Status s = SetUpSession(&x.connection, logon, &x.session);
  CloseLogon(logon);
  if (IsOk(s)) s = OpenLsaPipe(&x, tree_path);
  AccountDomain domain;
  if (IsOk(s)) s = QueryPolicy(&x, &domain);
  if (IsOk(s)) *out = domain;
  if (report != nullptr) {
    report->mechanism = x.session.mechanism;
    report->dialect = x.session.negotiated.dialect;
    report->signed_session = x.connection.signing;
    report->encrypted_session = x.connection.encrypt;
    report->round_trips = x.connection.frames_sent;
  }
  WipeSigningKey(&x.connection.signing_key);
  WipeCipherKeys(&x.connection.cipher_keys);
  return s;
}

/// `\\server\IPC$`, naming the server as typed (the host when nothing was;
/// an IPv6 literal in its ipv6-literal.net form). Servers do not check the
/// name; it only has to be well formed.
std::u16string TreePath(const char16_t* server, const std::string& host) {
  return u"\\\\" + UncServerName(server, host) + u"\\IPC$";
}

}  // namespace

Status RunDomainQuery(Transport* transport, Authenticator* logon, const QueryLimits& limits,
                      AccountDomain* out, QueryReport* report, Trace* trace) {
  Authenticator anonymous;
  if (logon == nullptr) {
    Status s = OpenAnonymousLogon(&anonymous);
    if (!IsOk(s)) return s;
    logon = &anonymous;
  }
  return RunQuery(transport, logon, u"\\\\127.0.0.1\\IPC$", limits.reply_ms,
                  MonotonicMs() + limits.total_ms, out, report, trace);
}

namespace {

/// The query proper, with what it does noted in `trace`.
Status QueryTraced(const char16_t* server, const QueryLimits& limits, AccountDomain* out,
                   QueryReport* report, Trace* trace) {
  uint64_t deadline = MonotonicMs() + limits.total_ms;
  std::string host;
  if (server == nullptr || !ServerHost(server, &host)) return TransportFailure(kResolveFailed);
  std::u16string tree_path = TreePath(server, host);
  if (tree_path.size() > kMaxServerUnits + 7) return TransportFailure(kResolveFailed);
  TraceLine(trace, "host %s", host.c_str());

  Connection connection;
  uint16_t port = 0;
  Status s = ConnectToServer(host, limits, deadline, &connection, &port, trace);
  if (report != nullptr) report->port = port;
  Authenticator logon;
  // The caller's own logon; its first step decides whether a credential
  // applies, or the query goes on anonymously.
  if (IsOk(s)) s = OpenCallerLogon(host, &logon, trace);
  if (IsOk(s)) {
    SocketLink link{&connection, limits.reply_ms, deadline};
    Transport transport = SocketTransport(&link);
    s = RunQuery(&transport, &logon, tree_path, limits.reply_ms, deadline, out, report, trace);
  }
  CloseLogon(&logon);
  CloseConnection(&connection);
  return s;
}

}  // namespace

Status QueryAccountDomain(const char16_t* server, const QueryLimits& limits, AccountDomain* out,
                          QueryReport* report) {
  Trace trace;
  OpenTrace(&trace);
  Status s = QueryTraced(server, limits, out, report, &trace);
  TraceLine(&trace, "status %u: %s", static_cast<unsigned>(ToPlatformError(s)), StatusReason(s));
  CloseTrace(&trace);
  return s;
}

}  // namespace net
