// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_names.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(Smb2Names, CommandsAndDialects) {
  char buffer[16];
  EXPECT_STREQ(DialectName(0x0311, buffer), "3.1.1");
  EXPECT_STREQ(DialectName(0x02FF, buffer), "0x02FF");
  EXPECT_STREQ(Smb2CommandName(3), "TREE_CONNECT");
  EXPECT_STREQ(Smb2CommandName(200), "SMB2 command");
}

}  // namespace
}  // namespace net
