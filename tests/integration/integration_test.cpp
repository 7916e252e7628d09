// SPDX-License-Identifier: Apache-2.0
// The query against real Samba servers and fake listeners, each in a network
// namespace of its own (scripts/test-servers.sh). The query runs in the
// probe program inside the namespace. Needs root and smbd; skipped without.
//
// KESTRIN_VALGRIND=1 runs every probe under valgrind's leak checker; a
// memory error or leak then fails the test.
#include <gtest/gtest.h>

#include <string>

#include "probe_runner.h"

namespace {

using namespace probe_runner;

// Upper bounds on time leave this much for a loaded 2-core machine, where
// starting the probe in its namespace and getting scheduled can take a
// second or more; each bound still catches a wait that runs to a limit
// other than the one under test.
constexpr uint64_t kLoadMarginMs = 2500;
uint64_t Margin() { return kLoadMarginMs + (UnderValgrind() ? 3000 : 0); }

// One standalone server for the whole suite: starting one costs about 0.6 s.
// It logs the tree path of each TREE_CONNECT (smb2 debug class at 10).
class StandaloneServerTest : public ::testing::Test {
 protected:
  static constexpr const char* kServer = "ki-sales";
  static bool started_;

  static void SetUpTestSuite() {
    started_ = MissingPrerequisite().empty() &&
               Servers(std::string("start ") + kServer +
                       " --netbios KISALES --workgroup KIWG --sid S-1-5-21-100-200-300"
                       " --conf 'log level = 1 smb2:10'");
  }
  static void TearDownTestSuite() {
    if (started_) Servers(std::string("stop ") + kServer);
  }
  void SetUp() override {
    SKIP_UNLESS_POSSIBLE();
    ASSERT_TRUE(started_) << "the server did not start";
  }
};
bool StandaloneServerTest::started_ = false;

TEST_F(StandaloneServerTest, AnswersOverEveryAddressAndName) {
  // By address, by the NetBIOS name from the namespace's hosts file, and
  // in the forms a user types.
  for (const char* target :
       {"127.0.0.1", "::1", "[::1]", "KISALES", "\\\\KISALES", "kisales", "localhost"}) {
    SCOPED_TRACE(target);
    Probe p = RunProbe(kServer, target);
    EXPECT_EQ(p.status, 0) << p.text;
    EXPECT_EQ(p.name, "KISALES");
    EXPECT_EQ(p.sid, "S-1-5-21-100-200-300");
  }
}

TEST_F(StandaloneServerTest, AgreesWithRpcclient) {
  std::string name, sid;
  ASSERT_NO_FATAL_FAILURE(Rpcclient(kServer, &name, &sid));
  Probe p = RunProbe(kServer, "127.0.0.1");
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.name, name);
  EXPECT_EQ(p.sid, sid);
}

// A busy Windows server answers every pipe IOCTL first as pending (72
// bytes), then finally in the async form: the anonymous query answers, in
// as many round trips.
TEST_F(StandaloneServerTest, InterimAnswersAsWindowsSendsThem) {
  ASSERT_NO_FATAL_FAILURE(TamperProxy(kServer, "127.0.0.9", "127.0.0.1", "interim"));
  Probe p;
  std::string trace = TracedProbe(kServer, "127.0.0.9", "KRB5CCNAME=FILE:/nonexistent", &p);
  TamperProxy(kServer, "127.0.0.9", "127.0.0.1", "");
  EXPECT_NE(trace.find("IOCTL STATUS_PENDING (interim)"), std::string::npos) << trace;
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.sid, "S-1-5-21-100-200-300");
  EXPECT_EQ(p.round_trips, 6u);
}

// The trace of a query that succeeds names every step, and the status.
TEST_F(StandaloneServerTest, TraceOfASuccess) {
  Probe p;
  std::string trace = TracedProbe(kServer, "127.0.0.1", "KRB5CCNAME=FILE:/nonexistent", &p);
  EXPECT_EQ(p.status, 0) << p.text;
  for (const char* line :
       {"kestrin: host 127.0.0.1\n", "kestrin: connect 127.0.0.1 port 445: ok",
        "kestrin: logon: NTLM_USER_FILE is not set\n",
        "kestrin: logon: anonymous, as no credential fits\n", "kestrin: NEGOTIATE STATUS_SUCCESS",
        "kestrin: dialect 3.1.1, signing", "kestrin: SESSION_SETUP STATUS_MORE_PROCESSING_REQUIRED",
        "kestrin: session: anonymous, unsigned, not encrypted\n",
        "kestrin: TREE_CONNECT STATUS_SUCCESS", "kestrin: CREATE STATUS_SUCCESS",
        "kestrin: IOCTL STATUS_SUCCESS", "kestrin: status 0: success\n"}) {
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
  }
  // A trace that cannot be written changes nothing.
  p = RunProbe(kServer, "127.0.0.1", "", "KESTRIN_TRACE=/nonexistent-directory/trace");
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.name, "KISALES");
}

