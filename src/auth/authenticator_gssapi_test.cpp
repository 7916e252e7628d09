// SPDX-License-Identifier: Apache-2.0
// The GSSAPI logon against the system's MIT Kerberos, without a KDC: the
// tests point KRB5_CONFIG at tests/data/krb5_offline.conf (a realm whose
// KDC address refuses at once) and KRB5CCNAME at a ticket cache they write,
// so a cached service ticket yields a first token and anything else has to
// do without one.
#include "auth/authenticator_gssapi.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "auth/authenticator.h"
#include "testing/test_bytes.h"
#include "testing/test_kerberos.h"

namespace net {
namespace {

const char kHost[] = "member1.kestrin.test";

class GssLogonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kestrin-gss-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    setenv("KRB5_CONFIG", KESTRIN_TESTDATA "/krb5_offline.conf", 1);
    setenv("KRB5CCNAME", ("FILE:" + dir_ + "/ccache").c_str(), 1);
    unsetenv("NTLM_USER_FILE");
  }
  void TearDown() override {
    if (opened_) logon_.close(logon_.state);
    remove((dir_ + "/ccache").c_str());
    remove((dir_ + "/ntlm").c_str());
    rmdir(dir_.c_str());
    unsetenv("KRB5_CONFIG");
    unsetenv("KRB5CCNAME");
    unsetenv("NTLM_USER_FILE");
  }
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen((dir_ + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
  }
  void CacheTicketFor(const std::string& host, bool expired = false) {
    ticket_ = ServiceTicket(host);
    WriteFile("ccache", TicketCacheBytes(host, ticket_, expired));
  }
  /// NTLM credentials for gss-ntlmssp; false when it is not installed.
  bool GiveNtlmCredentials() {
    if (access("/usr/lib/x86_64-linux-gnu/gssntlmssp/gssntlmssp.so", R_OK) != 0 &&
        system("ls /etc/gss/mech.d/*ntlmssp* >/dev/null 2>&1") != 0) {
      return false;
    }
    std::string line = "KESTRIN:alice:Pw-Alice.123\n";
    WriteFile("ntlm", std::vector<uint8_t>(line.begin(), line.end()));
    setenv("NTLM_USER_FILE", (dir_ + "/ntlm").c_str(), 1);
    return true;
  }
  Status FirstStep(const std::string& host, std::vector<uint8_t>* token, bool* done) {
    Status s = OpenCallerLogon(host, &logon_);
    EXPECT_TRUE(IsOk(s));
    if (!IsOk(s)) return s;
    opened_ = true;
    return logon_.step(logon_.state, nullptr, 0, token, done, nullptr);
  }

  std::string dir_;
  std::vector<uint8_t> ticket_;
  Authenticator logon_;
  bool opened_ = false;
};

TEST_F(GssLogonTest, NoTicketCacheIsNoCredential) {
  std::vector<uint8_t> token;
  bool done = true;
  Status s = FirstStep(kHost, &token, &done);
  EXPECT_TRUE(IsSecurity(s, kNoCredential)) << int(s.kind) << " " << s.code;
  EXPECT_TRUE(token.empty());
  EXPECT_FALSE(done);
  SessionKey key;
  logon_.session_key(logon_.state, &key);
  EXPECT_EQ(key.size, 0u);
}

TEST_F(GssLogonTest, CachedTicketGivesASpnegoTokenThatCarriesIt) {
  CacheTicketFor(kHost);
  ASSERT_TRUE(IsOk(OpenCallerLogon(kHost, &logon_)));
  opened_ = true;
  std::vector<uint8_t> token;
  bool done = true;
  // A server token where ours must come first changes nothing.
  const uint8_t early[4] = {0x60, 0x02, 0x05, 0x00};
  EXPECT_EQ(logon_.step(logon_.state, early, sizeof early, &token, &done, nullptr).kind,
            StatusKind::kMalformed);
  Status s = logon_.step(logon_.state, nullptr, 0, &token, &done, nullptr);
  ASSERT_TRUE(IsOk(s)) << int(s.kind) << " " << s.code;
  EXPECT_FALSE(done) << "mutual authentication waits for the server's AP-REP";
  ASSERT_GT(token.size(), 12u);
  EXPECT_EQ(token[0], 0x60);
  EXPECT_EQ(std::vector<uint8_t>(token.begin() + 4, token.begin() + 12),
            Hex("06 06 2B 06 01 05 05 02"))
      << "SPNEGO's GSS framing, its length in three bytes";
  EXPECT_TRUE(Carries(token, ticket_));
  EXPECT_EQ(logon_.mechanism(logon_.state), LogonMechanism::kOther) << "not done yet";
}

TEST_F(GssLogonTest, TheTicketIsForTheNameAsGiven) {
  // A short name is not made a long one, nor a long one another: the
  // ticket must be for exactly what the connection used.
  CacheTicketFor("member1");
  std::vector<uint8_t> token;
  bool done = false;
  EXPECT_TRUE(IsOk(FirstStep("member1", &token, &done)));
  EXPECT_TRUE(Carries(token, ticket_));
  logon_.close(logon_.state);
  opened_ = false;
  token.clear();
  // No ticket for this name, no ticket-granting ticket to get one, no KDC:
  // nothing fits, so nothing is sent.
  Status s = FirstStep(kHost, &token, &done);
  EXPECT_FALSE(IsOk(s));
  EXPECT_TRUE(token.empty());
}

TEST_F(GssLogonTest, ServerTokensAfterTheFirstFailWithoutFallingBack) {
  CacheTicketFor(kHost);
  const std::vector<std::vector<uint8_t>> answers = {
      std::vector<uint8_t>(64, 0x30),     // garbage
      Hex("A1 07 30 05 A0 03 0A 01 02"),  // SPNEGO reject
      Hex("A1 07 30 05 A0 03 0A 01 00"),  // accepted, but no AP-REP
      std::vector<uint8_t>(),             // nothing at all
  };
  for (const std::vector<uint8_t>& answer : answers) {
    SCOPED_TRACE(answer.size());
    std::vector<uint8_t> token;
    bool done = false;
    ASSERT_TRUE(IsOk(FirstStep(kHost, &token, &done)));
    token.clear();
    Status s = logon_.step(logon_.state, answer.empty() ? nullptr : answer.data(), answer.size(),
                           &token, &done, nullptr);
    EXPECT_FALSE(IsOk(s) && done) << "the server has not proved itself";
    EXPECT_FALSE(IsSecurity(s, kNoCredential)) << "a token went out: no fallback now";
    SessionKey key;
    logon_.session_key(logon_.state, &key);
    EXPECT_EQ(key.size, 0u);
    logon_.close(logon_.state);
    opened_ = false;
  }
}

TEST_F(GssLogonTest, NtlmWhenItsFileIsNamed) {
  if (access("/usr/lib/x86_64-linux-gnu/gssntlmssp/gssntlmssp.so", R_OK) != 0 &&
      system("ls /etc/gss/mech.d/*ntlmssp* >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs gss-ntlmssp";
  }
  std::string line = "KESTRIN:alice:Pw-Alice.123\n";
  WriteFile("ntlm", std::vector<uint8_t>(line.begin(), line.end()));
  setenv("NTLM_USER_FILE", (dir_ + "/ntlm").c_str(), 1);
  std::vector<uint8_t> token;
  bool done = true;
  Status s = FirstStep("127.0.0.2", &token, &done);
  ASSERT_TRUE(IsOk(s)) << int(s.kind) << " " << s.code;
  const uint8_t ntlmssp[] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
  EXPECT_TRUE(Carries(token, std::vector<uint8_t>(ntlmssp, ntlmssp + 8)));
  EXPECT_FALSE(done);
}

/// Reads a DER tag and length at `*at`, leaving `*at` on the content.
bool DerHeader(const std::vector<uint8_t>& b, size_t* at, uint8_t tag, size_t* length) {
  if (*at + 2 > b.size() || b[*at] != tag) return false;
  size_t first = b[*at + 1], n = 0;
  *at += 2;
  if (first < 0x80) {
    n = first;
  } else {
    size_t bytes = first & 0x7F;
    if (bytes == 0 || bytes > 3 || *at + bytes > b.size()) return false;
    for (size_t i = 0; i < bytes; ++i) n = n << 8 | b[(*at)++];
  }
  *length = n;
  return n <= b.size() - *at;
}

/// The mechTypes of a first SPNEGO token (RFC 4178 4.2.1), each OID's bytes;
/// empty when the token is not one.
std::vector<std::vector<uint8_t>> OfferedMechanisms(const std::vector<uint8_t>& token) {
  std::vector<std::vector<uint8_t>> mechs;
  size_t at = 0, n = 0;
  if (!DerHeader(token, &at, 0x60, &n) || !DerHeader(token, &at, 0x06, &n)) return mechs;
  at += n;  // SPNEGO's OID
  if (!DerHeader(token, &at, 0xA0, &n) || !DerHeader(token, &at, 0x30, &n) ||
      !DerHeader(token, &at, 0xA0, &n) || !DerHeader(token, &at, 0x30, &n)) {
    return mechs;
  }
  size_t end = at + n;
  while (at < end && DerHeader(token, &at, 0x06, &n)) {
    mechs.emplace_back(token.begin() + at, token.begin() + at + n);
    at += n;
  }
  return mechs;
}

const std::vector<uint8_t> kKrb5Oid = Hex("2A 86 48 86 F7 12 01 02 02");
const std::vector<uint8_t> kNtlmsspOid = Hex("2B 06 01 04 01 82 37 02 02 0A");

// SPNEGO offers the one mechanism chosen, whatever else has a credential:
// Kerberos for a name it has a ticket for, NTLM for an address, though a
// ticket cache and NTLM credentials are both there.
TEST_F(GssLogonTest, TheFirstTokenOffersTheChosenMechanismAlone) {
  if (!GiveNtlmCredentials()) GTEST_SKIP() << "needs gss-ntlmssp";
  CacheTicketFor(kHost);
  std::vector<uint8_t> token;
  bool done = false;
  ASSERT_TRUE(IsOk(FirstStep(kHost, &token, &done)));
  EXPECT_EQ(OfferedMechanisms(token), std::vector<std::vector<uint8_t>>{kKrb5Oid});
  EXPECT_TRUE(Carries(token, ticket_));
  logon_.close(logon_.state);
  opened_ = false;

  token.clear();
  ASSERT_TRUE(IsOk(FirstStep("127.0.0.2", &token, &done)));
  EXPECT_EQ(OfferedMechanisms(token), std::vector<std::vector<uint8_t>>{kNtlmsspOid});
  const uint8_t ntlmssp[] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
  EXPECT_TRUE(Carries(token, std::vector<uint8_t>(ntlmssp, ntlmssp + 8)));
}

// Anonymous only where no credential applies, as decided here: an address
// with no NTLM credentials. Once the ticket cache has a principal, a name
// it cannot serve (here the KDC refuses at once), or an expired ticket, is
// the answer, and says why; with NTLM credentials NTLM takes over.
TEST_F(GssLogonTest, ATicketHolderIsNeverMadeAnonymous) {
  // A ticket-granting ticket: a credential for every name in the realm.
  WriteFile("ccache", TicketCacheBytes("", ServiceTicket("tgt")));
  std::vector<uint8_t> token;
  bool done = false;
  Status s = FirstStep("192.0.2.7", &token, &done);
  EXPECT_TRUE(IsSecurity(s, kNoCredential)) << int(s.kind) << " " << s.code;
  logon_.close(logon_.state);
  opened_ = false;

  s = FirstStep(kHost, &token, &done);
  EXPECT_TRUE(IsSecurity(s, kNoAuthority)) << int(s.kind) << " " << s.code;
  EXPECT_TRUE(token.empty());
  logon_.close(logon_.state);
  opened_ = false;

  WriteFile("ccache", TicketCacheBytes("", ServiceTicket("tgt"), true));
  s = FirstStep(kHost, &token, &done);
  EXPECT_TRUE(IsSecurity(s, kContextExpired)) << int(s.kind) << " " << s.code;
  EXPECT_TRUE(token.empty());
  logon_.close(logon_.state);
  opened_ = false;

  if (!GiveNtlmCredentials()) return;
  s = FirstStep(kHost, &token, &done);
  ASSERT_TRUE(IsOk(s)) << int(s.kind) << " " << s.code;
  EXPECT_EQ(OfferedMechanisms(token), std::vector<std::vector<uint8_t>>{kNtlmsspOid});
}

/// A DER INTEGER of any 32-bit value under the context tag `tag`.
std::vector<uint8_t> DerInt32(uint8_t tag, int32_t value) {
  std::vector<uint8_t> bytes;
  uint32_t v = static_cast<uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
  // Minimal two's complement: drop a leading byte its successor's sign repeats.
  while (bytes.size() > 1 &&
         ((bytes[0] == 0 && bytes[1] < 0x80) || (bytes[0] == 0xFF && bytes[1] >= 0x80))) {
    bytes.erase(bytes.begin());
  }
  std::vector<uint8_t> integer, out;
  Der(0x02, bytes, &integer);
  Der(tag, integer, &out);
  return out;
}

/// A KRB-ERROR (RFC 4120 5.9.1) with `code`, as anyone who answers for the
/// KDC can send it: it carries no integrity.
std::vector<uint8_t> KrbError(int32_t code) {
  std::vector<uint8_t> names = Seq(0x30, {DerText(0x1B, "krbtgt"), DerText(0x1B, kTestRealm)});
  return Seq(0x7E, {Seq(0x30, {DerInt(0xA0, 5), DerInt(0xA1, 30),
                               Seq(0xA4, {DerText(0x18, "20260101000000Z")}), DerInt(0xA5, 0),
                               DerInt32(0xA6, code), Seq(0xA9, {DerText(0x1B, kTestRealm)}),
                               Seq(0xAA, {Seq(0x30, {DerInt(0xA0, 2), Seq(0xA1, {names})})})})});
}

/// A KDC on a loopback UDP port that answers every request with `answer`.
struct StandInKdc {
  int socket = -1;
  uint16_t port = 0;
  std::mutex lock;
  std::vector<uint8_t> answer;
  std::atomic<bool> stop{false};
  std::atomic<int> asked{0};
  std::thread server;
};

void Serve(StandInKdc* kdc) {
  uint8_t request[65536];
  while (!kdc->stop) {
    pollfd ready = {kdc->socket, POLLIN, 0};
    if (poll(&ready, 1, 50) != 1) continue;
    sockaddr_in from = {};
    socklen_t from_size = sizeof from;
    ssize_t n = recvfrom(kdc->socket, request, sizeof request, 0,
                         reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n <= 0) continue;
    ++kdc->asked;
    std::lock_guard<std::mutex> hold(kdc->lock);
    sendto(kdc->socket, kdc->answer.data(), kdc->answer.size(), 0,
           reinterpret_cast<sockaddr*>(&from), from_size);
  }
}

bool StartKdc(StandInKdc* kdc) {
  kdc->socket = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  if (kdc->socket < 0 || bind(kdc->socket, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      getsockname(kdc->socket, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
    return false;
  }
  kdc->port = ntohs(at.sin_port);
  kdc->server = std::thread(Serve, kdc);
  return true;
}

void StopKdc(StandInKdc* kdc) {
  kdc->stop = true;
  if (kdc->server.joinable()) kdc->server.join();
  if (kdc->socket >= 0) close(kdc->socket);
}

// Whoever answers for the KDC chooses the error-code, and MIT's library
// adds it to its table's base unchecked: code 141 reads as "no matching
// credential in the cache", 156 as "KDC unreachable", and so on. With a
// ticket-granting ticket in the cache, none of it, nor a broken answer,
// makes the logon anonymous: every answer is a Kerberos failure, and no
// token goes out.
TEST_F(GssLogonTest, NoKdcAnswerMakesATicketHolderAnonymous) {
  StandInKdc kdc;
  ASSERT_TRUE(StartKdc(&kdc));
  std::string conf =
      "[libdefaults]\n default_realm = KESTRIN.TEST\n dns_lookup_kdc = false\n"
      " dns_lookup_realm = false\n dns_canonicalize_hostname = false\n rdns = false\n"
      "[domain_realm]\n .kestrin.test = KESTRIN.TEST\n"
      "[realms]\n KESTRIN.TEST = {\n  kdc = 127.0.0.1:" +
      std::to_string(kdc.port) + "\n }\n";
  WriteFile("krb5.conf", std::vector<uint8_t>(conf.begin(), conf.end()));
  setenv("KRB5_CONFIG", (dir_ + "/krb5.conf").c_str(), 1);
  WriteFile("ccache", TicketCacheBytes("", ServiceTicket("tgt")));

  std::vector<std::pair<std::string, std::vector<uint8_t>>> answers;
  // All but 29, KDC_ERR_SVC_UNAVAILABLE: the library then asks the next
  // KDC and, with none, waits out its own 18 s; the query's bound ends that
  // (the end-to-end tests walk every code against the query itself).
  for (int32_t code = 0; code < 256; ++code) {
    if (code == 29) continue;
    answers.emplace_back("error-code " + std::to_string(code), KrbError(code));
  }
  for (int32_t code : {256, 1000, 65535, 0x7FFFFFFF, -1, -141, INT32_MIN, 1765328384}) {
    answers.emplace_back("error-code " + std::to_string(code), KrbError(code));
  }
  std::vector<uint8_t> whole = KrbError(7);
  answers.emplace_back("truncated", std::vector<uint8_t>(whole.begin(), whole.begin() + 20));
  std::vector<uint8_t> long_length = whole;
  long_length[1] = 0x84;  // a length of four bytes that runs past the datagram
  answers.emplace_back("length past the end", long_length);
  std::vector<uint8_t> other_tag = whole;
  other_tag[0] = 0x6D;  // a TGS-REP's tag on an error's body
  answers.emplace_back("wrong application tag", other_tag);
  answers.emplace_back("garbage", std::vector<uint8_t>(64, 0xA5));
  answers.emplace_back("empty", std::vector<uint8_t>());

  std::map<uint32_t, int> seen;
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer.first);
    {
      std::lock_guard<std::mutex> hold(kdc.lock);
      kdc.answer = answer.second;
    }
    int asked = kdc.asked;
    std::vector<uint8_t> token;
    bool done = false;
    std::string lines;
    Trace trace;
    trace.held = &lines;
    ASSERT_TRUE(IsOk(OpenCallerLogon(kHost, &logon_)));
    opened_ = true;
    Status s = logon_.step(logon_.state, nullptr, 0, &token, &done, &trace);
    logon_.close(logon_.state);
    opened_ = false;
    EXPECT_GT(kdc.asked, asked) << "the KDC was asked";
    EXPECT_EQ(s.kind, StatusKind::kSecurity) << lines;
    EXPECT_TRUE(s.code == kNoAuthority || s.code == kTargetUnknown || s.code == kContextExpired ||
                s.code == kKerberosFailed)
        << s.code << "\n"
        << lines;
    EXPECT_TRUE(token.empty());
    ++seen[ToPlatformError(s)];
  }
  StopKdc(&kdc);
  std::string summary;
  for (const auto& row : seen) {
    summary +=
        " " + std::to_string(static_cast<int32_t>(row.first)) + " x" + std::to_string(row.second);
  }
  printf("[ measured ] %zu answers from a stand-in KDC:%s\n", answers.size(), summary.c_str());
  EXPECT_EQ(seen[0x80090303u], 1) << "7 alone: no principal for the name";
}

TEST(GssServiceName, ThePrincipalIsTheNameAsTyped) {
  EXPECT_EQ(KerberosServiceName("member1"), "cifs/member1");
  EXPECT_EQ(KerberosServiceName("Member1.Sales.Test"), "cifs/Member1.Sales.Test");
  EXPECT_EQ(KerberosServiceName("a@EVIL.TEST"), "cifs/a\\@EVIL.TEST") << "no realm of its own";
  EXPECT_EQ(KerberosServiceName("a\\b/c"), "cifs/a\\\\b\\/c");
  EXPECT_EQ(KerberosServiceName("fe80::1%eth0"), "cifs/fe80::1%eth0");
}

}  // namespace
}  // namespace net
