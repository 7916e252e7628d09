// SPDX-License-Identifier: Apache-2.0
#include "base/utf.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <locale.h>

#include <string>

#include "platform/win32_api.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string ToUtf8(const std::u16string& text) { return Utf16ToUtf8(text.data(), text.size()); }
std::u16string ToUtf16(const std::string& text) { return Utf8ToUtf16(text.data(), text.size()); }

TEST(Utf, WellFormedTextRoundTrips) {
  const struct {
    std::u16string wide;
    std::string narrow;
  } cases[] = {
      {u"", ""},
      {u"WORKGROUP", "WORKGROUP"},
      {u"M\u00dcLLER", "M\xC3\x9CLLER"},
      {u"\u6771\u4eac", "\xE6\x9D\xB1\xE4\xBA\xAC"},
      {u"A\U0001F600B",
       "A\xF0\x9F\x98\x80"
       "B"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUtf8(c.wide), c.narrow);
    EXPECT_EQ(ToUtf16(c.narrow), c.wide);
  }
}

TEST(Utf, UnpairedSurrogatesBecomeReplacement) {
  const std::string r = kReplacement;
  EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD83D')), r);                            // high at the end
  EXPECT_EQ(ToUtf8(u"A" + std::u16string(1, u'\xD83D') + u"B"), "A" + r + "B");  // high, no low
  EXPECT_EQ(ToUtf8(u"A" + std::u16string(1, u'\xDE00') + u"B"), "A" + r + "B");  // lone low
  // Low before high is two unpaired units, not a pair.
  EXPECT_EQ(ToUtf8(std::u16string{u'\xDE00', u'\xD83D'}), r + r);
}

TEST(Utf, IllFormedBytesBecomeOneReplacementEach) {
  const std::u16string r = u"\uFFFD";
  EXPECT_EQ(ToUtf16("\xFF"), r);
  EXPECT_EQ(ToUtf16("a\x80z"), u"a" + r + u"z");  // lone continuation
  EXPECT_EQ(ToUtf16("\xC0\x80"), r + r);          // overlong NUL
  EXPECT_EQ(ToUtf16("\xE0\x80\xAF"), r + r + r);  // overlong '/'
  EXPECT_EQ(ToUtf16("\xE6\x9D"), r + r);          // truncated at the end
  EXPECT_EQ(ToUtf16("\xE6\x9D"
                    "A"),
            r + r + u"A");  // cut short by ASCII
  EXPECT_EQ(ToUtf16("\xF0\x9F\x98"), r + r + r);
  EXPECT_EQ(ToUtf16("\xED\xA0\x80"), r + r + r);          // an encoded surrogate
  EXPECT_EQ(ToUtf16("\xF4\x90\x80\x80"), r + r + r + r);  // past U+10FFFF
  EXPECT_EQ(ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

// Runs ConsolePrintf through `print` and returns what reached standard output.
template <typename Print>
std::string Captured(Print print) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

TEST(Console, WideTextIsWrittenAsUtf8WhateverTheLocale) {
  setlocale(LC_ALL, "C");
  EXPECT_EQ(Captured([] { printf("Returned domain name: %S\n", u"M\u00dcLLER-\u6771\u4eac"); }),
            "Returned domain name: M\xC3\x9CLLER-\xE6\x9D\xB1\xE4\xBA\xAC\n");
  EXPECT_EQ(Captured([] { printf("[%ls]", u"A\U0001F600B"); }),
            "[A\xF0\x9F\x98\x80"
            "B]");
  EXPECT_EQ(Captured([] { printf("%S", std::u16string(1, u'\xDC00').c_str()); }), kReplacement);
  EXPECT_EQ(Captured([] { printf("%S|%s", (const WCHAR*)NULL, "x"); }), "(null)|x");
}

TEST(Console, NumbersAndPercent) {
  EXPECT_EQ(Captured([] { printf("Kestrin resulted in return code %d.\n", -1073741790); }),
            "Kestrin resulted in return code -1073741790.\n");
  EXPECT_EQ(Captured([] { printf("%d %d %d", -1, INT_MIN, 0); }), "-1 -2147483648 0");
  EXPECT_EQ(Captured([] { printf("[%5d|%-4d|%03u]", -42, 7, 5u); }), "[  -42|7   |005]");
  EXPECT_EQ(Captured([] { printf("100%% %c", 'x'); }), "100% x");
  // One 'l' takes the platform's 32-bit LONG and DWORD; "ll" and 'z' take 64 bits.
  EXPECT_EQ(Captured([] { printf("%lu %ld", (DWORD)4294967295u, (LONG)-5); }), "4294967295 -5");
  EXPECT_EQ(Captured([] { printf("%zu %lld", (size_t)1 << 40, -(1LL << 40)); }),
            "1099511627776 -1099511627776");
}

TEST(Console, ReturnsTheBytesWritten) {
  int written = 0;
  EXPECT_EQ(Captured([&] { written = printf("%S!", u"\u00dc"); }), "\xC3\x9C!");
  EXPECT_EQ(written, 3);
}

}  // namespace
