#include "net/status.h"

namespace net {

uint32_t ToPlatformError(Status s) { return s.kind == StatusKind::kOk ? 0 : 58; }

}  // namespace net
