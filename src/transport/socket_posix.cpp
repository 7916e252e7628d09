// SPDX-License-Identifier: Apache-2.0
// The socket layer over POSIX sockets, poll and getrandom.
#include "transport/socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

#include "transport/socket_common.h"

namespace net {
namespace {

/// Waits for `events` on `fd` until `deadline_ms`: 1 ready, 0 timed out,
/// -1 failed (errno set).
int WaitFor(int fd, short events, uint64_t deadline_ms) {
  for (;;) {
    pollfd p = {fd, events, 0};
    int n = poll(&p, 1, static_cast<int>(RemainingMs(deadline_ms)));
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// A lookup that outlives its caller: the resolver's own timeouts can add up
// to tens of seconds, longer than a query may wait, so the lookup runs on a
// thread and the caller stops waiting at its deadline. Whichever side lets go
// last frees the result.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  int error = 0;
  addrinfo* result = nullptr;
  ~Lookup() {
    if (result != nullptr) freeaddrinfo(result);
  }
};

struct LookupJob {
  std::shared_ptr<Lookup> lookup;
  std::string host;
  std::string port;
};

void* RunLookup(void* argument) {
  LookupJob* job = static_cast<LookupJob*>(argument);
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* result = nullptr;
  int error = getaddrinfo(job->host.c_str(), job->port.c_str(), &hints, &result);
  {
    std::lock_guard<std::mutex> hold(job->lookup->mutex);
    job->lookup->error = error;
    job->lookup->result = result;
    job->lookup->done = true;
    job->lookup->done_signal.notify_all();
  }
  delete job;
  return nullptr;
}

/// Runs the name lookup on a thread and waits for it until `deadline_ms`:
/// a timeout when it did not finish in time, kNoResources when it could not
/// start.
Status LookupName(const std::shared_ptr<Lookup>& lookup, const std::string& host, const char* port,
                  uint64_t deadline_ms) {
  LookupJob* job = new (std::nothrow) LookupJob{lookup, host, port};
  if (job == nullptr) return TransportFailure(kNoResources);
  pthread_t worker;
  if (pthread_create(&worker, nullptr, RunLookup, job) != 0) {
    delete job;
    return TransportFailure(kNoResources);
  }
  std::unique_lock<std::mutex> hold(lookup->mutex);
  auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(RemainingMs(deadline_ms));
  bool done = lookup->done_signal.wait_until(hold, until, [&] { return lookup->done; });
  hold.unlock();
  if (done) {
    pthread_join(worker, nullptr);
  } else {
    pthread_detach(worker);  // it frees what it finds once it finishes
  }
  return done ? OkStatus() : TransportFailure(kResolveFailed);
}

/// Resolves `host`; an address literal at once, without a thread, a name on
/// a worker thread for at most until `deadline_ms`.
Status Resolve(const std::string& host, uint16_t port, uint64_t deadline_ms,
               std::shared_ptr<Lookup>* out) {
  char port_text[8];
  snprintf(port_text, sizeof port_text, "%u", static_cast<unsigned>(port));
  std::shared_ptr<Lookup> lookup(new (std::nothrow) Lookup);
  if (lookup == nullptr) return TransportFailure(kNoResources);
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  int error = getaddrinfo(host.c_str(), port_text, &hints, &lookup->result);
  if (error == EAI_NONAME) {
    Status looked_up = LookupName(lookup, host, port_text, deadline_ms);
    if (!IsOk(looked_up)) return looked_up;
    error = lookup->error;
  }
  if (error != 0 || lookup->result == nullptr) {
    // EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_NODATA: all say "no such host"
    // to the user; EAI_MEMORY is our side; anything else is the system
    // failing.
    bool resolver = error == 0 || error == EAI_NONAME || error == EAI_AGAIN || error == EAI_FAIL;
#ifdef EAI_NODATA
    resolver = resolver || error == EAI_NODATA;
#endif
    if (error == EAI_MEMORY) return TransportFailure(kNoResources);
    return TransportFailure(resolver ? kResolveFailed : kSocketFailure);
  }
  *out = lookup;
  return OkStatus();
}

/// What a failure to connect means (see socket_common.h).
TransportError ConnectErrorKind(int error) {
  switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
    case ECONNABORTED: return kConnectRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT: return kUnreachable;
    case ETIMEDOUT: return kConnectTimeout;
    case ENOMEM:
    case ENOBUFS:
    case EMFILE:
    case ENFILE: return kNoResources;
    default: return kSocketFailure;
  }
}

/// What a failure on a connection that stood means (see socket_common.h).
TransportError LinkErrorKind(int error) {
  switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ESHUTDOWN:
    case ETIMEDOUT:
    case ENETRESET:
    case ENETUNREACH:
    case EHOSTUNREACH: return kClosed;
    case ENOMEM:
    case ENOBUFS: return kNoResources;
    default: return kSocketFailure;
  }
}

/// What a failed wait means: ours when the system lacked memory.
TransportError WaitErrorKind(int error) { return error == ENOMEM ? kNoResources : kSocketFailure; }

/// The race's sockets: one for each address, -1 when none.
struct PosixRace {
  const addrinfo* addresses[kMaxRaceAddresses];
  int fds[kMaxRaceAddresses];
};

AttemptResult StartAttempt(void* context, size_t i, TransportError* failure) {
  PosixRace* race = static_cast<PosixRace*>(context);
  const addrinfo* a = race->addresses[i];
  if (IsLinkLocalWithoutZone<sockaddr_in6>(a, AF_INET6)) {
    *failure = kUnreachable;
    return AttemptResult::kFailed;
  }
  int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
  if (fd < 0) {
    *failure = ConnectErrorKind(errno);
    return AttemptResult::kFailed;
  }
  if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
    race->fds[i] = fd;
    return AttemptResult::kConnected;
  }
  int error = errno;
  if (error == EINPROGRESS || error == EINTR) {  // after EINTR it goes on in the background
    race->fds[i] = fd;
    return AttemptResult::kConnecting;
  }
  close(fd);
  *failure = ConnectErrorKind(error);
  return AttemptResult::kFailed;
}

