// SPDX-License-Identifier: Apache-2.0
// Reaching the server: port 445, else the NetBIOS session service on 139
// (called by name, then as "*SMBSERVER"), and the socket behind the
// exchange's Transport.
#include "query/connect.h"

#include "transport/netbios_session.h"

namespace net {
namespace {

Status SendOnSocket(void* context, const uint8_t* data, size_t size) {
  SocketLink* link = static_cast<SocketLink*>(context);
  uint32_t left = RemainingMs(WaitEnd(link->deadline, link->reply_ms));
  if (left == 0) return TransportFailure(kReplyTimeout);
  return SendAll(link->connection, data, size, left);
}

Status ReceiveOnSocket(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  SocketLink* link = static_cast<SocketLink*>(context);
  return ReceiveExact(link->connection, data, size, timeout_ms);
}

/// Whether a failure to connect means nothing answered on the port (rather
/// than that the name is unknown or our side failed).
bool NothingAnswered(Status s) {
  return s.kind == StatusKind::kTransport &&
         (s.code == kConnectRefused || s.code == kUnreachable || s.code == kConnectTimeout);
}

/// Connects to `port` on `host`, noted in `trace`.
Status ConnectTraced(const std::string& host, uint16_t port, const QueryLimits& limits,
                     uint64_t deadline, Connection* connection, Trace* trace) {
  uint64_t start = MonotonicMs();
  Status s = ConnectTcp(host, port, limits.connect_ms, deadline, connection, trace);
  TraceLine(trace, "connect %s port %u: %s %u ms", host.c_str(), static_cast<unsigned>(port),
            IsOk(s) ? "ok" : StatusReason(s), static_cast<unsigned>(MonotonicMs() - start));
  return s;
}

/// A NetBIOS session with `host` on port 139, called by its name as the
/// platform's client derives it; a server that does not go by that name is
/// called again as "*SMBSERVER", the name every server answers to.
Status OpenNetbiosSession(const std::string& host, const QueryLimits& limits, uint64_t deadline,
                          Connection* connection, Trace* trace) {
  std::string called = NetbiosCalledName(host);
  const std::string calling = NetbiosCallingName(LocalComputerName());
  for (;;) {
    Status s = ConnectTraced(host, kNetbiosSessionPort, limits, deadline, connection, trace);
    if (!IsOk(s)) return s;
    SocketLink link{connection, limits.reply_ms, deadline};
    Transport transport = SocketTransport(&link);
    uint8_t refusal = 0;
    s = RequestSession(&transport, called, calling, WaitEnd(deadline, limits.reply_ms), &refusal);
    TraceLine(trace, "NetBIOS session, called %s, calling %s: %s (refusal 0x%02X)", called.c_str(),
              calling.c_str(), IsOk(s) ? "ok" : StatusReason(s), refusal);
    if (IsOk(s)) return s;
    CloseConnection(connection);
    if (refusal != kCalledNameNotPresent || called == kAnyServerName) return s;
    called = kAnyServerName;
  }
}

}  // namespace

Transport SocketTransport(SocketLink* link) {
  return Transport{link, SendOnSocket, ReceiveOnSocket};
}

/// A connection for the exchange: to port 445, or, when nothing answers
/// there, a NetBIOS session on port 139 (never once a server has spoken on
/// 445). When 139 does not answer either, the failure on 445 stands.
Status ConnectToServer(const std::string& host, const QueryLimits& limits, uint64_t deadline,
                       Connection* connection, uint16_t* port, Trace* trace) {
  *port = 445;
  Status direct = ConnectTraced(host, 445, limits, deadline, connection, trace);
  if (!NothingAnswered(direct)) return direct;
  *port = kNetbiosSessionPort;
  Status session = OpenNetbiosSession(host, limits, deadline, connection, trace);
  return NothingAnswered(session) ? direct : session;
}

}  // namespace net
