// SPDX-License-Identifier: Apache-2.0
#include "sid_text.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

namespace {

/// Wide text as the platform has it: wchar_t on Windows, char16_t elsewhere.
typedef std::basic_string<WCHAR> WideText;

constexpr DWORD kMarker = 0xC0FFEE;
constexpr WCHAR kCanaryUnit = 0xA5A5;

// A SID record of exactly 8 + 4n bytes, so that ASan sees any read past its
// last sub-authority.
struct SidRecord {
  std::vector<DWORD> words;
  PSID get() { return words.data(); }
};

SidRecord MakeSid(const BYTE (&authority)[6], const std::vector<DWORD>& subs, BYTE revision = 1,
                  int count = -1) {
  SidRecord sid;
  sid.words.assign(2 + subs.size(), 0);
  BYTE* bytes = reinterpret_cast<BYTE*>(sid.words.data());
  bytes[0] = revision;
  bytes[1] = static_cast<BYTE>(count < 0 ? subs.size() : count);
  memcpy(bytes + 2, authority, 6);
  for (size_t i = 0; i < subs.size(); ++i) sid.words[2 + i] = subs[i];
  return sid;
}

const BYTE kNt[6] = {0, 0, 0, 0, 0, 5};

WideText Wide(const std::string& ascii) { return WideText(ascii.begin(), ascii.end()); }

// Formats into a generous buffer; "<fail>" when the call returns 0.
WideText Format(PSID sid, DWORD* length_out = nullptr) {
  std::vector<WCHAR> buffer(512, kCanaryUnit);
  DWORD length = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
  BOOL ok = FormatSidText(sid, buffer.data(), &length);
  if (length_out != nullptr) *length_out = length;
  return ok ? WideText(buffer.data()) : TEXT("<fail>");
}

TEST(SidText, RendersKnownIdentifiers) {
  const BYTE zero[6] = {0, 0, 0, 0, 0, 0};
  const BYTE hex[6] = {0, 1, 0, 0, 0, 0};
  const BYTE high_hex[6] = {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45};
  const BYTE max_decimal[6] = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  const BYTE mixed[6] = {0, 0, 0x12, 0x34, 0x56, 0x78};

  EXPECT_EQ(Format(MakeSid(kNt, {}).get()), TEXT("S-1-5"));
  EXPECT_EQ(Format(MakeSid(zero, {}).get()), TEXT("S-1-0"));
  EXPECT_EQ(Format(MakeSid(kNt, {21, 100, 200, 300}).get()), TEXT("S-1-5-21-100-200-300"));
  EXPECT_EQ(Format(MakeSid(hex, {}).get()), TEXT("S-1-0x000100000000"));
  EXPECT_EQ(Format(MakeSid(high_hex, {7}).get()), TEXT("S-1-0xabcdef012345-7"));
  EXPECT_EQ(Format(MakeSid(max_decimal, {}).get()), TEXT("S-1-4294967295"));
  EXPECT_EQ(Format(MakeSid(mixed, {}).get()), TEXT("S-1-305419896"));
  EXPECT_EQ(Format(MakeSid(kNt, {4294967295u, 0}).get()), TEXT("S-1-5-4294967295-0"));
}

TEST(SidText, AlwaysPrintsRevisionOneAndFifteenSubAuthoritiesFit) {
  // Only revision 1 is valid, so the printed revision is the constant.
  std::vector<DWORD> subs(15, 4294967295u);
  SidRecord sid = MakeSid(kNt, subs);
  DWORD length = 0;
  EXPECT_EQ(FormatSidText(sid.get(), NULL, &length), FALSE);
  EXPECT_EQ(length, 416u);

  std::vector<WCHAR> buffer(208, kCanaryUnit);
  EXPECT_EQ(FormatSidText(sid.get(), buffer.data(), &length), TRUE);
  std::string expected = "S-1-5";
  for (int i = 0; i < 15; ++i) expected += "-4294967295";
  EXPECT_EQ(WideText(buffer.data()), Wide(expected));
}

TEST(SidText, SizeQueryReportsRequiredSizeAndError122) {
  const struct {
    size_t count;
    DWORD bytes;
  } cases[] = {{0, 56}, {1, 80}, {4, 152}, {15, 416}};
  for (const auto& c : cases) {
    SidRecord sid = MakeSid(kNt, std::vector<DWORD>(c.count, 1));
    DWORD length = 0;
    SetLastError(kMarker);
    EXPECT_EQ(FormatSidText(sid.get(), NULL, &length), FALSE);
    EXPECT_EQ(length, c.bytes) << c.count;
    EXPECT_EQ(GetLastError(), 122u);
  }
}

TEST(SidText, LengthAtBoundaries) {
  SidRecord sid = MakeSid(kNt, {21, 100, 200, 300});
  std::vector<WCHAR> buffer(200, kCanaryUnit);

  // One byte short: same as a size query, and the buffer stays untouched.
  DWORD length = 151;
  SetLastError(kMarker);
  EXPECT_EQ(FormatSidText(sid.get(), buffer.data(), &length), FALSE);
  EXPECT_EQ(length, 152u);
  EXPECT_EQ(GetLastError(), 122u);
  for (WCHAR unit : buffer) ASSERT_EQ(unit, kCanaryUnit);

  // Length 0 with a buffer.
  length = 0;
  EXPECT_EQ(FormatSidText(sid.get(), buffer.data(), &length), FALSE);
  EXPECT_EQ(length, 152u);
  for (WCHAR unit : buffer) ASSERT_EQ(unit, kCanaryUnit);

  // Exact and larger lengths succeed, leave the length and the last error alone.
  for (DWORD given : {152u, 153u, 400u}) {
    length = given;
    SetLastError(kMarker);
    EXPECT_EQ(FormatSidText(sid.get(), buffer.data(), &length), TRUE);
    EXPECT_EQ(length, given);
    // The formatter sets nothing here, but Windows' own sub-authority
    // accessors reset the value to 0 on success.
    DWORD error = GetLastError();
    EXPECT_TRUE(error == kMarker || error == ERROR_SUCCESS) << error;
    EXPECT_EQ(WideText(buffer.data()), TEXT("S-1-5-21-100-200-300"));
  }
}

TEST(SidText, NullBufferWithLargeLengthIsASizeQuery) {
  SidRecord sid = MakeSid(kNt, {21});
  DWORD length = 1000;
  SetLastError(kMarker);
  EXPECT_EQ(FormatSidText(sid.get(), NULL, &length), FALSE);
  EXPECT_EQ(length, 80u);
  EXPECT_EQ(GetLastError(), 122u);
}

TEST(SidText, InvalidIdentifierChangesNothing) {
  SidRecord revision2 = MakeSid(kNt, {1}, 2);
  SidRecord revision0 = MakeSid(kNt, {}, 0);
  SidRecord count16 = MakeSid(kNt, std::vector<DWORD>(16, 1));
  PSID invalid[] = {revision2.get(), revision0.get(), count16.get(), NULL};
  for (PSID sid : invalid) {
    for (bool with_buffer : {false, true}) {
      std::vector<WCHAR> buffer(300, kCanaryUnit);
      for (DWORD given : {0u, 10u, 600u}) {
        DWORD length = given;
        SetLastError(kMarker);
        EXPECT_EQ(FormatSidText(sid, with_buffer ? buffer.data() : NULL, &length), FALSE);
        EXPECT_EQ(length, given);
        EXPECT_EQ(GetLastError(), kMarker);
      }
      for (WCHAR unit : buffer) ASSERT_EQ(unit, kCanaryUnit);
    }
  }
}

// An independent rendering of the text, from the record's raw bytes.
std::string Reference(const BYTE (&authority)[6], const std::vector<DWORD>& subs) {
  std::string text = "S-1-";
  if (authority[0] != 0 || authority[1] != 0) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%02x%02x%02x%02x%02x%02x", authority[0], authority[1],
             authority[2], authority[3], authority[4], authority[5]);
    text += hex;
  } else {
    uint64_t value = 0;
    for (int i = 2; i < 6; ++i) value = value * 256 + authority[i];
    text += std::to_string(value);
  }
  for (DWORD s : subs) text += "-" + std::to_string(static_cast<unsigned long long>(s));
  return text;
}

