// The query against real Samba servers and fake listeners, each in a network
// namespace of its own (scripts/test-servers.sh). The query runs in the
// probe program inside the namespace. Needs root and smbd; skipped without.
//
// KESTRIN_VALGRIND=1 runs every probe under valgrind's leak checker; a
// memory error or leak then fails the test.
#include <gtest/gtest.h>

#include <string>

#include "platform/netapi.h"
#include "probe_runner.h"

namespace {

using namespace probe_runner;

// One standalone server for the whole suite: starting one costs about 0.6 s.
class StandaloneServerTest : public ::testing::Test {
 protected:
  static constexpr const char* kServer = "ki-sales";
  static bool started_;

  static void SetUpTestSuite() {
    started_ = MissingPrerequisite().empty() &&
               Servers(std::string("start ") + kServer +
                       " --netbios KISALES --workgroup KIWG --sid S-1-5-21-100-200-300");
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
  for (const char* target : {"127.0.0.1", "::1", "[::1]", "KISALES", "\\\\KISALES", "kisales",
                             "localhost"}) {
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

// The trace of a query that succeeds names every step, and the status.
TEST_F(StandaloneServerTest, TraceOfASuccess) {
  Probe p;
  std::string trace = TracedProbe(kServer, "127.0.0.1", "KRB5CCNAME=FILE:/nonexistent", &p);
  EXPECT_EQ(p.status, 0) << p.text;
  for (const char* line : {"kestrin: host 127.0.0.1\n", "kestrin: connect 127.0.0.1 port 445: ok",
                           "kestrin: logon: NTLM_USER_FILE is not set\n",
                           "kestrin: logon: anonymous, as no credential fits\n",
                           "kestrin: NEGOTIATE STATUS_SUCCESS", "kestrin: dialect 3.1.1, signing",
                           "kestrin: SESSION_SETUP STATUS_MORE_PROCESSING_REQUIRED",
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
  EXPECT_LT(p.ms, 2000u);
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

INSTANTIATE_TEST_SUITE_P(
    Edges, UnusualDomainTest,
    ::testing::Values(
        Domain{"M\xc3\xbcller", "S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13", "M\xc3\x9cLLER"},
        Domain{"A\xf0\x9f\x98\x80" "B", "S-1-0xFFFFFFFFFFFF-21-1-2-3", "A\xf0\x9f\x98\x80" "B"},
        Domain{"x", "S-1-5", "X"}));

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
  ASSERT_TRUE(Servers("start ki-nt1 --conf 'server min protocol = NT1' "
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
    Probe p = RunProbe("ki-none", target);
    EXPECT_EQ(p.status, 53) << p.text;
    EXPECT_LT(p.ms, 1000u);
  }
}

TEST_F(FakeServerTest, SilentListenerTimesOutOnTime) {
  const uint32_t reply_ms = 1500;
  Probe p = RunProbe("ki-silent", "127.0.0.1",
                     "--connect-ms 1500 --reply-ms " + std::to_string(reply_ms) + " --total-ms 8000");
  EXPECT_EQ(p.status, 121) << p.text;
  EXPECT_GE(p.ms, reply_ms - 50);
  EXPECT_LT(p.ms, reply_ms + (UnderValgrind() ? 2000u : 1000u));
  EXPECT_LT(p.wall_ms, reply_ms + StartupMs() + 1000);
}

TEST_F(FakeServerTest, TotalLimitCutsAReplyWaitShort) {
  Probe p = RunProbe("ki-silent", "::1", "--reply-ms 10000 --total-ms 1000");
  EXPECT_EQ(p.status, 121) << p.text;
  EXPECT_LT(p.ms, 1000u + (UnderValgrind() ? 2000u : 1000u));
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
            std::string::npos) << trace;
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
  EXPECT_LT(p.ms, 1500u + (UnderValgrind() ? 2000u : 1000u));
  EXPECT_LT(p.wall_ms, 1500u + StartupMs() + 1000);
}

TEST(PlatformCallTest, OnlyLevelTwoIsKnown) {
  LPBYTE buffer = reinterpret_cast<LPBYTE>(&buffer);
  EXPECT_EQ(Kestrin(reinterpret_cast<LPCWSTR>(u"x"), 1, &buffer), 124u);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(Kestrin(reinterpret_cast<LPCWSTR>(u"x"), 3, &buffer), 124u);
}

}  // namespace
