// SPDX-License-Identifier: Apache-2.0
// The trace: where it goes, what its lines look like, and that it costs
// nothing and changes nothing when it is not wanted.
#include "base/trace.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>

#include "base/ntstatus.h"

namespace net {
namespace {

void SetTraceVariable(const char* value) {
#ifdef _WIN32
  std::string assignment = std::string("KESTRIN_TRACE=") + (value != nullptr ? value : "");
  _putenv(assignment.c_str());
#else
  if (value == nullptr) {
    unsetenv("KESTRIN_TRACE");
  } else {
    setenv("KESTRIN_TRACE", value, 1);
  }
#endif
}

std::string ReadFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

void WriteFile(const std::string& path, const char* text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs(text, f);
  fclose(f);
}

/// Whether KESTRIN_TRACE=`path` opens a trace; one line is written if so.
bool TraceOpensAt(const std::string& path) {
  SetTraceVariable(path.c_str());
  Trace trace;
  OpenTrace(&trace);
  bool tracing = Tracing(&trace);
  TraceLine(&trace, "two");
  CloseTrace(&trace);
  SetTraceVariable(nullptr);
  return tracing;
}

TEST(Trace, UnsetOrEmptyOpensNothing) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    SetTraceVariable(value);
    Trace trace;
    OpenTrace(&trace);
    EXPECT_FALSE(Tracing(&trace));
    TraceLine(&trace, "nothing %d", 1);  // and nothing happens
    CloseTrace(&trace);
  }
  TraceLine(nullptr, "nothing");
}

TEST(Trace, LinesAreAppendedWhole) {
  std::string path = testing::TempDir() + "kestrin_trace_test.txt";
  remove(path.c_str());
  SetTraceVariable(path.c_str());
  for (int run = 0; run < 2; ++run) {
    Trace trace;
    OpenTrace(&trace);
    ASSERT_TRUE(Tracing(&trace));
    TraceLine(&trace, "run %d %s", run, "done");
    CloseTrace(&trace);
  }
  EXPECT_EQ(ReadFile(path), "kestrin: run 0 done\nkestrin: run 1 done\n");
  // A line longer than the buffer is cut, never overrun.
  Trace trace;
  OpenTrace(&trace);
  TraceLine(&trace, "%s", std::string(2000, 'x').c_str());
  CloseTrace(&trace);
  std::string text = ReadFile(path);
  EXPECT_LT(text.size(), 2 * 30u + 600u);
  EXPECT_EQ(text.back(), '\n');
  remove(path.c_str());
  SetTraceVariable(nullptr);
}

TEST(Trace, AFileThatCannotBeOpenedIsNoTrace) {
  SetTraceVariable("/nonexistent-directory/kestrin.trace");
  Trace trace;
  OpenTrace(&trace);
  EXPECT_FALSE(Tracing(&trace));
  CloseTrace(&trace);
  SetTraceVariable(nullptr);
}

// What a KDC's e-text or a server's name can hold reaches the trace as
// text that neither breaks the line nor reaches the terminal, and an
// escape in the original cannot pass for one of ours.
TEST(Trace, OutsideTextIsEscapedByteByByte) {
  std::string path = testing::TempDir() + "kestrin_trace_escape.txt";
  remove(path.c_str());
  SetTraceVariable(path.c_str());
  Trace trace;
  OpenTrace(&trace);
  ASSERT_TRUE(Tracing(&trace));
  const char forged[] = "KDC says\n\x1b[2J\rkestrin: status 0: success\x7f\\x41 m\xc3\xbcller\xff";
  TraceLine(&trace, "logon: Kerberos: %s", forged);
  CloseTrace(&trace);
  EXPECT_EQ(ReadFile(path),
            "kestrin: logon: Kerberos: KDC says\\x0A\\x1B[2J\\x0Dkestrin: status 0: success"
            "\\x7F\\x5Cx41 m\\xC3\\xBCller\\xFF\n");
  remove(path.c_str());
  SetTraceVariable(nullptr);

  // Held lines (a worker's) are escaped alike and written whole later.
  std::string held;
  Trace worker;
  worker.held = &held;
  TraceLine(&worker, "a\tb");
  EXPECT_EQ(held, "kestrin: a\\x09b\n");
}

