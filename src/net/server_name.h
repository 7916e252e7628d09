// Turning the computer name a user typed into a host to connect to.
#ifndef KESTRIN_NET_SERVER_NAME_H_
#define KESTRIN_NET_SERVER_NAME_H_

#include <string>

namespace net {

/// The host for `server` as typed: a leading "\\" is dropped, an empty name
/// means this computer (the loopback address), brackets around an IPv6
/// literal are dropped; the rest is converted to UTF-8. False when the name
/// cannot be a host name (an unpaired surrogate, another "\", a "/", a
/// control character, more than 255 bytes).
bool ServerHost(const char16_t* server, std::string* host);

}  // namespace net

#endif  // KESTRIN_NET_SERVER_NAME_H_
