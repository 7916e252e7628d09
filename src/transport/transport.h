// SPDX-License-Identifier: Apache-2.0
// The seam between the protocols and the connection under them.
#ifndef KESTRIN_TRANSPORT_TRANSPORT_H_
#define KESTRIN_TRANSPORT_TRANSPORT_H_

#include <stddef.h>
#include <stdint.h>

#include "base/status.h"

namespace net {

/// Moves whole frames (SMB2, or the NetBIOS session's packets), and gives
/// the randomness that goes into them; the query runs over this so that
/// tests can feed it recorded or hostile replies. Both transfer calls block until done or failed.
struct Transport {
  void* context;
  /// Sends `size` bytes.
  Status (*send)(void* context, const uint8_t* data, size_t size);
  /// Receives exactly `size` bytes, waiting at most `timeout_ms`.
  Status (*receive)(void* context, uint8_t* data, size_t size, uint32_t timeout_ms);
  /// Fills `out` with random bytes; null: the operating system's.
  bool (*random)(void* context, uint8_t* out, size_t size) = nullptr;
};

}  // namespace net

#endif  // KESTRIN_TRANSPORT_TRANSPORT_H_
