// SPDX-License-Identifier: Apache-2.0
// TCP connections with bounded waits, the clock and the system's randomness:
// the query's only contact with the operating system. socket_posix.cpp and
// socket_win32.cpp implement it.
#ifndef KESTRIN_TRANSPORT_SOCKET_H_
#define KESTRIN_TRANSPORT_SOCKET_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/clock.h"
#include "base/status.h"
#include "base/trace.h"

namespace net {

struct Connection {
  intptr_t handle = -1;
};

/// Resolves `host` (a DNS name or an IPv4/IPv6 literal, UTF-8) with the
/// system resolver (a literal without a thread or a look-up) and races
/// connections to `port` on its addresses (connect_race.h), giving each
/// attempt at most `connect_ms` and stopping at `deadline_ms` (MonotonicMs
/// time). The first connection made wins. The addresses and how each
/// attempt ended go to `trace` when there is one.
Status ConnectTcp(const std::string& host, uint16_t port, uint32_t connect_ms, uint64_t deadline_ms,
                  Connection* out, Trace* trace = nullptr);
/// Sends all `size` bytes, waiting at most `timeout_ms`.
Status SendAll(Connection* c, const uint8_t* data, size_t size, uint32_t timeout_ms);
/// Receives exactly `size` bytes, waiting at most `timeout_ms` in all.
Status ReceiveExact(Connection* c, uint8_t* data, size_t size, uint32_t timeout_ms);
/// Closes the connection (idempotent).
void CloseConnection(Connection* c);

/// This computer's name as the system gives it; empty when it has none.
std::string LocalComputerName();

/// Fills `out` from the operating system's random source.
bool FillRandom(uint8_t* out, size_t size);

}  // namespace net

#endif  // KESTRIN_TRANSPORT_SOCKET_H_
