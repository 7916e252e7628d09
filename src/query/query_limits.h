// SPDX-License-Identifier: Apache-2.0
#ifndef KESTRIN_QUERY_QUERY_LIMITS_H_
#define KESTRIN_QUERY_QUERY_LIMITS_H_

#include <stdint.h>

namespace net {

/// How long the query may wait on the network, in milliseconds.
struct QueryLimits {
  uint32_t connect_ms = 5000;  // one connection attempt, per address
  uint32_t reply_ms = 10000;   // one reply, from the request's last byte
  uint32_t total_ms = 19000;   // the whole query, whatever the above say
};

}  // namespace net

#endif  // KESTRIN_QUERY_QUERY_LIMITS_H_
