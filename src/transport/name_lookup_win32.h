// SPDX-License-Identifier: Apache-2.0
// Looking a host up on Windows, bounded by a deadline, for the socket layer
// (socket_win32.cpp; name_lookup_win32.cpp implements it).
#ifndef KESTRIN_TRANSPORT_NAME_LOOKUP_WIN32_H_
#define KESTRIN_TRANSPORT_NAME_LOOKUP_WIN32_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdint.h>

#include <string>

#include "base/status.h"

namespace net {

/// A host's addresses, shared with the thread that looked them up.
struct Lookup;

/// Resolves `host` (UTF-8) for TCP `port`: an address literal at once,
/// without a thread; a name on a worker thread, waited for until
/// `deadline_ms` (MonotonicMs time). A lookup still running then is left to
/// itself and frees what it finds; the process can end meanwhile. The
/// caller releases `*out` with ReleaseLookup.
Status Resolve(const std::string& host, uint16_t port, uint64_t deadline_ms, Lookup** out);

/// The addresses found, in the resolver's order.
const ADDRINFOW* LookupAddresses(const Lookup* lookup);

/// Lets go of the caller's share of `lookup`.
void ReleaseLookup(Lookup* lookup);

}  // namespace net

#endif  // KESTRIN_TRANSPORT_NAME_LOOKUP_WIN32_H_
