// SPDX-License-Identifier: Apache-2.0
// Connecting to a host with several addresses the way RFC 8305 ("Happy
// Eyeballs" version 2) describes: the addresses in the resolver's order with
// the families interleaved, a new attempt every 250 ms (at once when the one
// before has failed), the first connection made wins and the rest are closed.
// The logic only; each socket layer supplies the operating system's side,
// and tests a fake one with a clock of their own.
#ifndef KESTRIN_TRANSPORT_CONNECT_RACE_H_
#define KESTRIN_TRANSPORT_CONNECT_RACE_H_

#include <stddef.h>
#include <stdint.h>

#include "base/status.h"
#include "base/trace.h"

namespace net {

/// At most this many addresses of one host take part; any more are dropped.
/// (A wait on Windows watches at most 64 sockets.)
constexpr size_t kMaxRaceAddresses = 32;
/// RFC 8305 section 5: the recommended Connection Attempt Delay.
constexpr uint32_t kAttemptStaggerMs = 250;

/// What became of an attempt that was started or waited on.
enum class AttemptResult : uint8_t {
  kConnecting,  // still under way
  kConnected,
  kFailed,  // see the TransportError beside it
};

/// An attempt that finished while the race waited.
struct RaceEvent {
  size_t index = 0;  // of the address
  AttemptResult result = AttemptResult::kConnecting;
  TransportError failure = kSocketFailure;  // when kFailed
};

/// The operating system's side of a race, over addresses 0 .. count-1.
struct RaceSockets {
  void* context;
  /// Starts connecting to address `index`, without waiting.
  AttemptResult (*start)(void* context, size_t index, TransportError* failure);
  /// Waits up to `timeout_ms` for one of the attempts in `indexes` to finish:
  /// 1 and `*event`, 0 when none did in time, -1 when waiting itself failed
  /// (its reason in `event->failure`).
  int (*wait)(void* context, const size_t* indexes, size_t count, uint32_t timeout_ms,
              RaceEvent* event);
  /// Gives up attempt `index` and frees its socket.
  void (*close)(void* context, size_t index);
  /// Milliseconds of a monotonic clock.
  uint64_t (*now)(void* context);
  /// Where the race notes its addresses and each attempt's end (optional),
  /// and the address `index` as text for it ("[::1]:445", "10.0.0.1:445").
  Trace* trace = nullptr;
  void (*describe)(void* context, size_t index, char* text, size_t size) = nullptr;
};

struct RaceLimits {
  uint32_t attempt_ms = 5000;  // one attempt, from its start
  uint64_t deadline_ms = 0;    // the whole race, on the `now` clock
  uint32_t stagger_ms = kAttemptStaggerMs;
};

/// The order to try addresses in (RFC 8305 section 4, First Address Family
/// Count 1): the resolver's first address, then one of another family, and
/// so on alternately, each family in the resolver's order; when one family
/// runs out the rest follow as they came. `families[i]` is the i-th
/// address's family; `order` receives `count` indexes.
void InterleaveFamilies(const int* families, size_t count, size_t* order);

/// Races connections to addresses 0 .. `count`-1 in that order. On success
/// `*winner` is the address whose connection stands; every other attempt has
/// been closed. When all fail, the most telling failure (a refusal, then a
/// timeout, then an unreachable host, then the rest; the earliest address
/// among equals); with no time for any attempt, a timeout.
Status RaceConnections(const RaceSockets& sockets, size_t count, const RaceLimits& limits,
                       size_t* winner);

}  // namespace net

#endif  // KESTRIN_TRANSPORT_CONNECT_RACE_H_