DWORD RandomValue(std::mt19937* rng) {
  switch ((*rng)() % 4) {
    case 0: return 0;
    case 1: return 0xFFFFFFFFu;
    case 2: return (*rng)() % 1000;
    default: return static_cast<DWORD>((*rng)());
  }
}

void RandomAuthority(std::mt19937* rng, BYTE (&authority)[6]) {
  DWORD form = (*rng)() % 4;
  for (BYTE& b : authority) {
    if (form == 0)
      b = 0;
    else if (form == 1)
      b = 0xFF;
    else
      b = static_cast<BYTE>((*rng)());
  }
  // Half the authorities take the decimal form.
  if ((*rng)() % 2 == 0) authority[0] = authority[1] = 0;
}

// Calls the formatter with `length` on a buffer guarded past `length` bytes and
// checks that it wrote only inside `length`, only on success, and the right text.
void CheckOneLength(PSID sid, DWORD length, DWORD required, const WideText& expected) {
  constexpr size_t kGuard = 16;
  std::vector<WCHAR> storage((length + kGuard) / 2 + 1, kCanaryUnit);
  BYTE* bytes = reinterpret_cast<BYTE*>(storage.data());
  const size_t total = storage.size() * sizeof(WCHAR);
  const BYTE canary = static_cast<BYTE>(kCanaryUnit);

  DWORD in_out = length;
  BOOL ok = FormatSidText(sid, storage.data(), &in_out);
  ASSERT_EQ(ok, length >= required ? TRUE : FALSE) << length;
  ASSERT_EQ(in_out, ok ? length : required);
  for (size_t i = ok ? length : 0; i < total; ++i)
    ASSERT_EQ(bytes[i], canary) << length << " " << i;
  if (ok) {
    ASSERT_EQ(WideText(storage.data()), expected);
  }
}

TEST(SidText, RandomIdentifiersStayInsideTheBufferAndMatchAReference) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 1500; ++round) {
    BYTE authority[6];
    RandomAuthority(&rng, authority);
    std::vector<DWORD> subs(rng() % 16);
    for (DWORD& s : subs) s = RandomValue(&rng);
    SidRecord sid = MakeSid(authority, subs);
    const DWORD required = 24 * static_cast<DWORD>(subs.size()) + 56;
    const WideText expected = Wide(Reference(authority, subs));
    ASSERT_LE((expected.size() + 1) * 2, required);

    for (DWORD length = 0; length <= required + 2; ++length) {
      CheckOneLength(sid.get(), length, required, expected);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
