// SPDX-License-Identifier: Apache-2.0
// Reaching the server, and the socket behind the exchange's Transport.
#ifndef KESTRIN_QUERY_CONNECT_H_
#define KESTRIN_QUERY_CONNECT_H_

#include <stdint.h>

#include <string>

#include "base/status.h"
#include "base/trace.h"
#include "query/query_limits.h"
#include "transport/socket.h"
#include "transport/transport.h"

namespace net {

/// The connection behind a Transport.
struct SocketLink {
  Connection* connection;
  uint32_t reply_ms;
  uint64_t deadline;
};

/// A Transport over `link`, which must outlive it: each send bounded by the
/// reply limit and the deadline.
Transport SocketTransport(SocketLink* link);

/// A connection for the exchange: to port 445, or, when nothing answers
/// there, a NetBIOS session on port 139 (never once a server has spoken on
/// 445); `*port` the one tried last. When 139 does not answer either, the
/// failure on 445 stands.
Status ConnectToServer(const std::string& host, const QueryLimits& limits, uint64_t deadline,
                       Connection* connection, uint16_t* port, Trace* trace);

}  // namespace net

#endif  // KESTRIN_QUERY_CONNECT_H_
