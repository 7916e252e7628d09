// SPDX-License-Identifier: Apache-2.0
// Bounded calls on POSIX threads.
#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "base/bounded_call.h"
#include "base/clock.h"

namespace net {
namespace {

std::atomic<bool> left_calls_behind{false};

// Shared by the caller and the worker; whichever lets go last frees it.
struct Shared {
  BoundedCall call;
  std::mutex mutex;
  std::condition_variable finished_signal;
  bool finished = false;
  bool left_behind = false;
};

void* RunWorker(void* argument) {
  Shared* shared = static_cast<Shared*>(argument);
  shared->call.run(shared->call.work);
  bool left_behind = false;
  {
    std::lock_guard<std::mutex> hold(shared->mutex);
    shared->finished = true;
    left_behind = shared->left_behind;
    shared->finished_signal.notify_all();
  }
  if (left_behind) {
    shared->call.release(shared->call.work);
    delete shared;
  }
  return nullptr;
}

}  // namespace

CallOutcome RunBounded(const BoundedCall& call, uint64_t deadline) {
  Shared* shared = new (std::nothrow) Shared;
  if (shared == nullptr) return CallOutcome::kNoThread;
  shared->call = call;
  pthread_t worker;
  if (pthread_create(&worker, nullptr, RunWorker, shared) != 0) {
    delete shared;
    return CallOutcome::kNoThread;
  }
  std::unique_lock<std::mutex> hold(shared->mutex);
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(RemainingMs(deadline));
  bool finished = shared->finished_signal.wait_until(hold, until, [&] { return shared->finished; });
  if (!finished) shared->left_behind = true;  // decided under the lock: the worker frees all
  hold.unlock();
  if (!finished) {
    left_calls_behind = true;
    pthread_detach(worker);
    return CallOutcome::kLeftBehind;
  }
  pthread_join(worker, nullptr);
  delete shared;
  return CallOutcome::kFinished;
}

bool LeftCallsBehind() { return left_calls_behind; }

void EndProcessNow(int status) {
  fflush(stdout);
  _exit(status);
}

}  // namespace net
