// SPDX-License-Identifier: Apache-2.0
// The socket layer over Winsock 2, select and the system's random source.
// Runs on Windows 2000 (5.0) and later: every call it links to exists there.
// Names are looked up in name_lookup_win32.cpp.
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

#include "transport/name_lookup_win32.h"
#include "transport/socket.h"
#include "transport/socket_common.h"

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

/// What a failure to connect means (see socket_common.h).
TransportError ConnectErrorKind(int error) {
  switch (error) {
    case WSAECONNREFUSED:
    case WSAECONNRESET:
    case WSAECONNABORTED: return kConnectRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
    case WSAENETDOWN:
    case WSAEADDRNOTAVAIL:
    case WSAEAFNOSUPPORT: return kUnreachable;
    case WSAETIMEDOUT: return kConnectTimeout;
    case WSA_NOT_ENOUGH_MEMORY:
    case WSAENOBUFS:
    case WSAEMFILE: return kNoResources;
    default: return kSocketFailure;
  }
}

/// What a failure on a connection that stood means (see socket_common.h).
TransportError LinkErrorKind(int error) {
  switch (error) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
    case WSAETIMEDOUT:
    case WSAENETRESET:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH: return kClosed;
    case WSA_NOT_ENOUGH_MEMORY:
    case WSAENOBUFS: return kNoResources;
    default: return kSocketFailure;
  }
}

/// What a failed wait means: ours when the system lacked memory.
TransportError WaitErrorKind(int error) {
  return error == WSA_NOT_ENOUGH_MEMORY || error == WSAENOBUFS ? kNoResources : kSocketFailure;
}

/// The race's sockets: one for each address, INVALID_SOCKET when none.
struct Win32Race {
  const ADDRINFOW* addresses[kMaxRaceAddresses];
  SOCKET sockets[kMaxRaceAddresses];
};

/// A socket for `a` that programs this process starts do not inherit and
/// whose calls do not block; INVALID_SOCKET and the error if there is none.
SOCKET NewSocket(const ADDRINFOW* a, int* error) {
  SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) {
    *error = WSAGetLastError();
    return s;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    *error = WSAGetLastError();
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

AttemptResult StartAttempt(void* context, size_t i, TransportError* failure) {
  Win32Race* race = static_cast<Win32Race*>(context);
  const ADDRINFOW* a = race->addresses[i];
  if (IsLinkLocalWithoutZone<sockaddr_in6>(a, AF_INET6)) {
    *failure = kUnreachable;
    return AttemptResult::kFailed;
  }
  int error = 0;
  SOCKET s = NewSocket(a, &error);
  if (s == INVALID_SOCKET) {
    *failure = ConnectErrorKind(error);
    return AttemptResult::kFailed;
  }
  if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
    race->sockets[i] = s;
    return AttemptResult::kConnected;
  }
  error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) {
    race->sockets[i] = s;
    return AttemptResult::kConnecting;
  }
  closesocket(s);
  *failure = ConnectErrorKind(error);
  return AttemptResult::kFailed;
}

/// The outcome of the attempt on `s`, which select found writable (or not,
/// then failed).
RaceEvent Outcome(SOCKET s, bool writable) {
  RaceEvent event;
  int error = 0;
  int size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
    error = WSAGetLastError();
  }
  if (error == 0 && !writable) error = WSAECONNRESET;
  event.result = error == 0 ? AttemptResult::kConnected : AttemptResult::kFailed;
  event.failure = ConnectErrorKind(error);
  return event;
}

