// SPDX-License-Identifier: Apache-2.0
// Name lookups on Windows, bounded by a deadline. The Unicode resolver,
// GetAddrInfoW (XP SP2), is looked up at run time and used when present;
// without it names are ASCII and addresses IPv4 only. Every call linked to
// exists on Windows 2000 (5.0).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "transport/name_lookup_win32.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <new>

#include "transport/socket_common.h"

namespace net {
namespace {

/// Hints for a stream connection to any address family.
ADDRINFOW StreamHints(int flags) {
  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  return hints;
}

// GetAddrInfoW and FreeAddrInfoW, for the loader to find at run time.
typedef int(WSAAPI* UnicodeResolve)(PCWSTR, PCWSTR, const ADDRINFOW*, PADDRINFOW*);
typedef void(WSAAPI* UnicodeFree)(PADDRINFOW);

/// Looks a procedure of ws2_32 up by name; null when this Windows lacks it.
template <typename Procedure>
Procedure Ws2Procedure(const char* name) {
  HMODULE ws2 = GetModuleHandleW(L"ws2_32.dll");  // linked in, so loaded
  FARPROC found = ws2 != nullptr ? GetProcAddress(ws2, name) : nullptr;
  // By way of the generic function type, which any other converts to.
  return reinterpret_cast<Procedure>(reinterpret_cast<void (*)()>(found));
}

// Windows 2000 has no getaddrinfo, only the IPv4 gethostbyname and
// inet_addr. Their addresses are laid out as the Unicode resolver's list, so
// that both reach the connection race alike.
struct Ipv4Entry {
  ADDRINFOW info;  // first: the list's head is the array it belongs to
  sockaddr_in address;
};

const size_t kMaxIpv4Addresses = 16;  // more would not be tried before the deadline

/// A list of the `count` addresses at `addresses` (network order) and
/// `port`; 0, or an error of the resolver's kind.
int NewIpv4List(const in_addr* addresses, size_t count, uint16_t port, ADDRINFOW** out) {
  Ipv4Entry* entries = new (std::nothrow) Ipv4Entry[count]();
  if (entries == nullptr) return WSA_NOT_ENOUGH_MEMORY;
  for (size_t i = 0; i < count; ++i) {
    entries[i].address.sin_family = AF_INET;
    entries[i].address.sin_port = htons(port);
    entries[i].address.sin_addr = addresses[i];
    entries[i].info.ai_family = AF_INET;
    entries[i].info.ai_socktype = SOCK_STREAM;
    entries[i].info.ai_protocol = IPPROTO_TCP;
    entries[i].info.ai_addrlen = sizeof entries[i].address;
    entries[i].info.ai_addr = reinterpret_cast<sockaddr*>(&entries[i].address);
    entries[i].info.ai_next = i + 1 < count ? &entries[i + 1].info : nullptr;
  }
  *out = &entries[0].info;
  return 0;
}

void DeleteIpv4List(ADDRINFOW* list) { delete[] reinterpret_cast<Ipv4Entry*>(list); }

/// The list for `host` when it is a dotted IPv4 address, the only literal
/// Windows 2000 knows. Digits and dots only: inet_addr there also takes ""
/// (as 0.0.0.0).
int Ipv4Literal(const char* host, uint16_t port, ADDRINFOW** out) {
  if (host[0] == '\0' || strspn(host, "0123456789.") != strlen(host)) return WSAHOST_NOT_FOUND;
  in_addr address;
  address.s_addr = inet_addr(host);
  if (address.s_addr == INADDR_NONE) return WSAHOST_NOT_FOUND;  // also 255.255.255.255
  return NewIpv4List(&address, 1, port, out);
}

/// Resolves the ASCII name `host` to its IPv4 addresses, at most
/// kMaxIpv4Addresses of them. Blocks for as long as the resolver takes.
int LookupIpv4(const char* host, uint16_t port, ADDRINFOW** out) {
  const hostent* h = gethostbyname(host);  // its result belongs to this thread
  if (h == nullptr) return WSAGetLastError();
  if (h->h_addrtype != AF_INET || h->h_length != sizeof(in_addr) || h->h_addr_list == nullptr) {
    return WSANO_DATA;
  }
  in_addr addresses[kMaxIpv4Addresses];
  size_t count = 0;
  for (; count < kMaxIpv4Addresses && h->h_addr_list[count] != nullptr; ++count) {
    memcpy(&addresses[count], h->h_addr_list[count], sizeof(in_addr));
  }
  if (count == 0) return WSANO_DATA;
  return NewIpv4List(addresses, count, port, out);
}

}  // namespace

// A lookup that outlives its caller: the resolver's own timeouts can add up
// to tens of seconds, longer than a query may wait, so the lookup runs on a
// thread and the caller stops waiting at its deadline. Whichever side lets go
// last frees the result.
//
// With GetAddrInfoW (XP SP2 and later) names are Unicode and addresses IPv4
// or IPv6; without it, the lookup above: ASCII names and IPv4 only.
struct Lookup {
  volatile LONG references;
  UnicodeResolve get_addr_info;  // both null: the IPv4 lookup
  UnicodeFree free_addr_info;
  wchar_t wide_host[512];
  wchar_t wide_port[8];
  char host[512];
  uint16_t port;
  int error;
  ADDRINFOW* result;
};

void ReleaseLookup(Lookup* lookup) {
  if (InterlockedDecrement(&lookup->references) != 0) return;
  if (lookup->result != nullptr) {
    if (lookup->free_addr_info != nullptr) {
      lookup->free_addr_info(lookup->result);
    } else {
      DeleteIpv4List(lookup->result);
    }
  }
  delete lookup;
}

namespace {

/// Fills in the host and the port for the resolver this Windows has; false
/// when the host cannot be handed to it.
bool PrepareLookup(const std::string& host, uint16_t port, Lookup* lookup) {
  lookup->get_addr_info = Ws2Procedure<UnicodeResolve>("GetAddrInfoW");
  lookup->free_addr_info = Ws2Procedure<UnicodeFree>("FreeAddrInfoW");
  if (lookup->get_addr_info != nullptr && lookup->free_addr_info != nullptr) {
    int units = MultiByteToWideChar(CP_UTF8, 0, host.c_str(), -1, lookup->wide_host, 512);
    _snwprintf(lookup->wide_port, 8, L"%u", static_cast<unsigned>(port));
    return units > 0;
  }
  lookup->get_addr_info = nullptr;
  lookup->free_addr_info = nullptr;
  // gethostbyname reads names in the ANSI code page, which need not be
  // UTF-8, and has no IDN support: a non-ASCII name cannot be looked up
  // faithfully, so it fails as a name that does not resolve.
  for (unsigned char c : host) {
    if (c >= 0x80) return false;
  }
  if (host.size() >= sizeof lookup->host) return false;
  memcpy(lookup->host, host.c_str(), host.size() + 1);
  lookup->port = port;
  return true;
}

/// Resolves the host as an address literal, without waiting on anything.
int LookupLiteral(Lookup* lookup) {
  if (lookup->get_addr_info == nullptr)
    return Ipv4Literal(lookup->host, lookup->port, &lookup->result);
  ADDRINFOW hints = StreamHints(AI_NUMERICHOST);
  return lookup->get_addr_info(lookup->wide_host, lookup->wide_port, &hints, &lookup->result);
}

DWORD WINAPI RunLookup(void* argument) {
  Lookup* lookup = static_cast<Lookup*>(argument);
  if (lookup->get_addr_info == nullptr) {
    lookup->error = LookupIpv4(lookup->host, lookup->port, &lookup->result);
  } else {
    ADDRINFOW hints = StreamHints(0);
    lookup->error =
        lookup->get_addr_info(lookup->wide_host, lookup->wide_port, &hints, &lookup->result);
  }
  if (lookup->error != 0) lookup->result = nullptr;
  ReleaseLookup(lookup);
  return 0;
}

/// Looks `lookup->host` up on a thread, waiting until `deadline_ms`: a
/// timeout when it did not finish in time, kNoResources when it could not
/// start. A lookup still running at the deadline is left to itself: the
/// process can end while it runs.
Status LookupName(Lookup* lookup, uint64_t deadline_ms) {
  InterlockedIncrement(&lookup->references);
  HANDLE worker = CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr);
  if (worker == nullptr) {
    InterlockedDecrement(&lookup->references);
    return TransportFailure(kNoResources);
  }
  bool done = WaitForSingleObject(worker, RemainingMs(deadline_ms)) == WAIT_OBJECT_0;
  CloseHandle(worker);  // when not done, the thread runs on and frees its share
  return done ? OkStatus() : TransportFailure(kResolveFailed);
}

}  // namespace

