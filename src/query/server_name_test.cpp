// SPDX-License-Identifier: Apache-2.0
#include "query/server_name.h"

#include <gtest/gtest.h>

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

}  // namespace
