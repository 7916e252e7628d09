// SPDX-License-Identifier: Apache-2.0
#include "base/ntstatus.h"

#include <stdio.h>

#include "base/status.h"

namespace net {

const char* NtStatusName(uint32_t status, char (&buffer)[16]) {
  switch (status) {
    case kStatusSuccess: return "STATUS_SUCCESS";
    case kStatusPending: return "STATUS_PENDING";
    case kStatusBufferOverflow: return "STATUS_BUFFER_OVERFLOW";
    default: break;
  }
  size_t count = 0;
  const PlatformErrorRow* table = PlatformErrorTable(&count);
  for (size_t i = 0; i < count; ++i) {
    if (table[i].kind == StatusKind::kNtStatus && table[i].code == status) return table[i].name;
  }
  snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(status));
  return buffer;
}

}  // namespace net