TEST_F(StandaloneServerTest, NameThatDoesNotResolve) {
  Probe p = RunProbe(kServer, "nosuchhost.invalid");
  EXPECT_EQ(p.status, 53) << p.text;
  EXPECT_LT(p.ms, 500 + Margin());  // the resolver alone would wait 20 s
}

// An IPv6 literal, with brackets or without, goes into the tree path in the
// ipv6-literal.net form that Windows servers take: no ':', '[' or '%'.
TEST_F(StandaloneServerTest, TreePathNamesAnIpv6LiteralTheWayServersTakeIt) {
  for (const char* target : {"::1", "[::1]"}) {
    Probe p = RunProbe(kServer, target);
    EXPECT_EQ(p.status, 0) << p.text;
  }
  Output log = Shell("cat " + Quote(Where(kServer).dir) + "/log/log.*");
  const std::string tag = "smbd_smb2_tree_connect: path[";
  size_t literal_net = 0;
  for (size_t at = log.text.find(tag); at != std::string::npos; at = log.text.find(tag, at + 1)) {
    std::string path = log.text.substr(at + tag.size(), log.text.find(']', at) - at - tag.size());
    EXPECT_EQ(path.find_first_of(":[%"), std::string::npos) << path;
    literal_net += path == "\\\\0--1.ipv6-literal.net\\IPC$" ? 1 : 0;
  }
  EXPECT_GE(literal_net, 2u) << log.text.substr(0, 4000);
}

// Names and SIDs at the edges of what Samba serves: upper-casing of
// non-ASCII letters, a letter outside the BMP, no sub-authorities, the
// most (14) a server will start with, and an authority past 32 bits.
struct Domain {
  const char* netbios;
  const char* sid;
  const char* name;  // what the server reports
};

class UnusualDomainTest : public ::testing::TestWithParam<Domain> {};

TEST_P(UnusualDomainTest, ReportsWhatTheServerHolds) {
  SKIP_UNLESS_POSSIBLE();
  const Domain& d = GetParam();
  ASSERT_TRUE(Servers(std::string("start ki-odd --netbios ") + Quote(d.netbios) + " --sid " +
                      Quote(d.sid)));
  std::string rpc_name, rpc_sid;
  Rpcclient("ki-odd", &rpc_name, &rpc_sid);
  Probe p = RunProbe("ki-odd", "127.0.0.1");
  Servers("stop ki-odd");
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.name, d.name);
  EXPECT_EQ(p.name, rpc_name);
  EXPECT_EQ(p.sid, d.sid);  // not rpcclient's text: it differs for large authorities
}

INSTANTIATE_TEST_SUITE_P(Edges, UnusualDomainTest,
                         ::testing::Values(Domain{"M\xc3\xbcller",
                                                  "S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13",
                                                  "M\xc3\x9cLLER"},
                                           Domain{"A\xf0\x9f\x98\x80"
                                                  "B",
                                                  "S-1-0xFFFFFFFFFFFF-21-1-2-3",
                                                  "A\xf0\x9f\x98\x80"
                                                  "B"},
                                           Domain{"x", "S-1-5", "X"}));

// Servers that grant one or two credits at a time (MS-SMB2 lets them): the
// compound that opens the pipe then goes one request at a time, each with
// the tree or file the answer before it gave. The answer is the same, at
// the cost of two round trips (one credit) or one (two).
TEST(StingyServerTest, FewCreditsCostRoundTripsNotTheAnswer) {
  SKIP_UNLESS_POSSIBLE();
  for (unsigned credits : {1u, 2u}) {
    SCOPED_TRACE(credits);
    ASSERT_TRUE(
        Servers("start ki-credits --netbios KICREDIT --sid S-1-5-21-10-20-30 "
                "--conf 'smb2 max credits = " +
                std::to_string(credits) + "'"));
    Probe p = RunProbe("ki-credits", "127.0.0.1");
    Servers("stop ki-credits");
    EXPECT_EQ(p.status, 0) << p.text;
    EXPECT_EQ(p.name, "KICREDIT");
    EXPECT_EQ(p.sid, "S-1-5-21-10-20-30");
    EXPECT_EQ(p.round_trips, credits == 1 ? 8u : 7u);
  }
}

// Servers that refuse: each runs alone, started and stopped in its test.
TEST(RefusingServerTest, AnonymousRefusedIsAccessDenied) {
  SKIP_UNLESS_POSSIBLE();
  ASSERT_TRUE(Servers("start ki-ra2 --conf 'restrict anonymous = 2' --ready tcp"));
  Probe p = RunProbe("ki-ra2", "127.0.0.1");
  Servers("stop ki-ra2");
  EXPECT_EQ(p.status, 5) << p.text;
}

TEST(RefusingServerTest, TraceOfAnAccessDenied) {
  SKIP_UNLESS_POSSIBLE();
  ASSERT_TRUE(Servers("start ki-ra2t --conf 'restrict anonymous = 2' --ready tcp"));
  Probe p;
  std::string trace = TracedProbe("ki-ra2t", "127.0.0.1", "KRB5CCNAME=FILE:/nonexistent", &p);
  Servers("stop ki-ra2t");
  EXPECT_EQ(p.status, 5) << p.text;
  EXPECT_NE(trace.find("kestrin: TREE_CONNECT STATUS_ACCESS_DENIED"), std::string::npos) << trace;
  EXPECT_NE(trace.find("kestrin: status 5: STATUS_ACCESS_DENIED\n"), std::string::npos) << trace;
}

