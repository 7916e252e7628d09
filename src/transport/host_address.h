// SPDX-License-Identifier: Apache-2.0
// Telling an address from a name without asking a resolver.
#ifndef KESTRIN_TRANSPORT_HOST_ADDRESS_H_
#define KESTRIN_TRANSPORT_HOST_ADDRESS_H_

#include <string>

namespace net {

/// Whether `host` (as the query made it of what was typed) is an address rather than a
/// name: an IPv6 literal (it holds a ':'), or an IPv4 one in any of the
/// forms the resolvers take as such (digits and dots; "0x" hex parts).
/// Decided here and now, with no look-up: Kerberos has no principal for
/// an address.
bool HostIsAddress(const std::string& host);

}  // namespace net

#endif  // KESTRIN_TRANSPORT_HOST_ADDRESS_H_
