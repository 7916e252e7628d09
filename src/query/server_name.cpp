// SPDX-License-Identifier: Apache-2.0
#include "query/server_name.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "base/utf.h"

namespace net {
namespace {

// The longest DNS name; anything longer cannot resolve.
constexpr size_t kMaxHostBytes = 255;

bool AllDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

/// "a.b.c.d" as two hexadecimal groups ("c000-201" for 192.0.2.1); the text
/// unchanged when it is no dotted quad.
std::string IpV4AsGroups(const std::string& text) {
  unsigned octets[4] = {};
  size_t part = 0, digits = 0;
  for (char c : text) {
    if (c == '.' && digits > 0 && part < 3) {
      ++part;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 3) {
      octets[part] = octets[part] * 10 + static_cast<unsigned>(c - '0');
      ++digits;
    } else {
      return text;
    }
  }
  if (part != 3 || digits == 0) return text;
  for (unsigned octet : octets) {
    if (octet > 255) return text;
  }
  char groups[16];
  snprintf(groups, sizeof groups, "%x-%x", octets[0] << 8 | octets[1], octets[2] << 8 | octets[3]);
  return groups;
}

// The ipv6-literal.net name of an IPv6 literal (zone, if any, after '%').
std::string Ipv6LiteralName(const std::string& literal) {
  size_t percent = literal.find('%');
  std::string address = literal.substr(0, percent);
  std::string zone = percent == std::string::npos ? "" : literal.substr(percent + 1);
  size_t last = address.rfind(':');
  if (address.find('.', last) != std::string::npos) {
    address = address.substr(0, last + 1) + IpV4AsGroups(address.substr(last + 1));
  }
  for (char& c : address) c = c == ':' ? '-' : c;
  if (address.empty()) return literal;  // no address: the resolver refuses it
  if (address.front() == '-') address = "0" + address;
  if (address.back() == '-') address += "0";
  if (AllDigits(zone)) address += "s" + zone;
  return address + ".ipv6-literal.net";
}

}  // namespace

bool ServerHost(const char16_t* server, std::string* host) {
  host->clear();
  if (server == nullptr) server = u"";
  // Only the UNC prefix "\\" is dropped; a lone "\" or a third one stays
  // and is refused below with every other backslash.
  if (server[0] == u'\\' && server[1] == u'\\') server += 2;

  // Check before converting: an unpaired surrogate has no UTF-8 form, and a
  // separator or control character cannot be part of a host name. Four
  // UTF-16 units per byte of the limit is more than any name that fits.
  size_t units = 0;
  for (; server[units] != 0; ++units) {
    char16_t c = server[units];
    if (c >= 0xD800 && c < 0xDC00 && server[units + 1] >= 0xDC00 && server[units + 1] < 0xE000) {
      ++units;
    } else if ((c >= 0xD800 && c < 0xE000) || IsControlCharacter(c) || c == u'\\' || c == u'/') {
      return false;
    }
    if (units > 4 * kMaxHostBytes) return false;
  }
  std::string text = Utf16ToUtf8(server, units);

  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    // Brackets hold an IPv6 literal only; a DNS name or an IPv4 address
    // never holds a colon, so "[192.0.2.1]", "[sales]" and "[]" name nothing.
    text = text.substr(1, text.size() - 2);
    if (text.find(':') == std::string::npos) return false;
  } else if (text.empty()) {
    text = "127.0.0.1";  // this computer
  }
  if (text.size() > kMaxHostBytes) return false;
  *host = text;
  return true;
}

std::u16string UncServerName(const char16_t* server, const std::string& host) {
  // A DNS name or an IPv4 address never holds a colon.
  if (host.find(':') != std::string::npos) {
    std::string name = Ipv6LiteralName(host);
    return Utf8ToUtf16(name.data(), name.size());
  }
  if (server != nullptr && server[0] == u'\\' && server[1] == u'\\') server += 2;
  std::u16string name(server != nullptr ? server : u"");
  if (name.empty()) name.assign(host.begin(), host.end());  // the loopback literal
  return name;
}

}  // namespace net
