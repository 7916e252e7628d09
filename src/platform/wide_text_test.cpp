// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <limits.h>

#include <string>
#include <vector>

#include "platform/win32_api.h"

namespace {

constexpr WCHAR kCanary = 0xA5A5;

// Formats into a canary-filled buffer and checks the return value and the
// NUL against the text written.
template <typename... Args>
std::u16string Format(LPCWSTR format, Args... args) {
  std::vector<WCHAR> buffer(64, kCanary);
  int written = wsprintfW(buffer.data(), format, args...);
  std::u16string text(buffer.data());
  EXPECT_EQ(written, static_cast<int>(text.size()));
  EXPECT_EQ(buffer[text.size()], 0);
  return text;
}

TEST(WideText, UnsignedDecimal) {
  EXPECT_EQ(Format(u"%lu", (DWORD)0), u"0");
  EXPECT_EQ(Format(u"%lu", (DWORD)4294967295u), u"4294967295");
  EXPECT_EQ(Format(u"%u", 4294967295u), u"4294967295");
  EXPECT_EQ(Format(u"%u|%u", 7u, 1000000u), u"7|1000000");
  EXPECT_EQ(Format(u"%hu", 0x12345u), u"9029");  // truncated to 16 bits
}

TEST(WideText, SignedDecimal) {
  EXPECT_EQ(Format(u"%d", -1), u"-1");
  EXPECT_EQ(Format(u"%i", -305), u"-305");
  EXPECT_EQ(Format(u"%d", INT_MIN), u"-2147483648");
  EXPECT_EQ(Format(u"%d", INT_MAX), u"2147483647");
  EXPECT_EQ(Format(u"%ld", (LONG)-7), u"-7");
  EXPECT_EQ(Format(u"%hd", 0xFFFF), u"-1");
}

TEST(WideText, HexadecimalAndPadding) {
  EXPECT_EQ(Format(u"%x", 0xDEADBEEFu), u"deadbeef");
  EXPECT_EQ(Format(u"%X", 0xDEADBEEFu), u"DEADBEEF");
  EXPECT_EQ(Format(u"%x", 0u), u"0");
  // Bytes as the SID formatter passes them, and values that need truncating.
  EXPECT_EQ(Format(u"%02hx", (unsigned short)0x5), u"05");
  EXPECT_EQ(Format(u"%02hx", (unsigned short)0xAB), u"ab");
  EXPECT_EQ(Format(u"%02hx", 0x12345u), u"2345");
  EXPECT_EQ(Format(u"%02hx", 0x10000u), u"00");
  EXPECT_EQ(Format(u"%02hx%02hx", 0x1u, 0xFFu), u"01ff");
  EXPECT_EQ(Format(u"%08X", 0xBEEFu), u"0000BEEF");
}

TEST(WideText, WidthAndFlags) {
  EXPECT_EQ(Format(u"[%5d]", 42), u"[   42]");
  EXPECT_EQ(Format(u"[%5d]", -42), u"[  -42]");
  EXPECT_EQ(Format(u"[%05d]", -42), u"[-0042]");
  EXPECT_EQ(Format(u"[%-5d]", -42), u"[-42  ]");
  EXPECT_EQ(Format(u"[%-05u]", 42u), u"[42   ]");  // '-' wins over '0'
  EXPECT_EQ(Format(u"[%2d]", 12345), u"[12345]");  // width never cuts
  EXPECT_EQ(Format(u"[%3c]", (int)u'z'), u"[  z]");
}

TEST(WideText, TextCharactersAndLiterals) {
  EXPECT_EQ(Format(u"name: %s.", u"M\u00dcLLER"), u"name: M\u00dcLLER.");
  EXPECT_EQ(Format(u"[%6s]", u"ab"), u"[    ab]");
  EXPECT_EQ(Format(u"[%-6s]", u"ab"), u"[ab    ]");
  EXPECT_EQ(Format(u"%s", (LPCWSTR)NULL), u"(null)");
  EXPECT_EQ(Format(u"%s", u""), u"");
  EXPECT_EQ(Format(u"%c%c", (int)u'\u6771', (int)u'!'), u"\u6771!");
  EXPECT_EQ(Format(u"100%% sure"), u"100% sure");
  EXPECT_EQ(Format(u"S-1-"), u"S-1-");
  EXPECT_EQ(Format(u""), u"");
}

TEST(WideText, StopsAtTheLimitOf1024Units) {
  std::u16string long_text(2000, u'x');
  std::vector<WCHAR> buffer(1100, kCanary);
  EXPECT_EQ(wsprintfW(buffer.data(), u"%s", long_text.c_str()), 1023);
  EXPECT_EQ(buffer[1022], u'x');
  EXPECT_EQ(buffer[1023], 0);
  for (size_t i = 1024; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kCanary) << i;

  // Literal text and padding are held to the same limit.
  std::u16string long_format(1500, u'y');
  std::fill(buffer.begin(), buffer.end(), kCanary);
  EXPECT_EQ(wsprintfW(buffer.data(), long_format.c_str()), 1023);
  EXPECT_EQ(buffer[1023], 0);
  EXPECT_EQ(buffer[1024], kCanary);

  // A number that straddles the limit keeps its leading digits.
  std::u16string near_full = std::u16string(1020, u'y') + u"%d";
  std::fill(buffer.begin(), buffer.end(), kCanary);
  EXPECT_EQ(wsprintfW(buffer.data(), near_full.c_str(), 123456), 1023);
  EXPECT_EQ(std::u16string(buffer.data() + 1020), u"123");
  EXPECT_EQ(buffer[1024], kCanary);

  std::fill(buffer.begin(), buffer.end(), kCanary);
  EXPECT_EQ(wsprintfW(buffer.data(), u"%05000d", 1), 1023);
  EXPECT_EQ(buffer[1023], 0);
  EXPECT_EQ(buffer[1024], kCanary);
}

TEST(WideText, LengthOfWideText) {
  EXPECT_EQ(lstrlenW(NULL), 0);
  EXPECT_EQ(lstrlenW(u""), 0);
  EXPECT_EQ(lstrlenW(u"S-1-5"), 5);
  EXPECT_EQ(lstrlenW(u"A\U0001F600B"), 4);  // a surrogate pair counts as two units
}

}  // namespace
