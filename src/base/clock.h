// SPDX-License-Identifier: Apache-2.0
// The monotonic clock and the query's deadline arithmetic. clock_posix.cpp
// and clock_win32.cpp implement MonotonicMs.
#ifndef KESTRIN_BASE_CLOCK_H_
#define KESTRIN_BASE_CLOCK_H_

#include <stdint.h>

namespace net {

/// Milliseconds from a monotonic clock.
uint64_t MonotonicMs();

// The query has one deadline, a MonotonicMs time; every wait is given an
// end no later than it, and what is left of it in milliseconds.

/// Milliseconds left until `until`, 0 when past, capped to fit an int.
inline uint32_t RemainingMs(uint64_t until) {
  uint64_t now = MonotonicMs();
  if (now >= until) return 0;
  uint64_t left = until - now;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(left);
}

/// The end of a wait that may take `limit_ms` from now, but never past
/// `deadline`.
inline uint64_t WaitEnd(uint64_t deadline, uint32_t limit_ms) {
  uint64_t now = MonotonicMs();
  if (now >= deadline) return now;
  return deadline - now < limit_ms ? deadline : now + limit_ms;
}

}  // namespace net

#endif  // KESTRIN_BASE_CLOCK_H_
