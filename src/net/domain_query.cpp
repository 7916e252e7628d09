// The account-domain query: NEGOTIATE, the logon (anonymous: two
// SESSION_SETUP legs; Kerberos one; NTLM two), the lsarpc pipe opened with
// TREE_CONNECT + CREATE + IOCTL(BIND) (lsa_pipe.h), then one IOCTL per LSA
// call. Six round trips anonymously, five with Kerberos; on a server that
// grants one credit at a time, two more. The connection is simply closed
// at the end: the server needs no teardown.
#include "net/domain_query.h"

#include <string>
#include <vector>

#include "net/dcerpc.h"
#include "net/lsa.h"
#include "net/lsa_pipe.h"
#include "net/server_name.h"
#include "net/smb2.h"
#include "net/smb2_connection.h"
#include "net/smb2_session.h"
#include "net/socket.h"

namespace net {
namespace {

/// The longest server name we put into the tree path.
constexpr size_t kMaxServerUnits = 255;
constexpr uint32_t kOpenPolicyCallId = 2;
constexpr uint32_t kQueryCallId = 3;

// MS-LSAD 3.1.4.4.1 and 3.1.4.4.4: open the policy, ask for level 5.
Status QueryPolicy(Exchange* x, AccountDomain* out) {
  std::vector<uint8_t> stub;
  EncodeOpenPolicy2(&stub);
  RpcReply open;
  Status s = CallLsa(x, kOpenPolicyCallId, kLsarOpenPolicy2, stub, &open);
  if (!IsOk(s)) return s;
  PolicyHandle handle;
  s = DecodeOpenPolicy2(open.stub.data(), open.stub.size(), &handle);
  if (!IsOk(s)) return s;

  stub.clear();
  EncodeQueryAccountDomain(handle, &stub);
  RpcReply query;
  s = CallLsa(x, kQueryCallId, kLsarQueryInformationPolicy, stub, &query);
  if (!IsOk(s)) return s;
  return DecodeAccountDomain(query.stub.data(), query.stub.size(), out);
}

/// The whole exchange with `logon` (which it closes), keys wiped at the end.
Status RunQuery(Transport* transport, Authenticator* logon, const std::u16string& tree_path,
                uint32_t reply_ms, uint64_t deadline, AccountDomain* out, QueryReport* report) {
  Exchange x;
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

/// The connection behind a Transport.
struct SocketLink {
  Connection* connection;
  uint32_t reply_ms;
  uint64_t deadline;
};

Status SendOnSocket(void* context, const uint8_t* data, size_t size) {
  SocketLink* link = static_cast<SocketLink*>(context);
  uint64_t now = MonotonicMs();
  if (now >= link->deadline) return TransportFailure(kReplyTimeout);
  uint64_t left = link->deadline - now;
  return SendAll(link->connection, data, size,
                 left < link->reply_ms ? static_cast<uint32_t>(left) : link->reply_ms);
}

Status ReceiveOnSocket(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  SocketLink* link = static_cast<SocketLink*>(context);
  return ReceiveExact(link->connection, data, size, timeout_ms);
}

/// The logon to use: the caller's own, or anonymous when the platform has
/// no mechanism at all.
Status OpenLogon(const std::string& host, Authenticator* logon) {
  Status s = OpenCallerLogon(host, logon);
  if (IsSecurity(s, kNoCredential)) {
    CloseLogon(logon);
    s = OpenAnonymousLogon(logon);
  }
  return s;
}

}  // namespace

Status RunDomainQuery(Transport* transport, Authenticator* logon, const QueryLimits& limits,
                      AccountDomain* out, QueryReport* report) {
  Authenticator anonymous;
  if (logon == nullptr) {
    Status s = OpenAnonymousLogon(&anonymous);
    if (!IsOk(s)) return s;
    logon = &anonymous;
  }
  return RunQuery(transport, logon, u"\\\\127.0.0.1\\IPC$", limits.reply_ms,
                  MonotonicMs() + limits.total_ms, out, report);
}

Status QueryAccountDomain(const char16_t* server, const QueryLimits& limits, AccountDomain* out,
                          QueryReport* report) {
  uint64_t deadline = MonotonicMs() + limits.total_ms;
  std::string host;
  if (server == nullptr || !ServerHost(server, &host)) return TransportFailure(kResolveFailed);
  std::u16string tree_path = TreePath(server, host);
  if (tree_path.size() > kMaxServerUnits + 7) return TransportFailure(kResolveFailed);

  Connection connection;
  Status s = ConnectTcp(host, 445, limits.connect_ms, deadline, &connection);
  Authenticator logon;
  if (IsOk(s)) s = OpenLogon(host, &logon);
  if (IsOk(s)) {
    SocketLink link{&connection, limits.reply_ms, deadline};
    Transport transport{&link, SendOnSocket, ReceiveOnSocket};
    s = RunQuery(&transport, &logon, tree_path, limits.reply_ms, deadline, out, report);
  }
  CloseLogon(&logon);
  CloseConnection(&connection);
  return s;
}

}  // namespace net
