// The socket layer over Winsock 2, select and the system's random source.
// Runs on Windows 2000 (5.0) and later: every call it links to exists there.
// The Unicode resolver, GetAddrInfoW (XP SP2), is looked up at run time and
// used when present; without it names are ASCII and addresses IPv4 only.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>
#include <string.h>

#include <new>

#include "net/socket.h"
#include "net/socket_common.h"

namespace net {
namespace {

bool StartWinsock() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

/// Winsock is started once per process and left running until it ends.
bool WinsockReady() {
  static const bool ready = StartWinsock();
  return ready;
}

/// Waits until `s` can be read (or written) or has failed, until
/// `deadline_ms`: 1 ready, 0 timed out, -1 failed.
int WaitFor(SOCKET s, bool write, uint64_t deadline_ms) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);  // a failed connect shows here, not as writable
  uint32_t ms = RemainingMs(deadline_ms);
  timeval wait = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
  return n > 0 ? 1 : n == 0 ? 0 : -1;
}

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
// that both reach ConnectOne alike.
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

void Release(Lookup* lookup) {
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
  if (lookup->get_addr_info == nullptr) return Ipv4Literal(lookup->host, lookup->port, &lookup->result);
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
  Release(lookup);
  return 0;
}

/// Looks `lookup->host` up on a thread, waiting until `deadline_ms`; false
/// when it did not finish in time or could not start.
bool LookupName(Lookup* lookup, uint64_t deadline_ms) {
  InterlockedIncrement(&lookup->references);
  HANDLE worker = CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr);
  if (worker == nullptr) {
    InterlockedDecrement(&lookup->references);
    return false;
  }
  bool done = WaitForSingleObject(worker, RemainingMs(deadline_ms)) == WAIT_OBJECT_0;
  CloseHandle(worker);  // when not done, the thread runs on and frees its share
  return done;
}

/// Resolves `host`: an address literal at once, a name on a worker thread.
/// The caller releases `*out`.
Status Resolve(const std::string& host, uint16_t port, uint64_t deadline_ms, Lookup** out) {
  Lookup* lookup = new (std::nothrow) Lookup();
  if (lookup == nullptr) return TransportFailure(kSocketFailure);
  lookup->references = 1;
  if (!PrepareLookup(host, port, lookup)) {
    Release(lookup);
    return TransportFailure(kResolveFailed);
  }
  int error = LookupLiteral(lookup);
  if (error != 0) {  // not an address literal
    lookup->result = nullptr;
    if (!LookupName(lookup, deadline_ms)) {
      Release(lookup);
      return TransportFailure(kResolveFailed);
    }
    error = lookup->error;
  }
  if (error != 0 || lookup->result == nullptr) {
    Release(lookup);
    bool resolver = error == 0 || error == EAI_NONAME || error == EAI_AGAIN ||
                    error == EAI_FAIL || error == WSANO_DATA;
    return TransportFailure(resolver ? kResolveFailed : kSocketFailure);
  }
  *out = lookup;
  return OkStatus();
}

TransportError ConnectErrorKind(int error) {
  switch (error) {
    case WSAECONNREFUSED: return kConnectRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
    case WSAENETDOWN: return kUnreachable;
    case WSAETIMEDOUT: return kConnectTimeout;
    default: return kSocketFailure;
  }
}

/// One connection attempt: the connected socket, or INVALID_SOCKET and the
/// reason.
SOCKET ConnectOne(const ADDRINFOW* a, uint64_t attempt_deadline, TransportError* failure) {
  *failure = kSocketFailure;
  SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  // Programs this process starts must not inherit the connection.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long non_blocking = 1;
  int error = 0;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    error = WSAGetLastError();
  } else if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      int ready = WaitFor(s, true, attempt_deadline);
      int size = sizeof error;
      if (ready == 0) {
        error = WSAETIMEDOUT;
      } else if (ready < 0) {
        error = WSAGetLastError();
      } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
        error = WSAGetLastError();
      }
    }
  }
  if (error != 0) {
    closesocket(s);
    *failure = ConnectErrorKind(error);
    return INVALID_SOCKET;
  }
  BOOL on = TRUE;  // a failure only costs latency
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // Urgent data would otherwise show as an exception in every wait while
  // recv says "would block": a server could make the waits spin.
  setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on);
  return s;
}

