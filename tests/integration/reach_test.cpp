// SPDX-License-Identifier: Apache-2.0
// Reaching a server the way a user meets it: a name whose first address
// is silent, a server that listens only on the NetBIOS session port.
// Each test starts and stops its own server; root and Samba needed.
#include <gtest/gtest.h>

#include <string>

#include "probe_runner.h"

namespace {

using namespace probe_runner;

TEST(ReachTest, SilentFirstAddressCostsAQuarterSecondNotATimeout) {
  SKIP_UNLESS_POSSIBLE();
  if (Shell("command -v nft").exit_code != 0) GTEST_SKIP() << "needs nft (nftables)";
  ASSERT_TRUE(Servers("start ki-race --netbios KIRACE"));
  // KIRACE is ::1, then 127.0.0.1 in the namespace: SYNs to [::1]:445 now
  // go nowhere, so that attempt hangs; the next starts 250 ms later.
  ASSERT_TRUE(Servers("silence ki-race ::1 445"));
  Probe direct = RunProbe("ki-race", "::1", "--connect-ms 500 --total-ms 3000");
  Probe named;
  std::string trace = TracedProbe("ki-race", "KIRACE", "", &named);
  Servers("stop ki-race");
  EXPECT_EQ(direct.status, 53) << direct.text;  // the address is silent indeed
  EXPECT_EQ(direct.port, 139u);                 // 139 refuses: the silence is reported
  EXPECT_EQ(named.status, 0) << named.text;
  EXPECT_EQ(named.name, "KIRACE");
  EXPECT_EQ(named.port, 445u);
  EXPECT_GE(named.ms, 240u);
  EXPECT_LT(named.ms, UnderValgrind() ? 4000u : 2500u);  // not the 5 s the attempt may take
  // The trace shows the dead address given up and the live one taken.
  for (const char* line :
       {"kestrin: addresses, in the order tried: [::1]:445 127.0.0.1:445\n",
        "kestrin: attempt [::1]:445: given up ", "kestrin: attempt 127.0.0.1:445: connected ",
        "kestrin: connect KIRACE port 445: ok", "kestrin: status 0: success\n"}) {
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
  }
}

TEST(ReachTest, ServerOnTheSessionPortOnly) {
  SKIP_UNLESS_POSSIBLE();
  ASSERT_TRUE(
      Servers("start ki-nbt --netbios KINBT --sid S-1-5-21-1-39-139 "
              "--conf 'smb ports = 139'"));
  for (const char* target : {"KINBT", "127.0.0.1", "::1"}) {
    SCOPED_TRACE(target);
    Probe p = RunProbe("ki-nbt", target);
    EXPECT_EQ(p.status, 0) << p.text;
    EXPECT_EQ(p.name, "KINBT");
    EXPECT_EQ(p.sid, "S-1-5-21-1-39-139");
    EXPECT_EQ(p.port, 139u);
  }
  Servers("stop ki-nbt");
}

TEST(ReachTest, NegativeSessionResponseOnTheSessionPort) {
  SKIP_UNLESS_POSSIBLE();
  ASSERT_TRUE(
      Servers("start ki-nbtdeny --conf 'smb ports = 139' --conf 'hosts deny = ALL' "
              "--ready tcp"));
  Probe p = RunProbe("ki-nbtdeny", "127.0.0.1");
  Servers("stop ki-nbtdeny");
  EXPECT_EQ(p.status, 53) << p.text;
  EXPECT_EQ(p.port, 139u);
  EXPECT_LT(p.ms, UnderValgrind() ? 4000u : 2500u);  // an answer, not a wait
}

TEST(ReachTest, ServerNotKnownByItsFirstLabelIsCalledAsSmbserver) {
  SKIP_UNLESS_POSSIBLE();
  ASSERT_TRUE(Servers("fake ki-nbtname nbt-name"));
  // By name the session request calls "KI-NBTNAME", which the fake says is
  // not present; called again as *SMBSERVER it answers, then sends junk
  // (58): the session was opened. By address *SMBSERVER is called at once.
  Probe by_name = RunProbe("ki-nbtname", "ki-nbtname");
  Probe by_address = RunProbe("ki-nbtname", "127.0.0.1");
  Servers("stop ki-nbtname");
  EXPECT_EQ(by_name.status, 58) << by_name.text;
  EXPECT_EQ(by_address.status, 58) << by_address.text;
  EXPECT_EQ(by_address.port, 139u);
}

}  // namespace
