// Byte helpers for the protocol tests: golden hex and exact-size copies.
#ifndef KESTRIN_NET_TEST_BYTES_H_
#define KESTRIN_NET_TEST_BYTES_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace net {

/// Bytes from hex pairs; spaces and newlines between pairs are ignored.
inline std::vector<uint8_t> Hex(const char* text) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::vector<uint8_t> out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (nibble(*p) < 0) continue;
    out.push_back(static_cast<uint8_t>(nibble(p[0]) << 4 | nibble(p[1])));
    ++p;
  }
  return out;
}

/// The first `n` bytes in a block of their own, so that a sanitizer sees a
/// read one past them.
inline std::vector<uint8_t> Prefix(const std::vector<uint8_t>& v, size_t n) {
  return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<ptrdiff_t>(n));
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace net

#endif  // KESTRIN_NET_TEST_BYTES_H_
