// SPDX-License-Identifier: Apache-2.0
// What both socket layers must say alike, run natively and under Wine.
#include "transport/socket.h"

#include <gtest/gtest.h>

namespace net {
namespace {

bool IsTransport(Status s, TransportError e) {
  return s.kind == StatusKind::kTransport && s.code == e;
}

TEST(SocketLayer, LinkLocalAddressWithoutAZoneIsUnreachable) {
  // No interface to send it from: the systems refuse it as an argument
  // (EINVAL, WSAEINVAL), which is no unexpected network error but a path
  // that cannot be reached as given. Nothing goes out.
  for (const char* address : {"fe80::1", "fe80::1:2:3:4", "febf::9"}) {
    SCOPED_TRACE(address);
    Connection c;
    uint64_t start = MonotonicMs();
    EXPECT_TRUE(
        IsTransport(ConnectTcp(address, 445, 1000, MonotonicMs() + 1000, &c), kUnreachable));
    EXPECT_EQ(c.handle, -1);
    EXPECT_LT(MonotonicMs() - start, 500u);
  }
}

}  // namespace
}  // namespace net
