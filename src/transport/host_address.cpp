// SPDX-License-Identifier: Apache-2.0
#include "transport/host_address.h"

namespace net {

bool HostIsAddress(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;
  if (host.empty() || host.find_first_not_of("0123456789.xXabcdefABCDEF") != std::string::npos) {
    return false;
  }
  // Each dotted part a number: decimal, octal, or hex after "0x".
  size_t start = 0;
  for (;;) {
    size_t end = host.find('.', start);
    std::string part = host.substr(start, end == std::string::npos ? end : end - start);
    bool hex = part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X');
    const char* digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (part.empty() || part.find_first_not_of(digits, hex ? 2 : 0) != std::string::npos) {
      return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace net