Status Resolve(const std::string& host, uint16_t port, uint64_t deadline_ms, Lookup** out) {
  Lookup* lookup = new (std::nothrow) Lookup();
  if (lookup == nullptr) return TransportFailure(kNoResources);
  lookup->references = 1;
  if (!PrepareLookup(host, port, lookup)) {
    ReleaseLookup(lookup);
    return TransportFailure(kResolveFailed);
  }
  int error = LookupLiteral(lookup);
  if (error != 0) {  // not an address literal
    lookup->result = nullptr;
    Status looked_up = LookupName(lookup, deadline_ms);
    if (!IsOk(looked_up)) {
      ReleaseLookup(lookup);
      return looked_up;
    }
    error = lookup->error;
  }
  if (error != 0 || lookup->result == nullptr) {
    ReleaseLookup(lookup);
    bool resolver = error == 0 || error == EAI_NONAME || error == EAI_AGAIN || error == EAI_FAIL ||
                    error == WSANO_DATA;
    if (error == WSA_NOT_ENOUGH_MEMORY || error == WSAENOBUFS)
      return TransportFailure(kNoResources);
    return TransportFailure(resolver ? kResolveFailed : kSocketFailure);
  }
  *out = lookup;
  return OkStatus();
}

const ADDRINFOW* LookupAddresses(const Lookup* lookup) { return lookup->result; }

}  // namespace net
