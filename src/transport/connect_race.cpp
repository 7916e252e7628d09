// SPDX-License-Identifier: Apache-2.0
// RFC 8305 sections 4 and 5: interleaved address families and staggered
// connection attempts, the first connection made wins.
#include "transport/connect_race.h"

#include <string.h>

namespace net {
namespace {

struct Attempt {
  bool pending = false;  // started, neither finished nor given up
  bool failed = false;
  uint64_t started = 0;
  uint64_t deadline = 0;
  TransportError failure = kSocketFailure;
};

struct Race {
  const RaceSockets* sockets;
  size_t count;
  RaceLimits limits;
  Attempt attempts[kMaxRaceAddresses];
  size_t next = 0;  // the next address to start
  size_t pending = 0;
  uint64_t last_start = 0;
};

/// How much a failed attempt says about the host: a refusal means the host
/// answered, a timeout that a route to it existed; a failure on our own
/// side says nothing about it at all.
int Informativeness(TransportError e) {
  switch (e) {
    case kConnectRefused: return 4;
    case kConnectTimeout: return 3;
    case kUnreachable: return 2;
    case kNoResources: return 0;
    default: return 1;
  }
}

/// Notes in the trace how attempt `i` ended.
void NoteEnd(const Race& r, size_t i, const char* how) {
  const RaceSockets& s = *r.sockets;
  if (!Tracing(s.trace) || s.describe == nullptr) return;
  char address[80];
  s.describe(s.context, i, address, sizeof address);
  uint64_t now = s.now(s.context);
  uint64_t started = r.attempts[i].started;
  TraceLine(s.trace, "attempt %s: %s %u ms", address, how,
            static_cast<unsigned>(now > started ? now - started : 0));
}

/// Notes the addresses in the order they will be tried.
void NoteAddresses(const Race& r) {
  const RaceSockets& s = *r.sockets;
  if (!Tracing(s.trace) || s.describe == nullptr) return;
  char line[400] = "";
  size_t used = 0;
  for (size_t i = 0; i < r.count; ++i) {
    char address[80];
    s.describe(s.context, i, address, sizeof address);
    size_t n = strlen(address);
    if (used + n + 6 >= sizeof line) {
      memcpy(line + used, " ...", 5);
      break;
    }
    if (i > 0) line[used++] = ' ';
    memcpy(line + used, address, n + 1);
    used += n;
  }
  TraceLine(s.trace, "addresses, in the order tried: %s", line);
}

void Fail(Race* r, size_t i, TransportError e, const char* how = nullptr) {
  Attempt& a = r->attempts[i];
  NoteEnd(*r, i, how != nullptr ? how : StatusReason(TransportFailure(e)));
  if (a.pending) {
    a.pending = false;
    --r->pending;
    r->sockets->close(r->sockets->context, i);
  }
  a.failed = true;
  a.failure = e;
}

/// Gives up every attempt still under way, except `keep`.
void GiveUpPending(Race* r, size_t keep, TransportError e) {
  for (size_t i = 0; i < r->next; ++i) {
    if (i != keep && r->attempts[i].pending) Fail(r, i, e, "given up");
  }
}

Status Won(Race* r, size_t i, size_t* winner) {
  NoteEnd(*r, i, "connected");
  r->attempts[i].pending = false;
  --r->pending;
  GiveUpPending(r, i, kConnectTimeout);
  *winner = i;
  return OkStatus();
}

/// The most telling failure, the earliest address among equals.
Status MostTelling(const Race& r) {
  const Attempt* best = nullptr;
  for (size_t i = 0; i < r.next; ++i) {
    const Attempt& a = r.attempts[i];
    if (a.failed &&
        (best == nullptr || Informativeness(a.failure) > Informativeness(best->failure))) {
      best = &a;
    }
  }
  return TransportFailure(best != nullptr ? best->failure : kConnectTimeout);
}

/// Starts the next address; true when it connected at once.
bool StartNext(Race* r, uint64_t now) {
  size_t i = r->next++;
  r->last_start = now;
  r->attempts[i].started = now;
  TransportError e = kSocketFailure;
  AttemptResult result = r->sockets->start(r->sockets->context, i, &e);
  if (result == AttemptResult::kFailed) {
    Fail(r, i, e);
    return false;
  }
  Attempt& a = r->attempts[i];
  a.pending = true;
  ++r->pending;
  uint64_t own = now + r->limits.attempt_ms;
  a.deadline = own < r->limits.deadline_ms ? own : r->limits.deadline_ms;
  return result == AttemptResult::kConnected;
}

/// When the race must look again without news: the next start, the first
/// attempt's own deadline, the race's. (Only called while the latest
/// attempt is under way: otherwise the next one starts at once.)
uint64_t NextWake(const Race& r) {
  uint64_t wake = r.limits.deadline_ms;
  if (r.next < r.count && r.last_start + r.limits.stagger_ms < wake) {
    wake = r.last_start + r.limits.stagger_ms;
  }
  for (size_t i = 0; i < r.next; ++i) {
    if (r.attempts[i].pending && r.attempts[i].deadline < wake) wake = r.attempts[i].deadline;
  }
  return wake;
}

/// Waits for news until the next wake; false when the race must end with
/// `*failure` (waiting itself failed).
bool WaitForNews(Race* r, uint64_t now, RaceEvent* event, int* outcome) {
  size_t indexes[kMaxRaceAddresses];
  size_t n = 0;
  for (size_t i = 0; i < r->next; ++i) {
    if (r->attempts[i].pending) indexes[n++] = i;
  }
  uint64_t wait = NextWake(*r) - now;
  uint32_t timeout = wait > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(wait);
  *outcome = r->sockets->wait(r->sockets->context, indexes, n, timeout, event);
  return *outcome >= 0;
}

}  // namespace

void InterleaveFamilies(const int* families, size_t count, size_t* order) {
  if (count == 0) return;
  size_t first = 0;  // next of the first address's family
  size_t other = 0;  // next of any other family
  size_t out = 0;
  bool take_first = true;
  while (out < count) {
    while (first < count && families[first] != families[0]) ++first;
    while (other < count && families[other] == families[0]) ++other;
    bool first_left = first < count;
    bool other_left = other < count;
    if (first_left && (take_first || !other_left)) {
      order[out++] = first++;
    } else {
      order[out++] = other++;
    }
    take_first = !take_first;
  }
}

Status RaceConnections(const RaceSockets& sockets, size_t count, const RaceLimits& limits,
                       size_t* winner) {
  Race r;
  r.sockets = &sockets;
  r.count = count < kMaxRaceAddresses ? count : kMaxRaceAddresses;
  r.limits = limits;
  NoteAddresses(r);
  for (;;) {
    uint64_t now = sockets.now(sockets.context);
    if (now >= limits.deadline_ms) break;
    for (size_t i = 0; i < r.next; ++i) {
      if (r.attempts[i].pending && r.attempts[i].deadline <= now) Fail(&r, i, kConnectTimeout);
    }
    // The next attempt starts when the one before it has failed, or has
    // been under way for the stagger (RFC 8305 section 5).
    bool last_pending = r.next > 0 && r.attempts[r.next - 1].pending;
    if (r.next < r.count && (!last_pending || now >= r.last_start + limits.stagger_ms)) {
      if (StartNext(&r, now)) return Won(&r, r.next - 1, winner);
      continue;
    }
    if (r.pending == 0) break;  // every address has failed
    RaceEvent event;
    int outcome = 0;
    if (!WaitForNews(&r, now, &event, &outcome)) {
      GiveUpPending(&r, r.count, kConnectTimeout);
      return TransportFailure(event.failure);
    }
    if (outcome == 0 || event.index >= r.next || !r.attempts[event.index].pending) continue;
    if (event.result == AttemptResult::kConnected) return Won(&r, event.index, winner);
    if (event.result == AttemptResult::kFailed) Fail(&r, event.index, event.failure);
  }
  GiveUpPending(&r, r.count, kConnectTimeout);
  return MostTelling(r);
}

}  // namespace net
