// SPDX-License-Identifier: Apache-2.0
#include "transport/host_address.h"

#include <gtest/gtest.h>

namespace {

TEST(HostAddress, AddressesAreToldFromNamesWithoutALookUp) {
  for (const char* address :
       {"127.0.0.1", "::1", "fe80::1%eth0", "10.1", "0x7f.0.0.1", "2130706433", "0177.0.0.1"}) {
    EXPECT_TRUE(net::HostIsAddress(address)) << address;
  }
  for (const char* name : {"member1", "member1.sales.test", "cafe", "add.test", "1e100.net", "0x",
                           "127.0.0.1.example", "", "a..b"}) {
    EXPECT_FALSE(net::HostIsAddress(name)) << name;
  }
}

}  // namespace
