// SPDX-License-Identifier: Apache-2.0
#include <time.h>

#include "base/clock.h"

namespace net {

uint64_t MonotonicMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

}  // namespace net
