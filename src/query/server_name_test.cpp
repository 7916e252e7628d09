// SPDX-License-Identifier: Apache-2.0
#include "query/server_name.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

namespace {

std::string HostOf(const char16_t* server) {
  std::string host = "unchanged";
  EXPECT_TRUE(net::ServerHost(server, &host)) << "refused";
  return host;
}

bool Refused(const std::u16string& server) {
  std::string host = "unchanged";
  bool ok = net::ServerHost(server.c_str(), &host);
  EXPECT_TRUE(ok || host.empty()) << "a refusal leaves no host";
  return !ok;
}

TEST(ServerHostTest, PrefixAndThisComputer) {
  EXPECT_EQ(HostOf(u"\\\\sales"), "sales");
  EXPECT_EQ(HostOf(u"sales"), "sales");
  EXPECT_EQ(HostOf(u""), "127.0.0.1");
  EXPECT_EQ(HostOf(u"\\\\"), "127.0.0.1");
  EXPECT_EQ(HostOf(nullptr), "127.0.0.1");
  // A lone or a third backslash is not a UNC prefix.
  EXPECT_TRUE(Refused(u"\\sales"));
  EXPECT_TRUE(Refused(u"\\\\\\sales"));
  EXPECT_TRUE(Refused(u"\\\\sales\\ipc$"));
  EXPECT_TRUE(Refused(u"sales/x"));
}

TEST(ServerHostTest, AddressLiterals) {
  EXPECT_EQ(HostOf(u"\\\\[::1]"), "::1");
  EXPECT_EQ(HostOf(u"::1"), "::1");
  EXPECT_EQ(HostOf(u"[fe80::1%lo]"), "fe80::1%lo");
  EXPECT_EQ(HostOf(u"127.0.0.1"), "127.0.0.1");
  // Brackets hold an IPv6 literal and nothing else.
  const char16_t* not_v6[] = {u"[]", u"[127.0.0.1]", u"\\\\[127.0.0.1]", u"[sales]", u"[ ]"};
  for (size_t i = 0; i < sizeof not_v6 / sizeof not_v6[0]; ++i) {
    EXPECT_TRUE(Refused(not_v6[i])) << i;
  }
  // Unmatched brackets are left for the resolver to refuse.
  EXPECT_EQ(HostOf(u"[::1"), "[::1");
  EXPECT_EQ(HostOf(u"[sales"), "[sales");
}

TEST(ServerHostTest, Utf16ToUtf8) {
  EXPECT_EQ(HostOf(u"M\u00fcller"), "M\xc3\xbcller");
  EXPECT_EQ(HostOf(u"\u6771\u4eac"), "\xe6\x9d\xb1\xe4\xba\xac");
  EXPECT_EQ(HostOf(u"A\U0001F600B"),
            "A\xf0\x9f\x98\x80"
            "B");
  EXPECT_TRUE(Refused(u"a\xD800"));             // high surrogate at the end
  EXPECT_TRUE(Refused(u"a\xD800x"));            // high surrogate before a letter
  EXPECT_TRUE(Refused(u"\xDC00x"));             // low surrogate alone
  EXPECT_TRUE(Refused(u"\xDBFF\xD800\xDC00"));  // high, then a whole pair
}

// A surrogate pair is a high surrogate (U+D800 to U+DBFF), then a low one
// (U+DC00 to U+DFFF); any other surrogate, in either place, is unpaired.
// Every surrogate first, before the units at the low range's edges, and
// every unit second, after those at the high range's edges.
TEST(ServerHostTest, OnlyAHighThenALowSurrogateIsAPair) {
  auto paired = [](char16_t first, char16_t second) {
    return first >= 0xD800 && first < 0xDC00 && second >= 0xDC00 && second < 0xE000;
  };
  auto check = [&](char16_t first, char16_t second) {
    const char16_t name[] = {first, second, 0};
    std::string host;
    bool taken = net::ServerHost(name, &host);
    bool surrogate_alone =
        (first >= 0xD800 && first < 0xE000) || (second >= 0xD800 && second < 0xE000);
    ASSERT_EQ(taken, paired(first, second) || !surrogate_alone) << int(first) << " " << int(second);
    if (paired(first, second)) {
      ASSERT_EQ(host.size(), 4u);
    }
  };
  const char16_t edges[] = {0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, u'x'};
  for (uint32_t first = 0xD800; first < 0xE000; ++first) {
    for (char16_t second : edges) {
      check(static_cast<char16_t>(first), second);
    }
  }
  for (uint32_t second = 0xD7FF; second <= 0xE000; ++second) {
    for (char16_t first : edges) {
      check(first, static_cast<char16_t>(second));
    }
  }
}

TEST(ServerHostTest, ControlCharacters) {
  EXPECT_TRUE(Refused(u"sa\tles"));
  EXPECT_TRUE(Refused(u"sales\r\n"));
  EXPECT_TRUE(Refused(u"sales\x7f"));
  EXPECT_TRUE(Refused(u"sales\x85"));
}

TEST(ServerHostTest, LengthLimitCountsUtf8Bytes) {
  EXPECT_EQ(HostOf(std::u16string(255, u'a').c_str()), std::string(255, 'a'));
  EXPECT_TRUE(Refused(std::u16string(256, u'a')));
  EXPECT_TRUE(Refused(u"\\\\" + std::u16string(256, u'a')));
  // Brackets do not count; what is inside them does.
  EXPECT_EQ(HostOf((u"[fe80::1%" + std::u16string(247, u'a') + u"]").c_str()).size(), 255u);
  EXPECT_TRUE(Refused(u"[fe80::1%" + std::u16string(248, u'a') + u"]"));
  // 127 two-byte letters are 254 bytes, 128 are 256.
  EXPECT_EQ(HostOf(std::u16string(127, u'\u00fc').c_str()).size(), 254u);
  EXPECT_TRUE(Refused(std::u16string(128, u'\u00fc')));
  // A very long name is refused without reading it all.
  EXPECT_TRUE(Refused(std::u16string(100000, u'a')));
}

}  // namespace

