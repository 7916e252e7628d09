// The account-domain query: from a computer's name to its account domain's
// name and SID, over SMB2, an anonymous NTLMSSP session, the lsarpc pipe and
// two LSA calls.
#ifndef KESTRIN_NET_DOMAIN_QUERY_H_
#define KESTRIN_NET_DOMAIN_QUERY_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "net/status.h"

namespace net {

/// How long the query may wait on the network, in milliseconds.
struct QueryLimits {
  uint32_t connect_ms = 5000;  // one connection attempt, per address
  uint32_t reply_ms = 10000;   // one reply, from the request's last byte
  uint32_t total_ms = 19000;   // the whole query, whatever the above say
};

/// A SID as the server sent it, at most 15 sub-authorities.
struct DomainSid {
  uint8_t revision = 1;
  uint8_t sub_count = 0;
  uint8_t authority[6] = {};
  uint32_t sub[15] = {};
};

struct AccountDomain {
  std::u16string name;
  DomainSid sid;
};

/// Asks `server` (as typed: optional leading "\\", empty for this computer)
/// for its account domain.
Status QueryAccountDomain(const char16_t* server, const QueryLimits& limits,
                          AccountDomain* out);

/// Moves whole SMB2 frames; the query runs over this so that tests can feed
/// it recorded or hostile replies. Both calls block until done or failed.
struct Transport {
  void* context;
  /// Sends `size` bytes.
  Status (*send)(void* context, const uint8_t* data, size_t size);
  /// Receives exactly `size` bytes, waiting at most `timeout_ms`.
  Status (*receive)(void* context, uint8_t* data, size_t size, uint32_t timeout_ms);
};

/// The query proper over an established connection.
Status RunDomainQuery(Transport* transport, const QueryLimits& limits, AccountDomain* out);

}  // namespace net

#endif  // KESTRIN_NET_DOMAIN_QUERY_H_