/// Whether `error` means the peer went away rather than the system failing.
bool IsPeerGone(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

int Chunk(size_t size) { return size > 0x40000000 ? 0x40000000 : static_cast<int>(size); }

}  // namespace

uint64_t MonotonicMs() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
      !QueryPerformanceCounter(&counter)) {
    return GetTickCount();  // only without a performance counter (before XP)
  }
  uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
  uint64_t c = static_cast<uint64_t>(counter.QuadPart);
  return c / f * 1000 + c % f * 1000 / f;  // split so that c * 1000 cannot overflow
}

Status ConnectTcp(const std::string& host, uint16_t port, uint32_t connect_ms,
                  uint64_t deadline_ms, Connection* out) {
  out->handle = -1;
  if (!WinsockReady()) return TransportFailure(kSocketFailure);
  Lookup* lookup = nullptr;
  Status resolved = Resolve(host, port, deadline_ms, &lookup);
  if (!IsOk(resolved)) return resolved;

  Status status = ConnectInTurn(
      lookup->result, connect_ms, deadline_ms,
      [out](const ADDRINFOW* a, uint64_t attempt_deadline, TransportError* e) {
        SOCKET s = ConnectOne(a, attempt_deadline, e);
        if (s != INVALID_SOCKET) out->handle = static_cast<intptr_t>(s);
        return s != INVALID_SOCKET;
      });
  Release(lookup);
  return status;
}

Status SendAll(Connection* c, const uint8_t* data, size_t size, uint32_t timeout_ms) {
  if (c->handle == -1) return TransportFailure(kSocketFailure);
  SOCKET s = static_cast<SOCKET>(c->handle);
  uint64_t deadline = MonotonicMs() + timeout_ms;
  size_t sent = 0;
  while (sent < size) {
    int n = send(s, reinterpret_cast<const char*>(data + sent), Chunk(size - sent), 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    int error = WSAGetLastError();
    if (n < 0 && error == WSAEWOULDBLOCK) {
      int ready = WaitFor(s, true, deadline);
      if (ready == 0) return TransportFailure(kReplyTimeout);
      if (ready < 0) return TransportFailure(kSocketFailure);
      continue;
    }
    return TransportFailure(n < 0 && IsPeerGone(error) ? kClosed : kSocketFailure);
  }
  return OkStatus();
}

Status ReceiveExact(Connection* c, uint8_t* data, size_t size, uint32_t timeout_ms) {
  if (c->handle == -1) return TransportFailure(kSocketFailure);
  SOCKET s = static_cast<SOCKET>(c->handle);
  uint64_t deadline = MonotonicMs() + timeout_ms;
  size_t got = 0;
  while (got < size) {
    int n = recv(s, reinterpret_cast<char*>(data + got), Chunk(size - got), 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return TransportFailure(kClosed);
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      int ready = WaitFor(s, false, deadline);
      if (ready == 0) return TransportFailure(kReplyTimeout);
      if (ready < 0) return TransportFailure(kSocketFailure);
      continue;
    }
    return TransportFailure(IsPeerGone(error) ? kClosed : kSocketFailure);
  }
  return OkStatus();
}

void CloseConnection(Connection* c) {
  if (c->handle != -1) closesocket(static_cast<SOCKET>(c->handle));
  c->handle = -1;
}

bool FillRandom(uint8_t* out, size_t size) {
  // The base provider's generator, present since NT 4; a verify context
  // needs no key container and so no user profile.
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  size_t filled = 0;
  bool ok = true;
  while (ok && filled < size) {
    DWORD part = static_cast<DWORD>(Chunk(size - filled));
    ok = CryptGenRandom(provider, part, out + filled) != FALSE;
    filled += part;
  }
  CryptReleaseContext(provider, 0);
  return ok;
}

}  // namespace net