int WaitAttempts(void* context, const size_t* indexes, size_t count, uint32_t timeout_ms,
                 RaceEvent* event) {
  static_assert(kMaxRaceAddresses <= FD_SETSIZE, "select watches every attempt");
  Win32Race* race = static_cast<Win32Race*>(context);
  fd_set connected;
  fd_set failed;  // a failed connect shows here, not as writable
  FD_ZERO(&connected);
  FD_ZERO(&failed);
  for (size_t k = 0; k < count; ++k) {
    FD_SET(race->sockets[indexes[k]], &connected);
    FD_SET(race->sockets[indexes[k]], &failed);
  }
  timeval wait = {static_cast<long>(timeout_ms / 1000),
                  static_cast<long>(timeout_ms % 1000) * 1000};
  int n = select(0, nullptr, &connected, &failed, &wait);
  if (n < 0) {
    event->failure = WaitErrorKind(WSAGetLastError());
    return -1;
  }
  for (size_t k = 0; n > 0 && k < count; ++k) {
    SOCKET s = race->sockets[indexes[k]];
    bool writable = FD_ISSET(s, &connected) != 0;
    if (!writable && !FD_ISSET(s, &failed)) continue;
    *event = Outcome(s, writable);
    event->index = indexes[k];
    return 1;
  }
  return 0;
}

void CloseAttempt(void* context, size_t i) {
  Win32Race* race = static_cast<Win32Race*>(context);
  if (race->sockets[i] != INVALID_SOCKET) closesocket(race->sockets[i]);
  race->sockets[i] = INVALID_SOCKET;
}

/// The address as Winsock writes it: "10.0.0.1:445", "[::1]:445".
void DescribeAttempt(void* context, size_t i, char* text, size_t size) {
  const ADDRINFOW* a = static_cast<Win32Race*>(context)->addresses[i];
  DWORD length = static_cast<DWORD>(size);
  if (WSAAddressToStringA(a->ai_addr, static_cast<DWORD>(a->ai_addrlen), nullptr, text, &length) !=
      0) {
    snprintf(text, size, "address %u", static_cast<unsigned>(i + 1));
  }
}

/// Readies the race's winner for the exchange.
void PrepareConnection(SOCKET s) {
  BOOL on = TRUE;  // a failure only costs latency
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // Urgent data would otherwise show as an exception in every wait while
  // recv says "would block": a server could make the waits spin.
  setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on);
}

int Chunk(size_t size) { return size > 0x40000000 ? 0x40000000 : static_cast<int>(size); }

}  // namespace

Status ConnectTcp(const std::string& host, uint16_t port, uint32_t connect_ms, uint64_t deadline_ms,
                  Connection* out, Trace* trace) {
  out->handle = -1;
  if (!WinsockReady()) return TransportFailure(kSocketFailure);
  Lookup* lookup = nullptr;
  Status resolved = Resolve(host, port, deadline_ms, &lookup);
  if (!IsOk(resolved)) return resolved;

  Win32Race race;
  size_t count = RaceOrder(LookupAddresses(lookup), race.addresses);
  for (SOCKET& s : race.sockets) s = INVALID_SOCKET;
  RaceSockets sockets{&race,     StartAttempt, WaitAttempts,   CloseAttempt,
                      RaceClock, trace,        DescribeAttempt};
  RaceLimits limits;
  limits.attempt_ms = connect_ms;
  limits.deadline_ms = deadline_ms;
  size_t winner = 0;
  Status status = RaceConnections(sockets, count, limits, &winner);
  ReleaseLookup(lookup);
  if (!IsOk(status)) return status;
  PrepareConnection(race.sockets[winner]);
  out->handle = static_cast<intptr_t>(race.sockets[winner]);
  return OkStatus();
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
      if (ready < 0) return TransportFailure(WaitErrorKind(WSAGetLastError()));
      continue;
    }
    return TransportFailure(n < 0 ? LinkErrorKind(error) : kSocketFailure);
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
      if (ready < 0) return TransportFailure(WaitErrorKind(WSAGetLastError()));
      continue;
    }
    return TransportFailure(LinkErrorKind(error));
  }
  return OkStatus();
}

void CloseConnection(Connection* c) {
  if (c->handle != -1) closesocket(static_cast<SOCKET>(c->handle));
  c->handle = -1;
}

std::string LocalComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size) || size >= sizeof name) return "";
  return std::string(name, size);
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
