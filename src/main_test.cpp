// SPDX-License-Identifier: Apache-2.0
// The driver against a fake query and a malloc that can be made to fail.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/netapi.h"

namespace {

/// Wide text as the platform has it: wchar_t on Windows, char16_t elsewhere.
typedef std::basic_string<WCHAR> WideText;

// What the fakes saw and do, reset by each test.
struct Seams {
  NET_API_STATUS status = 0;
  LPBYTE record = NULL;
  bool fail_malloc = false;
  int kestrin_calls = 0;
  LPCWSTR server_seen = NULL;
  DWORD level_seen = 0;
  std::vector<std::string> events;  // "malloc 152", "release", "free", in order
  void* record_released = NULL;
  void* text_allocated = NULL;
  void* text_freed = NULL;
};
Seams seams;

}  // namespace

NET_API_STATUS Kestrin(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  ++seams.kestrin_calls;
  seams.server_seen = servername;
  seams.level_seen = level;
  *bufptr = seams.status == 0 ? seams.record : NULL;
  return seams.status;
}

NET_API_STATUS NetApiBufferFree(LPVOID buffer) {
  seams.events.push_back("release");
  seams.record_released = buffer;
  return 0;
}

void* DriverTestMalloc(size_t size) {
  seams.events.push_back("malloc " + std::to_string(size));
  seams.text_allocated = seams.fail_malloc ? NULL : malloc(size);
  return seams.text_allocated;
}

void DriverTestFree(void* block) {
  seams.events.push_back("free");
  seams.text_freed = block;
  free(block);
}

