// SPDX-License-Identifier: Apache-2.0
// Byte helpers for the protocol tests: golden hex and exact-size copies.
#ifndef KESTRIN_TESTING_TEST_BYTES_H_
#define KESTRIN_TESTING_TEST_BYTES_H_

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

/// How far apart the bits flipped by a sweep over one message are.
/// libgcrypt's Windows build gathers entropy from a score of system calls
/// at every handle it opens, which Wine makes slow: there every 3rd bit
/// (every byte still gets two or three), natively every one.
#ifdef _WIN32
constexpr size_t kBitFlipStride = 3;
#else
constexpr size_t kBitFlipStride = 1;
#endif

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/// A CHALLENGE_MESSAGE as a standalone server sends it (flags 0xA28A8205,
/// target "TESTBOX", AV pairs with names and a timestamp): 134 bytes.
inline constexpr char kNtlmChallengeHex[] =
    "4E 54 4C 4D 53 53 50 00 02 00 00 00 0E 00 0E 00 38 00 00 00 05 82 8A A2"
    "01 23 45 67 89 AB CD EF 00 00 00 00 00 00 00 00 40 00 40 00 46 00 00 00"
    "0A 00 61 4A 00 00 00 0F 54 00 45 00 53 00 54 00 42 00 4F 00 58 00 02 00"
    "0E 00 54 00 45 00 53 00 54 00 42 00 4F 00 58 00 01 00 0E 00 54 00 45 00"
    "53 00 54 00 42 00 4F 00 58 00 04 00 00 00 03 00 04 00 74 00 62 00 07 00"
    "08 00 00 A1 B2 C3 D4 E5 F6 01 00 00 00 00";

}  // namespace net

#endif  // KESTRIN_TESTING_TEST_BYTES_H_