TEST(RefusingServerTest, Smb1OnlyServerIsBadNetPath) {
  SKIP_UNLESS_POSSIBLE();
  ASSERT_TRUE(
      Servers("start ki-nt1 --conf 'server min protocol = NT1' "
              "--conf 'server max protocol = NT1' --ready tcp"));
  Probe p = RunProbe("ki-nt1", "127.0.0.1");
  Servers("stop ki-nt1");
  EXPECT_EQ(p.status, 53) << p.text;
}

// Fake listeners, all started once for the suite (each takes ~0.1 s).
class FakeServerTest : public ::testing::Test {
 protected:
  static bool started_;
  static constexpr const char* kModes[] = {"none", "silent", "close", "junk", "silent-dns"};

  static void SetUpTestSuite() {
    started_ = MissingPrerequisite().empty();
    for (const char* mode : kModes) {
      started_ = started_ && Servers(std::string("fake ki-") + mode + " " + mode);
    }
  }
  static void TearDownTestSuite() {
    if (!MissingPrerequisite().empty()) return;
    for (const char* mode : kModes) Servers(std::string("stop ki-") + mode);
  }
  void SetUp() override {
    SKIP_UNLESS_POSSIBLE();
    ASSERT_TRUE(started_) << "the fakes did not start";
  }
};
bool FakeServerTest::started_ = false;
constexpr const char* FakeServerTest::kModes[];

TEST_F(FakeServerTest, NoListenerIsBadNetPath) {
  for (const char* target : {"127.0.0.1", "::1", "ki-none"}) {
    SCOPED_TRACE(target);
    Probe p = RunProbe("ki-none", target, "--connect-ms 5000 --total-ms 19000");
    EXPECT_EQ(p.status, 53) << p.text;
    EXPECT_LT(p.ms, Margin());  // refused at once, not after the 5 s
  }
}

// The limits under test are far enough apart that a wait running to the
// wrong one shows through the margin.
TEST_F(FakeServerTest, SilentListenerTimesOutOnTime) {
  const uint32_t reply_ms = 1500;
  Probe p =
      RunProbe("ki-silent", "127.0.0.1",
               "--connect-ms 1500 --reply-ms " + std::to_string(reply_ms) + " --total-ms 12000");
  EXPECT_EQ(p.status, 121) << p.text;
  EXPECT_GE(p.ms, reply_ms - 50);
  EXPECT_LT(p.ms, reply_ms + Margin());
  EXPECT_LT(p.wall_ms, reply_ms + StartupMs() + Margin());
}

TEST_F(FakeServerTest, TotalLimitCutsAReplyWaitShort) {
  Probe p = RunProbe("ki-silent", "::1", "--reply-ms 10000 --total-ms 1000");
  EXPECT_EQ(p.status, 121) << p.text;
  EXPECT_LT(p.ms, 1000 + Margin());
}

TEST_F(FakeServerTest, CloseBeforeAnswerIsBadNetPath) {
  // Closing before NEGOTIATE's answer is what an SMB1-only server does, so
  // it reads as "not an SMB2 server" (53); a reset racing the close can only
  // be seen as a later close (64).
  for (const char* target : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(target);
    Probe p = RunProbe("ki-close", target);
    EXPECT_TRUE(p.status == 53 || p.status == 64) << p.text;
  }
}

TEST_F(FakeServerTest, JunkIsBadNetResponse) {
  Probe p = RunProbe("ki-junk", "127.0.0.1");
  EXPECT_EQ(p.status, 58) << p.text;
}

TEST_F(FakeServerTest, TraceOfARefusalAndOfJunk) {
  Probe p;
  std::string trace = TracedProbe("ki-none", "127.0.0.1", "", &p);
  EXPECT_EQ(p.status, 53) << p.text;
  EXPECT_NE(trace.find("kestrin: connect 127.0.0.1 port 445: connection refused"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("kestrin: status 53: connection refused\n"), std::string::npos) << trace;
  trace = TracedProbe("ki-junk", "127.0.0.1", "", &p);
  EXPECT_EQ(p.status, 58) << p.text;
  EXPECT_NE(trace.find("kestrin: NEGOTIATE no answer"), std::string::npos) << trace;
  EXPECT_NE(trace.find("kestrin: status 58: malformed reply\n"), std::string::npos) << trace;
}

TEST_F(FakeServerTest, NameLookupIsBoundedByTheTotalLimit) {
  // The namespace's DNS server never answers; the resolver alone would wait
  // for 20 s.
  Probe p = RunProbe("ki-silent-dns", "nosuchhost.invalid", "--total-ms 1500");
  EXPECT_EQ(p.status, 53) << p.text;
  EXPECT_LT(p.ms, 1500 + Margin());
  EXPECT_LT(p.wall_ms, 1500 + StartupMs() + Margin());
}

}  // namespace