namespace {

// A record as the query hands it back: one block, as Kestrin packs it.
struct FakeRecord {
  USER_MODALS_INFO_2 info;
  BYTE sid[8 + 4 * 15];
  WCHAR name[64];
};

FakeRecord* MakeRecord(LPCWSTR name, BYTE revision, std::vector<DWORD> subs) {
  static FakeRecord record;
  memset(&record, 0, sizeof record);
  SID* sid = reinterpret_cast<SID*>(record.sid);
  sid->Revision = revision;
  sid->SubAuthorityCount = static_cast<BYTE>(subs.size());
  sid->IdentifierAuthority.Value[5] = 5;
  if (!subs.empty()) memcpy(record.sid + 8, subs.data(), 4 * subs.size());
  WideText n(name);
  memcpy(record.name, n.c_str(), 2 * (n.size() + 1));
  record.info.usrmod2_domain_name = record.name;
  record.info.usrmod2_domain_id = sid;
  return &record;
}

struct DriverRun {
  int exit_status;
  std::string output;
};

DriverRun RunDriver(std::vector<WideText> args) {
  std::vector<WCHAR*> argv;
  for (WideText& a : args) argv.push_back(&a[0]);
  argv.push_back(NULL);
  testing::internal::CaptureStdout();
  int status = wmain(static_cast<int>(args.size()), argv.data());
  fflush(stdout);
  return DriverRun{status, testing::internal::GetCapturedStdout()};
}

const char kHead[] = "Kestrin Test...\n=========================================\n";

class DriverTest : public testing::Test {
 protected:
  void SetUp() override { seams = Seams(); }
};

TEST_F(DriverTest, WrongArgumentCountPrintsUsageAndMakesNoQuery) {
  const std::string usage = std::string(kHead) + "Usage: Kestrin {\\\\RemoteComputer}\n";
  for (auto args : {std::vector<WideText>{TEXT("kestrin")},
                    std::vector<WideText>{TEXT("kestrin"), TEXT("a"), TEXT("b")}}) {
    DriverRun run = RunDriver(args);
    EXPECT_EQ(1, run.exit_status);
    EXPECT_EQ(usage, run.output);
  }
  EXPECT_EQ(0, seams.kestrin_calls);
  EXPECT_TRUE(seams.events.empty());
}

TEST_F(DriverTest, SuccessPrintsFiveLinesAndReleasesRecordThenText) {
  seams.record = reinterpret_cast<LPBYTE>(MakeRecord(TEXT("SALES"), 1, {21, 100, 200, 300}));
  DriverRun run = RunDriver({TEXT("kestrin"), TEXT("\\\\sales")});
  EXPECT_EQ(0, run.exit_status);
  EXPECT_EQ(std::string(kHead) +
                "Kestrin resulted in return code 0.\n"
                "Returned domain name: SALES\n"
                "Returned domain ID: S-1-5-21-100-200-300\n",
            run.output);
  EXPECT_EQ(2u, seams.level_seen);
  EXPECT_EQ((std::vector<std::string>{"malloc 152", "release", "free"}), seams.events);
  EXPECT_EQ(seams.record, seams.record_released);
  EXPECT_EQ(seams.text_allocated, seams.text_freed);
}

TEST_F(DriverTest, ArgumentIsPassedOnUnchanged) {
  seams.status = 53;
  for (LPCWSTR typed : {TEXT(""), TEXT("sales"), TEXT("\\\\sales"), TEXT("\\\\\\x y")}) {
    std::vector<WideText> args = {TEXT("kestrin"), typed};
    std::vector<WCHAR*> argv = {&args[0][0], &args[1][0], NULL};
    testing::internal::CaptureStdout();
    wmain(2, argv.data());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(argv[1], seams.server_seen);  // the very same text, not a copy
    EXPECT_EQ(WideText(typed), WideText(seams.server_seen));
  }
}

TEST_F(DriverTest, FailedQueryPrintsStatusAndReleasesNothing) {
  struct {
    NET_API_STATUS status;
    const char* printed;
  } rows[] = {
      {5, "5"},
      {53, "53"},
      {121, "121"},
      {124, "124"},
      {0xC0000022, "-1073741790"},  // a server status the table does not know
  };
  for (auto row : rows) {
    seams = Seams();
    seams.status = row.status;
    seams.record = reinterpret_cast<LPBYTE>(MakeRecord(TEXT("X"), 1, {}));
    DriverRun run = RunDriver({TEXT("kestrin"), TEXT("host")});
    EXPECT_EQ(2, run.exit_status);
    EXPECT_EQ(std::string(kHead) + "Kestrin resulted in return code " + row.printed + ".\n",
              run.output);
    EXPECT_TRUE(seams.events.empty()) << row.printed;
  }
}

TEST_F(DriverTest, SidWithoutSubAuthoritiesNeeds56Bytes) {
  seams.record = reinterpret_cast<LPBYTE>(MakeRecord(TEXT("NT AUTHORITY"), 1, {}));
  DriverRun run = RunDriver({TEXT("kestrin"), TEXT("h")});
  EXPECT_EQ(0, run.exit_status);
  EXPECT_NE(std::string::npos, run.output.find("Returned domain ID: S-1-5\n"));
  EXPECT_EQ("malloc 56", seams.events.at(0));
}

TEST_F(DriverTest, AllocationFailureStillReleasesTheRecordAndExitsZero) {
  seams.record = reinterpret_cast<LPBYTE>(MakeRecord(TEXT("SALES"), 1, {21, 100, 200, 300}));
  seams.fail_malloc = true;
  DriverRun run = RunDriver({TEXT("kestrin"), TEXT("h")});
  EXPECT_EQ(0, run.exit_status);
  EXPECT_EQ(std::string(kHead) +
                "Kestrin resulted in return code 0.\n"
                "Returned domain name: SALES\n"
                "Memory allocation error!\n",
            run.output);
  EXPECT_EQ((std::vector<std::string>{"malloc 152", "release"}), seams.events);
}

TEST_F(DriverTest, InvalidSidIsReportedWithoutAllocatingOrPrintingGarbage) {
  seams.record = reinterpret_cast<LPBYTE>(MakeRecord(TEXT("SALES"), 2, {21}));
  DriverRun run = RunDriver({TEXT("kestrin"), TEXT("h")});
  EXPECT_EQ(0, run.exit_status);
  EXPECT_EQ(std::string(kHead) +
                "Kestrin resulted in return code 0.\n"
                "Returned domain name: SALES\n"
                "Returned domain ID: (not valid)\n",
            run.output);
  EXPECT_EQ((std::vector<std::string>{"release"}), seams.events);
}

TEST_F(DriverTest, NonAsciiDomainNamePrintsAsUtf8) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows runtime prints wide text in its own default locale";
#endif
  seams.record = reinterpret_cast<LPBYTE>(MakeRecord(TEXT("M\u00dcLLER \u6771\u4eac"), 1, {1}));
  DriverRun run = RunDriver({TEXT("kestrin"), TEXT("h")});
  EXPECT_NE(std::string::npos,
            run.output.find("Returned domain name: M\xc3\x9cLLER \xe6\x9d\xb1\xe4\xba\xac\n"));
}

}  // namespace
