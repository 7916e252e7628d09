// SPDX-License-Identifier: Apache-2.0
// Work that may take longer than the query may wait: a library call with
// waits of its own that know nothing of our deadline (a Kerberos library
// asking its KDC, say). It runs on a thread of its own; the caller waits
// for it until the deadline and, if it is still running then, leaves it
// behind: it finishes alone and frees what it worked on.
// bounded_call_posix.cpp and bounded_call_win32.cpp implement it.
#ifndef KESTRIN_BASE_BOUNDED_CALL_H_
#define KESTRIN_BASE_BOUNDED_CALL_H_

#include <stdint.h>

namespace net {

struct BoundedCall {
  void (*run)(void* work) = nullptr;
  /// Frees `work`; called on the worker's thread, once, only when the
  /// caller left the call behind.
  void (*release)(void* work) = nullptr;
  void* work = nullptr;
};

enum class CallOutcome : uint8_t {
  kFinished,    // run returned in time; the caller still owns `work`
  kLeftBehind,  // still running at the deadline; `work` is no longer the caller's
  kNoThread,    // no thread could be had; nothing ran
};

/// Runs `call.run(call.work)` on a thread of its own and waits for it
/// until `deadline` (a MonotonicMs time).
CallOutcome RunBounded(const BoundedCall& call, uint64_t deadline);

/// Whether this process has left a call behind (it may still be running).
bool LeftCallsBehind();

/// Ends the process with `status` at once, standard output flushed: no
/// library's shutdown runs, so none pulls its state from under a call
/// still running (a Kerberos library's finalizers, a DLL's detach under
/// the loader lock that the call may hold).
[[noreturn]] void EndProcessNow(int status);

}  // namespace net

#endif  // KESTRIN_BASE_BOUNDED_CALL_H_
