// SPDX-License-Identifier: Apache-2.0
// Bounded calls on Windows threads.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdio.h>

#include <new>

#include "base/bounded_call.h"
#include "base/clock.h"

namespace net {
namespace {

volatile LONG left_calls_behind = 0;

// Shared by the caller and the worker; whichever lets go last frees it.
struct Shared {
  BoundedCall call;
  CRITICAL_SECTION lock;
  bool finished = false;
  bool left_behind = false;
};

void Free(Shared* shared) {
  DeleteCriticalSection(&shared->lock);
  delete shared;
}

DWORD WINAPI RunWorker(LPVOID argument) {
  Shared* shared = static_cast<Shared*>(argument);
  shared->call.run(shared->call.work);
  EnterCriticalSection(&shared->lock);
  shared->finished = true;
  bool left_behind = shared->left_behind;
  LeaveCriticalSection(&shared->lock);
  if (left_behind) {
    shared->call.release(shared->call.work);
    Free(shared);
  }
  return 0;
}

}  // namespace

CallOutcome RunBounded(const BoundedCall& call, uint64_t deadline) {
  Shared* shared = new (std::nothrow) Shared;
  if (shared == nullptr) return CallOutcome::kNoThread;
  shared->call = call;
  InitializeCriticalSection(&shared->lock);
  HANDLE worker = CreateThread(nullptr, 0, RunWorker, shared, 0, nullptr);
  if (worker == nullptr) {
    Free(shared);
    return CallOutcome::kNoThread;
  }
  bool finished = WaitForSingleObject(worker, RemainingMs(deadline)) == WAIT_OBJECT_0;
  if (!finished) {
    EnterCriticalSection(&shared->lock);
    finished = shared->finished;  // it may have ended between the two
    if (!finished) shared->left_behind = true;
    LeaveCriticalSection(&shared->lock);
  }
  if (!finished) {
    InterlockedExchange(&left_calls_behind, 1);
    CloseHandle(worker);  // it frees what it worked on once it ends
    return CallOutcome::kLeftBehind;
  }
  WaitForSingleObject(worker, INFINITE);  // past its last touch of `shared`
  CloseHandle(worker);
  Free(shared);
  return CallOutcome::kFinished;
}

bool LeftCallsBehind() { return InterlockedCompareExchange(&left_calls_behind, 0, 0) != 0; }

// TerminateProcess, not ExitProcess: the latter ends the other threads
// wherever they are and then runs every DLL's detach, which waits forever
// on a lock that an ended thread held.
void EndProcessNow(int status) {
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) Sleep(INFINITE);
}

}  // namespace net
