// SPDX-License-Identifier: Apache-2.0
// Turning the computer name a user typed into a host to connect to.
#ifndef KESTRIN_QUERY_SERVER_NAME_H_
#define KESTRIN_QUERY_SERVER_NAME_H_

#include <string>

namespace net {

/// The host for `server` as typed: a leading "\\" is dropped, an empty name
/// means this computer (the loopback address), brackets around an IPv6
/// literal are dropped; the rest is converted to UTF-8. False when the name
/// cannot be a host name (an unpaired surrogate, another "\", a "/", a
/// control character, brackets around anything but an IPv6 literal, more
/// than 255 bytes).
bool ServerHost(const char16_t* server, std::string* host);

/// The server part of a UNC path (`\\server\IPC$`) for `server` as typed
/// and the `host` ServerHost made of it: the name as typed, the host when
/// nothing was; an IPv6 literal in the form servers accept there, without
/// brackets or zone: `-` for `:`, `0` where it would begin or end with
/// `-`, an IPv4 tail as two groups, then `.ipv6-literal.net`
/// ("fe80::1%4" becomes "fe80--1s4.ipv6-literal.net"; a zone given by
/// number is kept as `s` and the number, one given by name is dropped).
std::u16string UncServerName(const char16_t* server, const std::string& host);

}  // namespace net

#endif  // KESTRIN_QUERY_SERVER_NAME_H_
