// What the two socket layers share: deadlines and trying a host's addresses
// in turn. Only socket_posix.cpp and socket_win32.cpp include this.
#ifndef KESTRIN_NET_SOCKET_COMMON_H_
#define KESTRIN_NET_SOCKET_COMMON_H_

#include <stdint.h>

#include "net/socket.h"
#include "net/status.h"

namespace net {

/// Milliseconds left until `deadline_ms`, 0 when past, capped to fit an int.
inline uint32_t RemainingMs(uint64_t deadline_ms) {
  uint64_t now = MonotonicMs();
  if (now >= deadline_ms) return 0;
  uint64_t left = deadline_ms - now;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(left);
}

/// How much a failed attempt says about the host: a refusal means the host
/// answered, a timeout that a route to it existed.
inline int Informativeness(TransportError e) {
  switch (e) {
    case kConnectRefused: return 4;
    case kConnectTimeout: return 3;
    case kUnreachable: return 2;
    default: return 1;
  }
}

/// Calls `attempt(address, attempt_deadline, &failure)` for each address in
/// the list until one returns true, giving each `connect_ms` and all of them
/// together until `deadline_ms`. When all fail, reports the most telling
/// failure (the first of equals); with no time for any attempt, a timeout.
template <typename Address, typename Attempt>
Status ConnectInTurn(const Address* first, uint32_t connect_ms, uint64_t deadline_ms,
                     Attempt attempt) {
  TransportError reported = kConnectTimeout;
  bool attempted = false;
  for (const Address* a = first; a != nullptr; a = a->ai_next) {
    uint64_t now = MonotonicMs();
    if (now >= deadline_ms) break;
    uint64_t attempt_deadline = now + connect_ms < deadline_ms ? now + connect_ms : deadline_ms;
    TransportError e = kSocketFailure;
    if (attempt(a, attempt_deadline, &e)) return OkStatus();
    if (!attempted || Informativeness(e) > Informativeness(reported)) reported = e;
    attempted = true;
  }
  return TransportFailure(reported);
}

}  // namespace net

#endif  // KESTRIN_NET_SOCKET_COMMON_H_