namespace {

std::u16string Unc(const char16_t* server) {
  std::string host;
  EXPECT_TRUE(net::ServerHost(server, &host));
  return net::UncServerName(server, host);
}

// Names and IPv4 addresses go as typed; an IPv6 literal, with or without
// brackets, in the ipv6-literal.net form: a label with no ':', '[' or '%'.
TEST(UncServerNameTest, Ipv6LiteralsTakeTheLiteralNetForm) {
  EXPECT_EQ(Unc(u"\\\\SALES"), u"SALES");
  EXPECT_EQ(Unc(u"M\u00fcller"), u"M\u00fcller");
  EXPECT_EQ(Unc(u"192.0.2.10"), u"192.0.2.10");
  EXPECT_EQ(Unc(u""), u"127.0.0.1");
  EXPECT_EQ(Unc(u"::1"), u"0--1.ipv6-literal.net");
  EXPECT_EQ(Unc(u"\\\\[::1]"), u"0--1.ipv6-literal.net");
  EXPECT_EQ(Unc(u"2001:db8::10"), u"2001-db8--10.ipv6-literal.net");
  EXPECT_EQ(Unc(u"fe80::"), u"fe80--0.ipv6-literal.net");
  EXPECT_EQ(Unc(u"::"), u"0--0.ipv6-literal.net");
  EXPECT_EQ(Unc(u"FE80::1%4"), u"FE80--1s4.ipv6-literal.net");
  EXPECT_EQ(Unc(u"[fe80::1%eth0]"), u"fe80--1.ipv6-literal.net");
  EXPECT_EQ(Unc(u"::ffff:192.0.2.1"), u"0--ffff-c000-201.ipv6-literal.net");
  EXPECT_EQ(Unc(u"64:ff9b::255.255.255.255"), u"64-ff9b--ffff-ffff.ipv6-literal.net");
  // Not an address: left as it was for the resolver to refuse.
  EXPECT_EQ(Unc(u"::1.2.3.256"), u"0--1.2.3.256.ipv6-literal.net");
}

// A dotted tail with anything but digits between its dots is no IPv4
// address and stays as typed: every printable character that is not a
// digit, in place of an octet, after one and before one. (':' and '%'
// end the tail, '/' and '\\' are no name.)
TEST(UncServerNameTest, ADottedTailWithANonDigitStaysAsTyped) {
  for (char16_t c = 0x20; c < 0x7F; ++c) {
    if ((c >= u'0' && c <= u'9') || c == u'.' || c == u':' || c == u'%' || c == u'/' ||
        c == u'\\') {
      continue;
    }
    const std::u16string tails[] = {u"1.2.3." + std::u16string(1, c),
                                    u"1.2.3.4" + std::u16string(1, c),
                                    std::u16string(1, c) + u"1.2.3.4"};
    for (const std::u16string& tail : tails) {
      std::u16string name = Unc((u"::ffff:" + tail).c_str());
      EXPECT_NE(name.find(tail), std::u16string::npos) << int(c);
    }
  }
}

}  // namespace
