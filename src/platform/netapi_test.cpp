// SPDX-License-Identifier: Apache-2.0
#include "platform/netapi.h"

#include <gtest/gtest.h>

namespace {

// Only level 2 exists; any other is refused before anything goes out.
TEST(PlatformCallTest, OnlyLevelTwoIsKnown) {
  LPBYTE buffer = reinterpret_cast<LPBYTE>(&buffer);
  EXPECT_EQ(Kestrin(reinterpret_cast<LPCWSTR>(u"x"), 1, &buffer), 124u);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(Kestrin(reinterpret_cast<LPCWSTR>(u"x"), 3, &buffer), 124u);
}

}  // namespace
