// SPDX-License-Identifier: Apache-2.0
// The connection race against fake sockets on a fake clock.
#include "transport/connect_race.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace net {
namespace {

constexpr uint64_t kNever = ~uint64_t{0};
constexpr size_t kNoIndex = ~size_t{0};
constexpr uint64_t kStart = 1000;  // the fake clock's reading at the start

/// How a fake address behaves once an attempt to it starts.
struct FakeAddress {
  enum Kind { kSilent, kConnects, kFails, kFailsAtStart, kConnectsAtStart } kind = kSilent;
  uint64_t after_ms = 0;  // for kConnects and kFails
  TransportError failure = kConnectRefused;
};

FakeAddress Silent() { return FakeAddress{}; }
FakeAddress Connects(uint64_t after) { return FakeAddress{FakeAddress::kConnects, after}; }
FakeAddress Fails(uint64_t after, TransportError e) {
  return FakeAddress{FakeAddress::kFails, after, e};
}
FakeAddress FailsAtStart(TransportError e) { return FakeAddress{FakeAddress::kFailsAtStart, 0, e}; }

struct FakeWorld {
  std::vector<FakeAddress> addresses;
  uint64_t clock = kStart;
  std::vector<uint64_t> started = {};  // when each attempt started, kNever if not
  std::vector<uint64_t> closed = {};   // when each was closed, kNever if not
  int waits = 0;
  bool wait_fails = false;
};

FakeWorld* World(void* context) { return static_cast<FakeWorld*>(context); }

AttemptResult FakeStart(void* context, size_t i, TransportError* failure) {
  FakeWorld* w = World(context);
  EXPECT_EQ(w->started[i], kNever) << "address " << i << " started twice";
  w->started[i] = w->clock;
  const FakeAddress& a = w->addresses[i];
  if (a.kind == FakeAddress::kConnectsAtStart) return AttemptResult::kConnected;
  if (a.kind != FakeAddress::kFailsAtStart) return AttemptResult::kConnecting;
  *failure = a.failure;
  return AttemptResult::kFailed;
}

/// The first of the waited-on attempts to finish, if any does within the
/// timeout; the clock moves to then, or by the whole timeout.
int FakeWait(void* context, const size_t* indexes, size_t count, uint32_t timeout_ms,
             RaceEvent* event) {
  FakeWorld* w = World(context);
  if (++w->waits > 10000) {
    ADD_FAILURE() << "the race does not end";
    return -1;
  }
  if (w->wait_fails) {
    event->failure = kNoResources;
    return -1;
  }
  uint64_t first = kNever;
  for (size_t k = 0; k < count; ++k) {
    size_t i = indexes[k];
    EXPECT_EQ(w->closed[i], kNever) << "waiting on closed attempt " << i;
    const FakeAddress& a = w->addresses[i];
    if (a.kind != FakeAddress::kConnects && a.kind != FakeAddress::kFails) continue;
    uint64_t at = w->started[i] + a.after_ms;
    if (at < first) {
      first = at;
      event->index = i;
      event->result =
          a.kind == FakeAddress::kConnects ? AttemptResult::kConnected : AttemptResult::kFailed;
      event->failure = a.failure;
    }
  }
  if (first != kNever && first <= w->clock + timeout_ms) {
    if (first > w->clock) w->clock = first;
    return 1;
  }
  w->clock += timeout_ms;
  return 0;
}

void FakeClose(void* context, size_t i) {
  FakeWorld* w = World(context);
  EXPECT_NE(w->started[i], kNever) << "closing attempt " << i << " that never started";
  EXPECT_EQ(w->closed[i], kNever) << "closing attempt " << i << " twice";
  w->closed[i] = w->clock;
}

uint64_t FakeNow(void* context) { return World(context)->clock; }

struct Outcome {
  Status status;
  size_t winner = kNoIndex;
};

void FakeDescribe(void*, size_t i, char* text, size_t size) {
  snprintf(text, size, "a%u", static_cast<unsigned>(i));
}

Outcome Race(FakeWorld* w, uint32_t attempt_ms = 5000, uint64_t total_ms = 19000,
             Trace* trace = nullptr) {
  w->started.assign(w->addresses.size(), kNever);
  w->closed.assign(w->addresses.size(), kNever);
  RaceSockets sockets{w, FakeStart, FakeWait, FakeClose, FakeNow, trace, FakeDescribe};
  RaceLimits limits;
  limits.attempt_ms = attempt_ms;
  limits.deadline_ms = kStart + total_ms;
  Outcome o;
  size_t winner = kNoIndex;
  o.status = RaceConnections(sockets, w->addresses.size(), limits, &winner);
  if (IsOk(o.status)) o.winner = winner;
  return o;
}

bool IsTransport(Status s, TransportError e) {
  return s.kind == StatusKind::kTransport && s.code == e;
}

std::vector<size_t> Order(const std::vector<int>& families) {
  std::vector<size_t> order(families.size(), kNoIndex);
  InterleaveFamilies(families.data(), families.size(), order.data());
  return order;
}

TEST(ConnectRace, InterleavesFamiliesFromTheResolversFirst) {
  const int v4 = 2, v6 = 10;
  EXPECT_EQ(Order({v6, v6, v4, v4}), (std::vector<size_t>{0, 2, 1, 3}));
  EXPECT_EQ(Order({v4, v4, v4, v6}), (std::vector<size_t>{0, 3, 1, 2}));
  EXPECT_EQ(Order({v4, v6, v6, v6}), (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_EQ(Order({v6, v4, v4, v6, v6}), (std::vector<size_t>{0, 1, 3, 2, 4}));
  EXPECT_EQ(Order({v4, v4}), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(Order({v6}), (std::vector<size_t>{0}));
  EXPECT_EQ(Order({}), (std::vector<size_t>{}));
}

TEST(ConnectRace, SilentAddressCostsOneStaggerNotATimeout) {
  FakeWorld w{{Silent(), Connects(5)}};
  Outcome o = Race(&w);
  ASSERT_TRUE(IsOk(o.status));
  EXPECT_EQ(o.winner, 1u);
  EXPECT_EQ(w.started[0], kStart);
  EXPECT_EQ(w.started[1], kStart + kAttemptStaggerMs);
  EXPECT_EQ(w.clock, kStart + kAttemptStaggerMs + 5);
  EXPECT_EQ(w.closed[0], w.clock);  // the loser, at once
  EXPECT_EQ(w.closed[1], kNever);   // the winner stays open
}

TEST(ConnectRace, AFailureStartsTheNextAttemptAtOnce) {
  FakeWorld w{{Fails(30, kConnectRefused), FailsAtStart(kUnreachable), Connects(5)}};
  Outcome o = Race(&w);
  ASSERT_TRUE(IsOk(o.status));
  EXPECT_EQ(o.winner, 2u);
  EXPECT_EQ(w.started[1], kStart + 30);
  EXPECT_EQ(w.started[2], kStart + 30);
  EXPECT_EQ(w.closed[0], kStart + 30);
}

TEST(ConnectRace, TheLatestAttemptFailingStartsTheNextEvenWhileAnEarlierWaits) {
  FakeWorld w{{Silent(), Fails(100, kConnectRefused), Connects(5)}};
  Outcome o = Race(&w);
  ASSERT_TRUE(IsOk(o.status));
  EXPECT_EQ(o.winner, 2u);
  EXPECT_EQ(w.started[2], kStart + kAttemptStaggerMs + 100);
  EXPECT_EQ(w.closed[0], kStart + kAttemptStaggerMs + 105);
}

TEST(ConnectRace, FirstConnectionMadeWinsAndNothingStartsAfter) {
  FakeWorld w{{Connects(600), Silent(), Connects(10), Silent()}};
  Outcome o = Race(&w);
  ASSERT_TRUE(IsOk(o.status));
  EXPECT_EQ(o.winner, 2u);  // at 510 ms, before the first one's 600
  EXPECT_EQ(w.clock, kStart + 2 * kAttemptStaggerMs + 10);
  EXPECT_EQ(w.started[3], kNever);
  EXPECT_EQ(w.closed[0], w.clock);
  EXPECT_EQ(w.closed[1], w.clock);
}

TEST(ConnectRace, AnEarlierAttemptThatConnectsFirstWins) {
  FakeWorld w{{Connects(300), Silent(), Connects(200)}};
  Outcome o = Race(&w);
  ASSERT_TRUE(IsOk(o.status));
  EXPECT_EQ(o.winner, 0u);
  EXPECT_EQ(w.clock, kStart + 300);
  EXPECT_EQ(w.closed[1], kStart + 300);
  EXPECT_EQ(w.started[2], kNever);
}

TEST(ConnectRace, ConnectedAtOnceStartsNoOther) {
  FakeWorld w{{FakeAddress{FakeAddress::kConnectsAtStart}, Connects(1)}};
  Outcome o = Race(&w);
  ASSERT_TRUE(IsOk(o.status));
  EXPECT_EQ(o.winner, 0u);
  EXPECT_EQ(w.started[1], kNever);
  EXPECT_EQ(w.closed[0], kNever);
}

TEST(ConnectRace, EachAttemptHasItsOwnTimeLimit) {
  FakeWorld w{{Silent(), Silent(), Silent()}};
  Outcome o = Race(&w, 1000);
  EXPECT_TRUE(IsTransport(o.status, kConnectTimeout));
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(w.started[i], kStart + i * kAttemptStaggerMs);
    EXPECT_EQ(w.closed[i], kStart + i * kAttemptStaggerMs + 1000);
  }
  EXPECT_EQ(w.clock, kStart + 2 * kAttemptStaggerMs + 1000);
}

TEST(ConnectRace, TheWholeLimitEndsEveryAttempt) {
  FakeWorld w{{Silent(), Silent(), Silent(), Silent(), Silent()}};
  Outcome o = Race(&w, 5000, 600);
  EXPECT_TRUE(IsTransport(o.status, kConnectTimeout));
  EXPECT_EQ(w.started[2], kStart + 2 * kAttemptStaggerMs);
  EXPECT_EQ(w.started[3], kNever);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(w.closed[i], kStart + 600);

  // No time at all: nothing starts, and that reads as a timeout.
  FakeWorld late{{Connects(1)}};
  o = Race(&late, 5000, 0);
  EXPECT_TRUE(IsTransport(o.status, kConnectTimeout));
  EXPECT_EQ(late.started[0], kNever);
}

TEST(ConnectRace, ReportsTheMostTellingFailure) {
  struct Case {
    std::vector<FakeAddress> addresses;
    TransportError expected;
  };
  const Case cases[] = {
      {{FailsAtStart(kUnreachable), Fails(20, kConnectRefused), Silent()}, kConnectRefused},
      {{Fails(10, kUnreachable), Silent()}, kConnectTimeout},
      {{FailsAtStart(kSocketFailure), FailsAtStart(kUnreachable)}, kUnreachable},
      {{FailsAtStart(kNoResources), Fails(5, kSocketFailure)}, kSocketFailure},
      {{FailsAtStart(kNoResources), FailsAtStart(kNoResources)}, kNoResources},
      {{}, kConnectTimeout},
  };
  for (const Case& c : cases) {
    FakeWorld w{c.addresses};
    Outcome o = Race(&w, 1000);
    EXPECT_TRUE(IsTransport(o.status, c.expected))
        << "got " << o.status.code << ", expected " << c.expected;
    for (size_t i = 0; i < w.addresses.size(); ++i) {
      bool left_open = w.started[i] != kNever && w.closed[i] == kNever &&
                       w.addresses[i].kind != FakeAddress::kFailsAtStart;
      EXPECT_FALSE(left_open) << "attempt " << i << " left open";
    }
  }
}

TEST(ConnectRace, AFailedWaitClosesEverything) {
  FakeWorld w{{Silent(), Silent()}};
  w.wait_fails = true;
  Outcome o = Race(&w);
  EXPECT_TRUE(IsTransport(o.status, kNoResources));
  EXPECT_EQ(w.closed[0], kStart);
}

TEST(ConnectRace, TriesAtMostTheCappedNumberOfAddresses) {
  FakeWorld w{std::vector<FakeAddress>(kMaxRaceAddresses + 5, FailsAtStart(kConnectRefused))};
  Outcome o = Race(&w);
  EXPECT_TRUE(IsTransport(o.status, kConnectRefused));
  EXPECT_EQ(w.started[kMaxRaceAddresses - 1], kStart);
  EXPECT_EQ(w.started[kMaxRaceAddresses], kNever);
}

// The trace names every address in the order tried, and how and when each
// attempt ended: the refused one, the winner, the silent one given up.
TEST(ConnectRace, TraceTellsHowEachAttemptEnded) {
  FakeWorld w{{Silent(), Fails(30, kConnectRefused), Connects(5)}};
  Trace trace;
  std::string path = testing::TempDir() + "kestrin_race_trace.txt";
  trace.file = fopen(path.c_str(), "w+b");
  ASSERT_NE(trace.file, nullptr);
  Outcome o = Race(&w, 5000, 19000, &trace);
  ASSERT_TRUE(IsOk(o.status));
  rewind(trace.file);
  std::string text;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, trace.file) != nullptr) text += buffer;
  fclose(trace.file);
  remove(path.c_str());
  EXPECT_EQ(text,
            "kestrin: addresses, in the order tried: a0 a1 a2\n"
            "kestrin: attempt a1: connection refused 30 ms\n"
            "kestrin: attempt a2: connected 5 ms\n"
            "kestrin: attempt a0: given up 285 ms\n");
}

}  // namespace
}  // namespace net