#ifndef _WIN32
// The trace file: made 0600 whatever the umask, appended to, and never
// through a symbolic link planted at its name, nor a FIFO that would
// block the query, nor a hard link to a file someone else chose (that is
// left as it was; with one name left, the file is taken).
TEST(Trace, TheFileIsPrivateAndNeverALink) {
  std::string dir = testing::TempDir() + "kestrin_trace_dir";
  std::string path = dir + "/trace.txt", target = dir + "/elsewhere.txt";
  mkdir(dir.c_str(), 0700);
  remove(path.c_str());
  remove(target.c_str());
  mode_t old_mask = umask(0);
  SetTraceVariable(path.c_str());
  Trace trace;
  OpenTrace(&trace);
  umask(old_mask);
  ASSERT_TRUE(Tracing(&trace));
  TraceLine(&trace, "one");
  CloseTrace(&trace);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  remove(path.c_str());

  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  EXPECT_FALSE(TraceOpensAt(path));
  EXPECT_NE(access(target.c_str(), F_OK), 0) << "nothing made where the link points";
  remove(path.c_str());

  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(TraceOpensAt(path));  // returns at once: no reader, and no regular file
  remove(path.c_str());

  WriteFile(target, "theirs\n");
  ASSERT_EQ(link(target.c_str(), path.c_str()), 0);
  EXPECT_FALSE(TraceOpensAt(path));
  EXPECT_EQ(ReadFile(target), "theirs\n");
  remove(target.c_str());
  EXPECT_TRUE(TraceOpensAt(path));
  EXPECT_EQ(ReadFile(path), "theirs\nkestrin: two\n");
  remove(path.c_str());
  rmdir(dir.c_str());
}

// A file there already that another user owns is no trace, and is left as
// it was; given back to this user, it is taken.
TEST(Trace, TheFileIsNeverAnotherUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  // In a folder of its own: in a sticky one such as /tmp the kernel may
  // refuse to open another user's file before the trace's own check runs.
  std::string dir = testing::TempDir() + "kestrin_trace_owner";
  std::string path = dir + "/trace.txt";
  mkdir(dir.c_str(), 0700);
  WriteFile(path, "theirs\n");
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(TraceOpensAt(path));
  EXPECT_EQ(ReadFile(path), "theirs\n");
  ASSERT_EQ(chown(path.c_str(), geteuid(), getegid()), 0);
  EXPECT_TRUE(TraceOpensAt(path));
  EXPECT_EQ(ReadFile(path), "theirs\nkestrin: two\n");
  remove(path.c_str());
  rmdir(dir.c_str());
}
#else
// The trace file, where it is made, opens to this user only: its DACL
// allows this process's user, and no one else (Windows: that one entry,
// protected from what the folder passes on; Wine keeps the DACL as Unix
// permissions and gives back what they say, the group's among them).
TEST(Trace, TheFileIsForThisUserOnly) {
  std::string path = testing::TempDir() + "kestrin_trace_private.txt";
  remove(path.c_str());
  SetTraceVariable(path.c_str());
  Trace trace;
  OpenTrace(&trace);
  ASSERT_TRUE(Tracing(&trace));
  CloseTrace(&trace);
  SetTraceVariable(nullptr);

  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD user[32], size = 0;
  BOOL got = GetTokenInformation(token, TokenUser, user, sizeof user, &size);
  CloseHandle(token);
  ASSERT_TRUE(got);
  PSID self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  SID_IDENTIFIER_AUTHORITY world_authority = {SECURITY_WORLD_SID_AUTHORITY};
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world_authority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                       &everyone));

  DWORD descriptor[256];
  ASSERT_TRUE(GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor,
                               sizeof descriptor, &size));
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
  ASSERT_TRUE(present && acl != nullptr) << "no DACL: open to everyone";
  bool self_allowed = false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    self_allowed = self_allowed || EqualSid(&ace->SidStart, self);
    EXPECT_FALSE(EqualSid(&ace->SidStart, everyone)) << "everyone may open it";
  }
  EXPECT_TRUE(self_allowed);
  FreeSid(everyone);
  remove(path.c_str());
}

// A file with a second name (a hard link to a file someone else chose) is
// no trace and is left as it was; with one name left it is taken.
TEST(Trace, TheFileIsNeverAHardLink) {
  std::string path = testing::TempDir() + "kestrin_trace_link.txt";
  std::string other = testing::TempDir() + "kestrin_trace_other.txt";
  remove(path.c_str());
  WriteFile(other, "theirs\n");
  ASSERT_TRUE(CreateHardLinkA(path.c_str(), other.c_str(), nullptr));
  EXPECT_FALSE(TraceOpensAt(path));
  EXPECT_EQ(ReadFile(other), "theirs\n");
  remove(other.c_str());
  EXPECT_TRUE(TraceOpensAt(path));
  remove(path.c_str());
}
#endif

TEST(Trace, NamesForStatuses) {
  char buffer[16];
  EXPECT_STREQ(NtStatusName(0xC0000022, buffer), "STATUS_ACCESS_DENIED");
  EXPECT_STREQ(NtStatusName(0, buffer), "STATUS_SUCCESS");
  EXPECT_STREQ(NtStatusName(0xC0001234, buffer), "0xC0001234");
  EXPECT_STREQ(StatusReason(TransportFailure(kConnectRefused)), "connection refused");
  EXPECT_STREQ(StatusReason(NtFailure(0xC000006D)), "STATUS_LOGON_FAILURE");
  EXPECT_STREQ(StatusReason(OkStatus()), "success");
}

}  // namespace
}  // namespace net
