// SPDX-License-Identifier: Apache-2.0
// The integration tests' entry. Each run has test servers of its own: under
// the namespace prefix and state directory the caller gave (scripts/test.sh
// gives one per run), or under ones made from this process's id, whose
// servers are all stopped at the end. A run in which every test was skipped
// (not root, a package missing) exits with 77, which CTest reports as
// skipped rather than passed.
#include <unistd.h>

#include <gtest/gtest.h>

#include "probe_runner.h"

int main(int argc, char** argv) {
  bool own = probe_runner::ClaimRunPrefix();
  ::testing::InitGoogleTest(&argc, argv);
  int failed = RUN_ALL_TESTS();
  if (own && geteuid() == 0) probe_runner::StopRunServers();
  const ::testing::UnitTest* run = ::testing::UnitTest::GetInstance();
  if (failed == 0 && run->skipped_test_count() > 0 && run->successful_test_count() == 0) {
    return 77;
  }
  return failed;
}
