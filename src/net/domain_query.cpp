#include "net/domain_query.h"

namespace net {

Status QueryAccountDomain(const char16_t*, const QueryLimits&, AccountDomain*) {
  return TransportFailure(kSocketFailure);
}

}  // namespace net
