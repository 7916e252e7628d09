// SPDX-License-Identifier: Apache-2.0
// The SSPI logon against the system's own packages. Under Wine, Kerberos
// reads the ticket cache named by KRB5CCNAME (CTest points it into the build
// folder, and KRB5_CONFIG at a configuration without KDCs): a cached service
// ticket yields a first token without any network, a missing cache leaves
// nothing to log on with. Elsewhere the tests that need this are skipped.
#include "auth/authenticator_sspi.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <algorithm>

#include "auth/authenticator.h"
#include "testing/test_bytes.h"
#include "testing/test_kerberos.h"

namespace net {
namespace {

const char kHost[] = "member1.kestrin.test";

/// The ticket cache, as a Windows path, when running under Wine with
/// KRB5CCNAME naming a file; empty otherwise.
std::wstring TicketCacheFile() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return L"";
  wchar_t name[MAX_PATH];
  DWORD units = GetEnvironmentVariableW(L"KRB5CCNAME", name, MAX_PATH);
  if (units == 0 || units >= MAX_PATH || wcsncmp(name, L"FILE:/", 6) != 0) return L"";
  std::wstring file = L"Z:";  // Wine's drive for the Unix root
  file += name + 5;
  std::replace(file.begin(), file.end(), L'/', L'\\');
  return file;
}

/// Writes a cache holding alice's ticket `ticket` for cifs/`host`; false when
/// it cannot.
bool WriteTicketCache(const std::wstring& file, const std::string& host,
                      const std::vector<uint8_t>& ticket) {
  std::vector<uint8_t> cache = TicketCacheBytes(host, ticket);
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, cache.data(), static_cast<DWORD>(cache.size()), &written, nullptr) &&
            written == cache.size();
  CloseHandle(h);
  return ok;
}

class SspiLogonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cache_ = TicketCacheFile();
    if (cache_.empty()) GTEST_SKIP() << "needs Wine and KRB5CCNAME=FILE:<path> (set by CTest)";
    DeleteFileW(cache_.c_str());
  }
  void TearDown() override {
    if (!cache_.empty()) DeleteFileW(cache_.c_str());
  }

  /// The first step for `host` with the cache as it is; the logon stays open in `logon_`.
  Status FirstStep(const std::string& host, std::vector<uint8_t>* token, bool* done) {
    Status s = OpenCallerLogon(host, &logon_);
    EXPECT_TRUE(IsOk(s)) << "the Negotiate package is there";
    if (!IsOk(s)) return s;
    opened_ = true;
    return logon_.step(logon_.state, nullptr, 0, token, done, nullptr);
  }
  void Close() {
    if (opened_) logon_.close(logon_.state);
    opened_ = false;
  }
  /// A new logon's first step, answered with `in`: the status of the answer,
  /// which must leave nothing to send, not finish, and stay what it is.
  Status Answer(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> token;
    bool done = false;
    Status first = FirstStep(kHost, &token, &done);
    EXPECT_TRUE(IsOk(first) && !token.empty());
    token.clear();
    Status s = logon_.step(logon_.state, in.data(), in.size(), &token, &done, nullptr);
    EXPECT_FALSE(done);
    EXPECT_TRUE(token.empty());
    Status again = logon_.step(logon_.state, in.data(), in.size(), &token, &done, nullptr);
    EXPECT_TRUE(again.kind == s.kind && again.code == s.code) << "a failed context stays failed";
    SessionKey key;
    logon_.session_key(logon_.state, &key);
    EXPECT_EQ(key.size, 0u);
    Close();
    return s;
  }

  std::wstring cache_;
  Authenticator logon_;
  bool opened_ = false;
};

TEST_F(SspiLogonTest, NoTicketAndNoNtlmCredentialMeansNoCredential) {
  // Wine's Negotiate acquires its credential handle, then its NTLM finds no
  // cached password at the first call: nothing went out, go on anonymously.
  std::vector<uint8_t> token;
  bool done = true;
  Status s = FirstStep(kHost, &token, &done);
  EXPECT_TRUE(IsSecurity(s, kNoCredential)) << int(s.kind) << " " << s.code;
  EXPECT_TRUE(token.empty()) << "nothing to send on a failed step";
  EXPECT_FALSE(done);
  s = logon_.step(logon_.state, nullptr, 0, &token, &done, nullptr);
  EXPECT_TRUE(IsSecurity(s, kNoCredential)) << "a repeated step says the same";
  SessionKey key;
  logon_.session_key(logon_.state, &key);
  EXPECT_EQ(key.size, 0u);
  EXPECT_EQ(logon_.mechanism(logon_.state), LogonMechanism::kOther);
  Close();
}

// With a ticket-granting ticket, Kerberos may run for a name and may ask a
// KDC (here one that refuses at once): whatever the first call then says
// is the answer, never "no credential", which would make it anonymous.
TEST_F(SspiLogonTest, ATicketHolderIsNeverMadeAnonymous) {
  ASSERT_TRUE(WriteTicketCache(cache_, "", ServiceTicket("tgt")));
  std::vector<uint8_t> token;
  bool done = false;
  Status s = FirstStep(kHost, &token, &done);
  EXPECT_FALSE(IsOk(s));
  EXPECT_FALSE(IsSecurity(s, kNoCredential)) << int(s.kind) << " " << s.code;
  EXPECT_TRUE(token.empty());
  Close();
}

