// SPDX-License-Identifier: Apache-2.0
// CryptoReady and the primitives from several threads at once. POSIX only:
// the MinGW builds use the win32 thread model, which has no std::thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/crypto.h"
#include "testing/test_bytes.h"

namespace net {
namespace {

TEST(CryptoThreadTest, FirstUseFromManyThreadsAtOnce) {
  // RFC 4231 test case 2.
  static const char kData[] = "what do ya want for nothing?";
  const std::vector<uint8_t> want =
      Hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  std::atomic<int> waiting{8};
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) {
      }
      const ByteRange part = {reinterpret_cast<const uint8_t*>(kData), sizeof kData - 1};
      uint8_t out[32];
      bool ok = CryptoReady();
      for (int i = 0; ok && i < 200; ++i) {
        ok = HmacSha256(reinterpret_cast<const uint8_t*>("Jefe"), 4, &part, 1, out) &&
             std::vector<uint8_t>(out, out + 32) == want;
      }
      if (ok) good.fetch_add(1);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), 8);
}

}  // namespace
}  // namespace net
