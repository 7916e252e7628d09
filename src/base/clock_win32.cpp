// SPDX-License-Identifier: Apache-2.0
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "base/clock.h"

namespace net {

uint64_t MonotonicMs() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
      !QueryPerformanceCounter(&counter)) {
    return GetTickCount();  // only without a performance counter (before XP)
  }
  uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
  uint64_t c = static_cast<uint64_t>(counter.QuadPart);
  return c / f * 1000 + c % f * 1000 / f;  // split so that c * 1000 cannot overflow
}

}  // namespace net
