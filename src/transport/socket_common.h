// SPDX-License-Identifier: Apache-2.0
// What the two socket layers share: deadlines, the order of a host's
// addresses for the connection race, and which failures mean what. Only
// socket_posix.cpp and socket_win32.cpp include this.
//
// Both layers sort the system's error numbers into the same situations:
//   connecting: refused, or reset or aborted by the host   kConnectRefused
//               host or network unreachable or down, an
//               address family or address this computer
//               cannot use, a link-local address without
//               a zone (no interface to send it from)       kUnreachable
//               timed out                                  kConnectTimeout
//   connected:  reset, aborted, shut down, timed out, or
//               the route lost: the connection is gone     kClosed
//   either:     no memory, buffers or descriptors here     kNoResources
//               anything else                              kSocketFailure
#ifndef KESTRIN_TRANSPORT_SOCKET_COMMON_H_
#define KESTRIN_TRANSPORT_SOCKET_COMMON_H_

#include <stddef.h>
#include <stdint.h>

#include "transport/connect_race.h"
#include "transport/socket.h"
#include "base/status.h"

namespace net {

/// The addresses of the resolver's list `first` (addrinfo or ADDRINFOW) in
/// the order the race tries them, at most kMaxRaceAddresses; their count.
template <typename Address>
size_t RaceOrder(const Address* first, const Address** ordered) {
  const Address* found[kMaxRaceAddresses];
  int families[kMaxRaceAddresses];
  size_t count = 0;
  for (const Address* a = first; a != nullptr && count < kMaxRaceAddresses; a = a->ai_next) {
    found[count] = a;
    families[count] = a->ai_family;
    ++count;
  }
  size_t order[kMaxRaceAddresses];
  InterleaveFamilies(families, count, order);
  for (size_t i = 0; i < count; ++i) ordered[i] = found[order[i]];
  return count;
}

/// Whether the resolver's address `a` (addrinfo or ADDRINFOW) is an IPv6
/// link-local address (fe80::/10) without a zone: no interface to send it
/// from, so it cannot be reached as given. `V6` is the system's
/// sockaddr_in6, `inet6` its AF_INET6.
template <typename V6, typename Address>
bool IsLinkLocalWithoutZone(const Address* a, int inet6) {
  if (a->ai_family != inet6 || a->ai_addrlen < sizeof(V6)) return false;
  const V6* v6 = reinterpret_cast<const V6*>(a->ai_addr);
  const uint8_t* bytes = v6->sin6_addr.s6_addr;
  return bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80 && v6->sin6_scope_id == 0;
}

/// The race's clock: the layer's monotonic one.
inline uint64_t RaceClock(void*) { return MonotonicMs(); }

}  // namespace net

#endif  // KESTRIN_TRANSPORT_SOCKET_COMMON_H_