/// The outcome of the attempt on `fd`, which poll reported with `revents`.
RaceEvent Outcome(int fd, short revents) {
  RaceEvent event;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error == 0 && (revents & POLLOUT) == 0) error = ECONNRESET;  // hung up unconnected
  event.result = error == 0 ? AttemptResult::kConnected : AttemptResult::kFailed;
  event.failure = ConnectErrorKind(error);
  return event;
}

int WaitAttempts(void* context, const size_t* indexes, size_t count, uint32_t timeout_ms,
                 RaceEvent* event) {
  PosixRace* race = static_cast<PosixRace*>(context);
  pollfd p[kMaxRaceAddresses];
  for (size_t k = 0; k < count; ++k) p[k] = {race->fds[indexes[k]], POLLOUT, 0};
  int n = poll(p, static_cast<nfds_t>(count), static_cast<int>(timeout_ms));
  if (n < 0 && errno != EINTR) {
    event->failure = WaitErrorKind(errno);
    return -1;
  }
  for (size_t k = 0; n > 0 && k < count; ++k) {
    if (p[k].revents == 0) continue;
    *event = Outcome(p[k].fd, p[k].revents);
    event->index = indexes[k];
    return 1;
  }
  return 0;  // timed out, or interrupted: the race looks at the clock again
}

void CloseAttempt(void* context, size_t i) {
  PosixRace* race = static_cast<PosixRace*>(context);
  if (race->fds[i] >= 0) close(race->fds[i]);
  race->fds[i] = -1;
}

void DescribeAttempt(void* context, size_t i, char* text, size_t size) {
  const addrinfo* a = static_cast<PosixRace*>(context)->addresses[i];
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    snprintf(text, size, "address %u", static_cast<unsigned>(i + 1));
  } else if (a->ai_family == AF_INET6) {
    snprintf(text, size, "[%s]:%s", host, service);
  } else {
    snprintf(text, size, "%s:%s", host, service);
  }
}

}  // namespace

Status ConnectTcp(const std::string& host, uint16_t port, uint32_t connect_ms, uint64_t deadline_ms,
                  Connection* out, Trace* trace) {
  out->handle = -1;
  std::shared_ptr<Lookup> lookup;
  Status resolved = Resolve(host, port, deadline_ms, &lookup);
  if (!IsOk(resolved)) return resolved;

  PosixRace race;
  size_t count = RaceOrder(lookup->result, race.addresses);
  for (int& fd : race.fds) fd = -1;
  RaceSockets sockets{&race,     StartAttempt, WaitAttempts,   CloseAttempt,
                      RaceClock, trace,        DescribeAttempt};
  RaceLimits limits;
  limits.attempt_ms = connect_ms;
  limits.deadline_ms = deadline_ms;
  size_t winner = 0;
  Status s = RaceConnections(sockets, count, limits, &winner);
  if (!IsOk(s)) return s;
  int on = 1;  // a failure only costs latency
  setsockopt(race.fds[winner], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  out->handle = race.fds[winner];
  return OkStatus();
}

Status SendAll(Connection* c, const uint8_t* data, size_t size, uint32_t timeout_ms) {
  if (c->handle < 0) return TransportFailure(kSocketFailure);
  int fd = static_cast<int>(c->handle);
  uint64_t deadline = MonotonicMs() + timeout_ms;
  size_t sent = 0;
  while (sent < size) {
    ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int ready = WaitFor(fd, POLLOUT, deadline);
      if (ready == 0) return TransportFailure(kReplyTimeout);
      if (ready < 0) return TransportFailure(WaitErrorKind(errno));
      continue;
    }
    return TransportFailure(n < 0 ? LinkErrorKind(errno) : kSocketFailure);
  }
  return OkStatus();
}

Status ReceiveExact(Connection* c, uint8_t* data, size_t size, uint32_t timeout_ms) {
  if (c->handle < 0) return TransportFailure(kSocketFailure);
  int fd = static_cast<int>(c->handle);
  uint64_t deadline = MonotonicMs() + timeout_ms;
  size_t got = 0;
  while (got < size) {
    ssize_t n = recv(fd, data + got, size - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return TransportFailure(kClosed);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      int ready = WaitFor(fd, POLLIN, deadline);
      if (ready == 0) return TransportFailure(kReplyTimeout);
      if (ready < 0) return TransportFailure(WaitErrorKind(errno));
      continue;
    }
    return TransportFailure(LinkErrorKind(errno));
  }
  return OkStatus();
}

void CloseConnection(Connection* c) {
  if (c->handle >= 0) close(static_cast<int>(c->handle));
  c->handle = -1;
}

std::string LocalComputerName() {
  char name[256];
  if (gethostname(name, sizeof name) != 0) return "";
  name[sizeof name - 1] = '\0';  // a name cut short need not end in one
  return name;
}

bool FillRandom(uint8_t* out, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    ssize_t n = getrandom(out + filled, size - filled, 0);
    if (n > 0) {
      filled += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace net
