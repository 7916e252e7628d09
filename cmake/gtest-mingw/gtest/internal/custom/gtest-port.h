// GoogleTest's hook for embedders, found ahead of its own empty one in the
// MinGW builds (see CMakeLists.txt).
//
// We build with GCC's win32 thread model, whose C++ library has no std::mutex
// or std::condition_variable: the posix model would link its pthread
// emulation into kestrin.exe, which needs calls that Windows 5.0 lacks.
// GoogleTest needs those two only for its Notification, so this provides one
// over an atomic flag. Only GoogleTest's own threads use it; ours have none.
#ifndef KESTRIN_GTEST_CUSTOM_PORT_H_
#define KESTRIN_GTEST_CUSTOM_PORT_H_

#include <bits/c++config.h>

#ifndef _GLIBCXX_HAS_GTHREADS
#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif  // !_GLIBCXX_HAS_GTHREADS

#endif  // KESTRIN_GTEST_CUSTOM_PORT_H_
