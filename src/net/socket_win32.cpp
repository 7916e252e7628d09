// The socket layer over Winsock 2, select and the system's random source.
// Runs on Windows XP and later: GetAddrInfoW needs XP SP2, everything else
// here exists on XP (5.1) already.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <ntsecapi.h>  // RtlGenRandom

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

// A lookup that outlives its caller: the resolver's own timeouts can add up
// to tens of seconds, longer than a query may wait, so the lookup runs on a
// thread and the caller stops waiting at its deadline. Whichever side lets go
// last frees the result.
struct Lookup {
  volatile LONG references;
  wchar_t host[512];
  wchar_t port[8];
  int error;
  ADDRINFOW* result;
};

void Release(Lookup* lookup) {
  if (InterlockedDecrement(&lookup->references) != 0) return;
  if (lookup->result != nullptr) FreeAddrInfoW(lookup->result);
  delete lookup;
}

DWORD WINAPI RunLookup(void* argument) {
  Lookup* lookup = static_cast<Lookup*>(argument);
  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  lookup->error = GetAddrInfoW(lookup->host, lookup->port, &hints, &lookup->result);
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
  int units = MultiByteToWideChar(CP_UTF8, 0, host.c_str(), -1, lookup->host, 512);
  if (units <= 0) {
    Release(lookup);
    return TransportFailure(kResolveFailed);
  }
  _snwprintf(lookup->port, 8, L"%u", static_cast<unsigned>(port));
  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  int error = GetAddrInfoW(lookup->host, lookup->port, &hints, &lookup->result);
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
  size_t filled = 0;
  while (filled < size) {
    ULONG part = static_cast<ULONG>(Chunk(size - filled));
    if (!RtlGenRandom(out + filled, part)) return false;
    filled += part;
  }
  return true;
}

}  // namespace net
