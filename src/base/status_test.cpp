// SPDX-License-Identifier: Apache-2.0
#include "base/status.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(Status, ServerStatusesMapThroughTheTable) {
  EXPECT_EQ(ToPlatformError(OkStatus()), 0u);
  EXPECT_EQ(ToPlatformError(NtFailure(0xC0000022)), 5u);
  EXPECT_EQ(ToPlatformError(NtFailure(0xC00000CC)), 67u);
  EXPECT_EQ(ToPlatformError(NtFailure(0xC000006D)), 1326u);
  EXPECT_EQ(ToPlatformError(NtFailure(0xC0000003)), 87u);
  EXPECT_EQ(ToPlatformError(NtFailure(0xC0000001)), 31u);   // STATUS_UNSUCCESSFUL
  EXPECT_EQ(ToPlatformError(NtFailure(0xC00000D0)), 71u);   // STATUS_REQUEST_NOT_ACCEPTED
  EXPECT_EQ(ToPlatformError(NtFailure(0xC0000016)), 234u);  // MORE_PROCESSING_REQUIRED
  EXPECT_EQ(ToPlatformError(RpcFailure(0x1C00001A)), 6u);
  EXPECT_EQ(ToPlatformError(RpcFailure(0x1C010002)), 1745u);
}

TEST(Status, BindRejections) {
  EXPECT_EQ(ToPlatformError(RpcFailure(kBindRejectedInterface)), 1717u);
  EXPECT_EQ(ToPlatformError(RpcFailure(kBindRejectedTransfer)), 1730u);
  EXPECT_EQ(ToPlatformError(RpcFailure(kBindRejectedOther)), 1726u);
}

TEST(Status, TransportAndMalformed) {
  EXPECT_EQ(ToPlatformError(TransportFailure(kConnectRefused)), 53u);
  EXPECT_EQ(ToPlatformError(TransportFailure(kClosedEarly)), 53u);
  EXPECT_EQ(ToPlatformError(TransportFailure(kReplyTimeout)), 121u);
  EXPECT_EQ(ToPlatformError(TransportFailure(kClosed)), 64u);
  EXPECT_EQ(ToPlatformError(TransportFailure(kSocketFailure)), 59u);
  EXPECT_EQ(ToPlatformError(TransportFailure(kNoResources)), 8u);  // ours, not the network
  EXPECT_EQ(ToPlatformError(Malformed()), 58u);
  EXPECT_EQ(ToPlatformError(Status{StatusKind::kTransport, 999}), 59u);
}

TEST(Status, UnknownServerCodesPassThrough) {
  // STATUS_INVALID_SIGNATURE: no standard translation.
  EXPECT_EQ(ToPlatformError(NtFailure(0xC000A000)), 0xC000A000u);
  EXPECT_EQ(static_cast<int32_t>(ToPlatformError(NtFailure(0xC000A000))), -1073700864);
  EXPECT_EQ(ToPlatformError(RpcFailure(0x1C000017)), 0x1C000017u);
  // A fault that carries an NTSTATUS (an exception in the server's
  // routine) is that status, known or not.
  EXPECT_EQ(ToPlatformError(RpcFailure(0xC0000022)), 5u);
  EXPECT_EQ(ToPlatformError(RpcFailure(0xC000A000)), 0xC000A000u);
}

TEST(Status, KerberosFailuresSayWhoFailed) {
  EXPECT_EQ(static_cast<int32_t>(ToPlatformError(SecurityFailure(kNoAuthority))), -2146893039);
  EXPECT_EQ(static_cast<int32_t>(ToPlatformError(SecurityFailure(kTargetUnknown))), -2146893053);
  EXPECT_EQ(static_cast<int32_t>(ToPlatformError(SecurityFailure(kContextExpired))), -2146893033);
  EXPECT_EQ(ToPlatformError(SecurityFailure(kLogonFailed)), 1326u);
}

TEST(Status, FailureNeverReadsAsSuccess) {
  EXPECT_NE(ToPlatformError(NtFailure(0)), 0u);
  EXPECT_NE(ToPlatformError(RpcFailure(0)), 0u);
  EXPECT_NE(ToPlatformError(Status{StatusKind::kTransport, 0}), 0u);
}

TEST(Status, TableHasOneRowPerStatus) {
  size_t count = 0;
  const PlatformErrorRow* table = PlatformErrorTable(&count);
  ASSERT_GT(count, 40u);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_NE(table[i].platform, 0u) << table[i].name;
    for (size_t j = i + 1; j < count; ++j) {
      EXPECT_FALSE(table[i].kind == table[j].kind && table[i].code == table[j].code)
          << table[i].name << " / " << table[j].name;
    }
    EXPECT_EQ(ToPlatformError(Status{table[i].kind, table[i].code}), table[i].platform)
        << table[i].name;
  }
}

}  // namespace
}  // namespace net