TEST_F(SspiLogonTest, CachedTicketGivesAnApReqThatCarriesIt) {
  std::vector<uint8_t> ticket = ServiceTicket(kHost);
  ASSERT_TRUE(WriteTicketCache(cache_, kHost, ticket));
  // A server token where ours must come first is refused and changes nothing.
  std::vector<uint8_t> token;
  bool done = true;
  ASSERT_TRUE(IsOk(OpenCallerLogon(kHost, &logon_)));
  opened_ = true;
  const uint8_t early[4] = {0x60, 0x02, 0x05, 0x00};
  EXPECT_EQ(logon_.step(logon_.state, early, sizeof early, &token, &done, nullptr).kind,
            StatusKind::kMalformed);
  Status s = logon_.step(logon_.state, nullptr, 0, &token, &done, nullptr);
  ASSERT_TRUE(IsOk(s)) << int(s.kind) << " " << s.code;
  EXPECT_FALSE(done) << "mutual authentication waits for the server's AP-REP";
  ASSERT_GT(token.size(), ticket.size());
  EXPECT_EQ(token[0], 0x60) << "a GSS initial context token";
  EXPECT_TRUE(Carries(token, ticket));
  EXPECT_EQ(logon_.mechanism(logon_.state), LogonMechanism::kOther) << "not done yet";
  // An answer longer than SMB2 can carry, or none at all, never reaches SSPI.
  std::vector<uint8_t> huge(0x10000, 0x30);
  EXPECT_EQ(logon_.step(logon_.state, huge.data(), huge.size(), &token, &done, nullptr).kind,
            StatusKind::kMalformed);
  EXPECT_EQ(logon_.step(logon_.state, nullptr, 0, &token, &done, nullptr).kind,
            StatusKind::kMalformed);
  Close();
}

TEST_F(SspiLogonTest, NonAsciiHostReachesKerberosIntact) {
  const std::string host =
      "b\xc3\xbc"
      "cher.kestrin.test";
  std::vector<uint8_t> ticket = ServiceTicket(host);
  ASSERT_TRUE(WriteTicketCache(cache_, host, ticket));
  std::vector<uint8_t> token;
  bool done = false;
  Status s = FirstStep(host, &token, &done);
  ASSERT_TRUE(IsOk(s)) << "the cache holds a ticket for exactly this name";
  EXPECT_TRUE(Carries(token, ticket));
  Close();
}

TEST_F(SspiLogonTest, BrokenServerTokensFailCleanlyOnceATokenWentOut) {
  ASSERT_TRUE(WriteTicketCache(cache_, kHost, ServiceTicket(kHost)));
  // Garbage, up to the longest token SMB2 allows: SSPI's parser refuses it.
  for (size_t size : {size_t{1}, size_t{64}, size_t{0xFFFF}}) {
    SCOPED_TRACE(size);
    Status s = Answer(std::vector<uint8_t>(size, 0x30));
    EXPECT_EQ(s.kind, StatusKind::kMalformed) << int(s.kind) << " " << s.code;
  }
  // A well-formed AP-REP whose enc-part no key of ours opens: the server has
  // not proven itself. Wine says only "internal error" (kLogonFailed); never
  // kNoCredential, which would let the logon quietly turn anonymous after
  // credentials went out.
  std::vector<uint8_t> ap_rep =
      Seq(0x6F, {Seq(0x30, {DerInt(0xA0, 5), DerInt(0xA1, 15), Seq(0xA2, {SealedFiller(48)})})});
  std::vector<uint8_t> token;  // the krb5 OID, TOK_ID 02 00, the AP-REP
  Der(0x60, Concat(Hex("06 09 2A 86 48 86 F7 12 01 02 02 02 00"), ap_rep), &token);
  Status s = Answer(token);
  EXPECT_TRUE(IsSecurity(s, kLogonFailed) || IsSecurity(s, kMutualAuthFailed))
      << int(s.kind) << " " << s.code;
}

TEST_F(SspiLogonTest, CloseRightAfterOpen) {
  Authenticator logon;
  ASSERT_TRUE(IsOk(OpenCallerLogon(kHost, &logon)));  // no ticket: no Kerberos credential
  logon.close(logon.state);
  ASSERT_TRUE(WriteTicketCache(cache_, kHost, ServiceTicket(kHost)));
  ASSERT_TRUE(IsOk(OpenCallerLogon(kHost, &logon)));  // with one
  logon.close(logon.state);
}

TEST(SspiServiceName, Utf8HostToUtf16) {
  std::wstring name;
  ASSERT_TRUE(
      SmbServiceName("b\xc3\xbc"
                     "cher.test",
                     &name));
  EXPECT_EQ(name, L"cifs/b\u00fccher.test");
  ASSERT_TRUE(
      SmbServiceName("a\xf0\x9f\x98\x80"
                     "b",
                     &name));
  EXPECT_EQ(name,
            L"cifs/a\xD83D\xDE00"
            L"b")
      << "a surrogate pair";
  EXPECT_FALSE(SmbServiceName("", &name));
  EXPECT_FALSE(SmbServiceName(std::string("a\0b", 3), &name));
  // No name to log on to: no credential applies, as the first step says.
  Authenticator logon;
  ASSERT_TRUE(IsOk(OpenCallerLogon("", &logon)));
  std::vector<uint8_t> token;
  bool done = false;
  EXPECT_TRUE(
      IsSecurity(logon.step(logon.state, nullptr, 0, &token, &done, nullptr), kNoCredential));
  logon.close(logon.state);
}

}  // namespace
}  // namespace net
