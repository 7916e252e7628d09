// SPDX-License-Identifier: Apache-2.0
// The query with the caller's credentials against the test domain
// (domain_servers.h): both mechanisms, every dialect ceiling and cipher,
// the trace, and a man in the middle of signed sessions.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "smb2/smb2_encryption.h"
#include "smb2/smb2_signing.h"
#include "domain_servers.h"
#include "probe_runner.h"

namespace {

using namespace probe_runner;
using namespace domain_servers;

TEST_F(DomainLogonTest, KerberosByFullAndShortName) {
  for (const char* target : {"member1.sales.test", "member1", "\\\\member1"}) {
    SCOPED_TRACE(target);
    Probe p = Query(target, Kerberos());
    EXPECT_EQ(p.status, 0) << p.text;
    EXPECT_EQ(p.name, "MEMBER1");
    EXPECT_EQ(p.sid, "S-1-5-21-7-8-9");
    EXPECT_EQ(p.mechanism, "kerberos");
    EXPECT_TRUE(p.is_signed);
    EXPECT_EQ(p.round_trips, 5u);
  }
}

TEST_F(DomainLogonTest, NtlmByAddress) {
  Probe p = Query("127.0.0.2", Ntlm());
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.name, "MEMBER1");
  EXPECT_EQ(p.sid, "S-1-5-21-7-8-9");
  EXPECT_EQ(p.mechanism, "ntlm");
  EXPECT_TRUE(p.is_signed);
  EXPECT_EQ(p.round_trips, 6u);
}

TEST_F(DomainLogonTest, TheDomainControllerAnswersForTheDomain) {
  Probe p = Query("dc1.sales.test", Kerberos());
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.name, "SALES");
  EXPECT_EQ(p.sid, "S-1-5-21-100-200-300");
  EXPECT_EQ(p.mechanism, "kerberos");
  EXPECT_TRUE(p.is_signed);
}

TEST_F(DomainLogonTest, EveryDialectCeilingSignsWithBothMechanisms) {
  for (const Member& m : kMembers) {
    for (bool kerberos : {true, false}) {
      SCOPED_TRACE(std::string(m.name) + (kerberos ? " kerberos" : " ntlm"));
      Probe p = kerberos ? Query(m.name, Kerberos()) : Query(m.ip, Ntlm());
      EXPECT_EQ(p.status, 0) << p.text;
      EXPECT_EQ(p.name, Upper(m.name));
      EXPECT_EQ(p.sid, m.sid);
      EXPECT_EQ(p.dialect, m.dialect);
      EXPECT_TRUE(p.is_signed);
      EXPECT_EQ(p.round_trips, RoundTrips(m, kerberos));
    }
  }
}

TEST_F(DomainLogonTest, WrongPasswordIsLogonFailureNeverAnonymous) {
  std::string file = StateDir() + "/wrong.ntlm";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("SALES:alice:not-her-password\n", f);
  fclose(f);
  chmod(file.c_str(), 0600);
  Probe p = Query("127.0.0.2", Ntlm(file));
  EXPECT_EQ(p.status, 1326) << p.text;
  EXPECT_EQ(p.mechanism, "other");  // a token went out; no fallback followed
  // Against a member that would let anonymous callers in, too.
  p = Query("dc1.sales.test", Ntlm(file));
  EXPECT_EQ(p.status, 1326) << p.text;
}

TEST_F(DomainLogonTest, NoCredentialsGoOnAnonymously) {
  Probe p = Query("member1", Nothing());
  EXPECT_EQ(p.status, 5) << p.text;  // this member refuses anonymous callers
  EXPECT_EQ(p.mechanism, "anonymous");
  // A ticket that cannot serve an address is no credential for it either.
  std::string kerberos_only = Kerberos();
  p = Query("127.0.0.2", kerberos_only);
  EXPECT_EQ(p.status, 5) << p.text;
  EXPECT_EQ(p.mechanism, "anonymous");
  p = Query("dc1", Nothing());  // the DC lets anonymous callers in
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_FALSE(p.is_signed);
  EXPECT_EQ(p.round_trips, 6u);
}

// A name the KDC has no principal for ("localhost" is the DC itself, which
// lets anonymous callers in): with a ticket, the KDC's "no such principal"
// is the answer, never an anonymous session, whatever answered for the
// KDC. The same server by address answers anonymously: Kerberos cannot
// apply to an address, as this computer decides alone. With NTLM
// credentials too, NTLM takes over from the failed Kerberos.
TEST_F(DomainLogonTest, TheKdcCannotMakeATicketHolderAnonymous) {
  Probe p;
  std::string trace = TracedProbe(kDc, "localhost", Kerberos(), &p);
  EXPECT_EQ(p.status, -2146893053) << p.text << trace;  // SEC_E_TARGET_UNKNOWN
  EXPECT_NE(p.mechanism, "anonymous");
  EXPECT_TRUE(p.name.empty());
  EXPECT_NE(trace.find("logon: Kerberos: "), std::string::npos) << trace;
  EXPECT_EQ(trace.find("anonymous"), std::string::npos) << trace;
  for (char ch : trace) EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7F)) << "text only";

  p = Query("127.0.0.1", Kerberos());
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.mechanism, "anonymous");
  EXPECT_EQ(p.name, "SALES");

  std::string both = Krb5Config() + " KRB5CCNAME=" + Quote("FILE:" + ccache_) +
                     " NTLM_USER_FILE=" + Quote(StateDir() + "/users/alice.ntlm");
  p = Query("localhost", both);
  EXPECT_EQ(p.status, 0) << p.text;
  EXPECT_EQ(p.mechanism, "ntlm");
  EXPECT_TRUE(p.is_signed);
}

/// A KDC at `ip` in the DC's namespace that never answers: nftables drops
/// UDP to it, and TCP too when `tcp_too`; otherwise a listener accepts TCP
/// and says nothing. Returns the krb5.conf that points at it.
std::string MuteKdc(const std::string& ip, bool tcp_too) {
  std::string ns = Quote(Where(kDc).ns), dir = StateDir();
  std::string conf = dir + "/krb5-mute-" + ip + ".conf";
  Shell("sed 's/kdc = 127.0.0.1/kdc = " + ip + "/' " + Quote(dir + "/krb5.conf") + " >" +
        Quote(conf));
  Shell("ip netns exec " + ns +
        " sh -c 'nft add table inet kestrin_mute_kdc && nft add chain inet kestrin_mute_kdc out "
        "\"{ type filter hook output priority 0; }\"' 2>/dev/null");
  Shell("ip netns exec " + ns + " nft add rule inet kestrin_mute_kdc out ip daddr " + ip + " " +
        (tcp_too ? "meta l4proto { tcp, udp } th dport 88 drop" : "udp dport 88 drop"));
  if (!tcp_too) {
    Shell("ip netns exec " + ns +
          " setsid /usr/bin/python3 -c 'import socket, time\n"
          "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
          "s.bind((\"" +
          ip +
          "\", 88)); s.listen(64); held = []\n"
          "while True: held.append(s.accept())' </dev/null >/dev/null 2>&1 & echo $! >" +
          Quote(dir + "/mute-kdc.pid"));
    for (int i = 0; i < 100; ++i) {
      if (Shell("ip netns exec " + ns + " ss -Hltn src " + ip + ":88 | grep -q .").exit_code == 0) {
        break;
      }
      usleep(20000);
    }
  }
  return conf;
}

void SpeakAgain() {
  std::string dir = StateDir();
  Shell("kill $(cat " + Quote(dir + "/mute-kdc.pid") + " 2>/dev/null) 2>/dev/null; rm -f " +
        Quote(dir + "/mute-kdc.pid"));
  Shell("ip netns exec " + Quote(Where(kDc).ns) + " nft delete table inet kestrin_mute_kdc");
}

// With only a ticket-granting ticket in the cache, the logon must ask the
// KDC for the member's ticket. A KDC that takes TCP and never answers, or
// one that nothing reaches, costs the query its bound and no more, and the
// status says who did not answer.
TEST_F(DomainLogonTest, AMuteKdcEndsTheQueryWithinItsBound) {
  if (Shell("command -v nft").exit_code != 0) GTEST_SKIP() << "needs nftables";
  for (bool tcp_too : {false, true}) {
    SCOPED_TRACE(tcp_too ? "KDC unreachable" : "KDC accepts TCP, silent");
    std::string tgt = StateDir() + "/tgt-only.ccache";
    remove(tgt.c_str());
    ASSERT_TRUE(Servers(std::string("kinit ") + kDc + " alice " + tgt));
    std::string conf = MuteKdc(tcp_too ? "127.0.0.61" : "127.0.0.60", tcp_too);
    Probe p;
    std::string trace = TracedProbe(
        kDc, "member1.sales.test",
        "KRB5_CONFIG=" + Quote(conf) + " KRB5CCNAME=" + Quote("FILE:" + tgt) + " NTLM_USER_FILE=",
        &p);
    SpeakAgain();
    EXPECT_EQ(p.status, -2146893039) << p.text << trace;  // SEC_E_NO_AUTHENTICATING_AUTHORITY
    EXPECT_LT(p.wall_ms, 20000u) << p.text;
    EXPECT_GT(p.ms, 1000u) << "the KDC was asked" << trace;
    EXPECT_NE(p.mechanism, "anonymous");
    printf("[ measured ] %s: %llu ms, status %d\n", tcp_too ? "unreachable KDC" : "mute KDC",
           static_cast<unsigned long long>(p.wall_ms), p.status);
  }
}

TEST_F(DomainLogonTest, AgreesWithRpcclient) {
  std::string dir = StateDir();
  for (bool kerberos : {true, false}) {
    SCOPED_TRACE(kerberos ? "rpcclient -k" : "rpcclient -U");
    std::string rpc =
        "ip netns exec " + Quote(Where(kDc).ns) + " env " + (kerberos ? Kerberos() : Krb5Config()) +
        " timeout 30 rpcclient -s " + Quote(dir + "/client.conf") +
        (kerberos
             ? " -N --use-kerberos=required member1.sales.test"
             : " -A " + Quote(dir + "/users/alice.auth") + " --use-kerberos=disabled 127.0.0.2") +
        " -c 'lsaquery 5'";
    Output out = Shell(rpc);
    ASSERT_EQ(out.exit_code, 0) << out.text;
    Probe p = kerberos ? Query("member1.sales.test", Kerberos()) : Query("127.0.0.2", Ntlm());
    EXPECT_NE(out.text.find("Domain Name: " + p.name + "\n"), std::string::npos) << out.text;
    EXPECT_NE(out.text.find("Domain Sid: " + p.sid + "\n"), std::string::npos) << out.text;
  }
}

TEST_F(DomainLogonTest, EncryptingMembersAnswerWithEveryCipher) {
  for (const Member& m : kEncrypting) {
    for (bool kerberos : {true, false}) {
      SCOPED_TRACE(std::string(m.name) + " " + m.cipher + (kerberos ? " kerberos" : " ntlm"));
      Probe p = kerberos ? Query(m.name, Kerberos()) : Query(m.ip, Ntlm());
      EXPECT_EQ(p.status, 0) << p.text;
      EXPECT_EQ(p.name, Upper(m.name));
      EXPECT_EQ(p.sid, m.sid);
      EXPECT_EQ(p.dialect, m.dialect);
      EXPECT_TRUE(p.is_encrypted) << p.text;
      EXPECT_EQ(p.round_trips, RoundTrips(m, kerberos));
    }
  }
  // An anonymous session cannot encrypt; the server keeps refusing it.
  Probe p = Query("member5", Nothing());
  EXPECT_EQ(p.status, 5) << p.text;
}

/// Bytes of a capture of the query to `target` at `ip`, in the namespace.
std::string Capture(const std::string& ip, const std::string& target, const std::string& env) {
  std::string file = StateDir() + "/query.pcap", pid = StateDir() + "/tcpdump.pid";
  remove(file.c_str());
  Shell("ip netns exec " + Quote(Where(kDc).ns) +
        " setsid tcpdump -i lo --immediate-mode -U -s 0 -w " + Quote(file) + " host " + ip +
        " and tcp port 445 </dev/null >/dev/null 2>&1 & echo $! >" + Quote(pid));
  // Capturing once the file has its header.
  for (int i = 0; i < 100 && Shell("test -s " + Quote(file)).exit_code != 0; ++i) usleep(20000);
  usleep(200000);
  Probe p = RunProbe(kDc, target, "", env);
  EXPECT_EQ(p.status, 0) << p.text;
  usleep(300000);
  Shell("p=$(cat " + Quote(pid) +
        "); kill -INT $p; while kill -0 $p 2>/dev/null; do sleep 0.05; done");
  return Shell("cat " + Quote(file)).text;
}

TEST_F(DomainLogonTest, EncryptedQueryShowsNothingOnTheWire) {
  if (Shell("command -v tcpdump").exit_code != 0) GTEST_SKIP() << "needs tcpdump";
  // The name in UTF-16LE and the SID's sub-authorities as they travel.
  auto utf16 = [](const std::string& a) {
    std::string out;
    for (char c : a) out += std::string(1, c) + '\0';
    return out;
  };
  const std::string sid_tail("\x15\0\0\0\x07\0\0\0\x08\0\0\0", 12);
  std::string signed_only = Capture("127.0.0.2", "127.0.0.2", Ntlm());
  ASSERT_NE(signed_only.find(utf16("MEMBER1")), std::string::npos)
      << "the capture would show the name where only signing protects it";
  EXPECT_NE(signed_only.find(sid_tail), std::string::npos);
  // Kerberos: NTLM's CHALLENGE itself names the server, which for a member
  // is also the name of its account domain.
  std::string encrypted = Capture("127.0.0.6", "member5", Kerberos());
  ASSERT_GT(encrypted.size(), 1000u);
  EXPECT_EQ(encrypted.find(utf16("MEMBER5")), std::string::npos);
  EXPECT_EQ(encrypted.find(sid_tail), std::string::npos);
}

/// Reads a big-endian number of `n` bytes at `*at` of `b`, moving on; 0
/// and `*ok` false when the bytes are not there.
uint32_t TakeBE(const std::string& b, size_t* at, size_t n, bool* ok) {
  uint32_t v = 0;
  if (*at > b.size() || n > b.size() - *at) *ok = false;
  for (size_t i = 0; *ok && i < n; ++i) v = v << 8 | static_cast<uint8_t>(b[(*at)++]);
  return v;
}

/// Skips a counted string (4-byte length) of `b`.
void SkipData(const std::string& b, size_t* at, bool* ok) {
  size_t n = TakeBE(b, at, 4, ok);
  if (*ok && n > b.size() - *at) *ok = false;
  if (*ok) *at += n;
}

/// The session keys of every ticket in a version 4 ticket cache file.
std::vector<std::string> TicketSessionKeys(const std::string& file) {
  std::string b = ReadText(file);
  std::vector<std::string> keys;
  bool ok = true;
  size_t at = 2;
  size_t tags = TakeBE(b, &at, 2, &ok);
  at += tags;
  auto principal = [&]() {
    at += 4;  // name type
    size_t count = TakeBE(b, &at, 4, &ok);
    for (size_t i = 0; ok && i <= count; ++i) SkipData(b, &at, &ok);  // realm, components
  };
  principal();  // the default principal
  while (ok && at < b.size()) {
    principal();
    principal();
    at += 2;  // enctype
    size_t n = TakeBE(b, &at, 4, &ok);
    if (ok && n > 0 && n <= b.size() - at) keys.push_back(b.substr(at, n));
    at += n;
    at += 16 + 1 + 4;                             // times, is_skey, flags
    for (int list = 0; list < 2 && ok; ++list) {  // addresses, authorization data
      size_t count = TakeBE(b, &at, 4, &ok);
      for (size_t i = 0; ok && i < count; ++i) {
        at += 2;
        SkipData(b, &at, &ok);
      }
    }
    SkipData(b, &at, &ok);  // ticket
    SkipData(b, &at, &ok);  // second ticket
  }
  return keys;
}

/// Whether `trace` holds `secret` raw or as hex of either case.
bool Holds(const std::string& trace, const std::string& secret) {
  std::string upper, lower;
  for (unsigned char c : secret) {
    char two[3];
    snprintf(two, sizeof two, "%02X", c);
    upper += two;
    snprintf(two, sizeof two, "%02x", c);
    lower += two;
  }
  return secret.empty() || trace.find(secret) != std::string::npos ||
         trace.find(upper) != std::string::npos || trace.find(lower) != std::string::npos;
}

/// A recorded query's session key ("k" line of --record), raw.
std::string RecordedKey(const std::string& record) {
  std::string text = ReadText(record), key;
  size_t k = text.find("\nk ");
  for (size_t i = k + 3; k != std::string::npos && i + 1 < text.size() && text[i] != '\n'; i += 2) {
    key += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return key;
}

// Whatever the logon, the trace holds no secret: not the password, not the
// ticket's session key, not the session's key nor a key derived from it.
TEST_F(DomainLogonTest, TraceHoldsNoSecret) {
  std::string dir = StateDir();
  struct Case {
    const char* target;
    bool kerberos;
    uint16_t dialect;
    bool encrypted;
  };
  for (const Case& c :
       {Case{"member3", true, 0x0302, false}, Case{"127.0.0.4", false, 0x0302, false},
        Case{"127.0.0.11", false, 0x0302, true}}) {
    SCOPED_TRACE(c.target);
    std::string trace_file = TraceFile("secret"), record = dir + "/secret.record";
    Probe p =
        RunProbe(std::string(kDc), c.target, "--record " + Quote(record),
                 "KESTRIN_TRACE=" + Quote(trace_file) + " " + (c.kerberos ? Kerberos() : Ntlm()));
    ASSERT_EQ(p.status, 0) << p.text;
    std::string trace = ReadText(trace_file);
    ASSERT_NE(trace.find("kestrin: session: "), std::string::npos) << trace;
    EXPECT_EQ(trace.find("Pw-Alice.123"), std::string::npos);
    std::string key = RecordedKey(record);
    ASSERT_GE(key.size(), 16u);
    EXPECT_FALSE(Holds(trace, key));
    net::Smb2SigningKey signing;
    ASSERT_TRUE(net::DeriveSigningKey(c.dialect, net::SigningAlgorithm::kAesCmac,
                                      reinterpret_cast<const uint8_t*>(key.data()), key.size(),
                                      net::PreauthHash(), &signing));
    EXPECT_FALSE(Holds(trace, std::string(reinterpret_cast<char*>(signing.key), 16)));
    net::Smb2CipherKeys cipher;
    ASSERT_TRUE(net::DeriveCipherKeys(c.dialect, net::AeadCipher::kAes128Ccm,
                                      reinterpret_cast<const uint8_t*>(key.data()), key.size(),
                                      net::PreauthHash(), &cipher));
    EXPECT_FALSE(Holds(trace, std::string(reinterpret_cast<char*>(cipher.encryption), 16)));
    EXPECT_FALSE(Holds(trace, std::string(reinterpret_cast<char*>(cipher.decryption), 16)));
    if (c.kerberos) {
      std::vector<std::string> tickets = TicketSessionKeys(ccache_);
      EXPECT_GE(tickets.size(), 2u) << "the TGT and the ticket for the member";
      for (const std::string& k : tickets) EXPECT_FALSE(Holds(trace, k));
    }
    for (char ch : trace) EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7F)) << "text only";
    remove(trace_file.c_str());
    remove(record.c_str());
  }
}

/// The tamper proxy between the tool (127.0.0.9) and member1.
void Tamper(const std::string& what) { TamperProxy(kDc, "127.0.0.9", "127.0.0.2", what); }

// A man in the middle of a signed session flips one bit of what member1
// sends, at a different place each time. The query fails, or (where the bit
// sits in an answer nobody signs, an interim "pending") it gives the right
// answer; it never gives another one.
TEST_F(DomainLogonTest, AlteredAnswersNeverGiveAnotherAnswer) {
  ASSERT_NO_FATAL_FAILURE(Tamper(""));
  Probe clean = Query("127.0.0.9", Ntlm());
  ASSERT_EQ(clean.status, 0) << clean.text;
  ASSERT_EQ(clean.sid, "S-1-5-21-7-8-9");
  int failed = 0, runs = 0;
  // The server's stream is about 1.4 KB; every 17th byte, past its end too.
  for (long offset = 0; offset < 1600; offset += 17, ++runs) {
    ASSERT_NO_FATAL_FAILURE(Tamper(std::to_string(offset)));
    Probe p = Query("127.0.0.9", Ntlm());
    if (p.status != 0) {
      ++failed;
      EXPECT_TRUE(p.name.empty() && p.sid.empty()) << p.text;
    } else {
      EXPECT_EQ(p.name, clean.name) << "flipped at " << offset;
      EXPECT_EQ(p.sid, clean.sid) << "flipped at " << offset;
    }
  }
  Tamper("");
  EXPECT_GT(failed, runs * 3 / 4) << failed << " of " << runs << " altered queries failed";
}

// The man in the middle takes 3.1.1 out of our NEGOTIATE (0x0311 becomes
// a second 0x0302), so that the server settles on 3.0.2 and nothing of the
// preauth hash protects the logon. Validating the negotiation finds it.
TEST_F(DomainLogonTest, DialectsTakenOutOfTheOfferAreADowngrade) {
  // prefix 4 + header 64 + Dialects at 36: the fifth
  ASSERT_NO_FATAL_FAILURE(Tamper("client 112 0203"));
  Probe p = Query("127.0.0.9", Ntlm());
  Tamper("");
  EXPECT_EQ(p.status, 1265) << p.text;
  EXPECT_EQ(p.dialect, 0x302u);
  EXPECT_TRUE(p.name.empty());
}

// A busy Windows server answers every pipe IOCTL first as pending: 72
// bytes, async, unsigned. Signed sessions with both mechanisms still
// answer, in as many round trips. Kerberos needs member1's name, so its
// connections are turned to the proxy in the namespace's packet filter.
TEST_F(DomainLogonTest, InterimAnswersOnSignedSessions) {
  ASSERT_NO_FATAL_FAILURE(Tamper("interim"));
  Probe ntlm, kerberos;
  std::string ntlm_trace = TracedProbe(kDc, "127.0.0.9", Ntlm(), &ntlm);
  std::string ns = Quote(Where(kDc).ns);
  std::string table = "ip netns exec " + ns + " nft ";
  ASSERT_EQ(Shell(table + "'add table ip kestrin_relay; add chain ip kestrin_relay out "
                          "{ type nat hook output priority -100; }; add rule ip kestrin_relay out "
                          "ip saddr != 127.0.0.9 ip daddr 127.0.0.2 tcp dport 445 "
                          "dnat to 127.0.0.9:445'")
                .exit_code,
            0);
  std::string kerberos_trace = TracedProbe(kDc, "member1.sales.test", Kerberos(), &kerberos);
  Shell(table + "delete table ip kestrin_relay");
  Tamper("");
  for (const std::string* trace : {&ntlm_trace, &kerberos_trace}) {
    EXPECT_NE(trace->find("IOCTL STATUS_PENDING (interim)"), std::string::npos) << *trace;
  }
  for (const Probe* p : {&ntlm, &kerberos}) {
    EXPECT_EQ(p->status, 0) << p->text;
    EXPECT_EQ(p->sid, "S-1-5-21-7-8-9");
    EXPECT_TRUE(p->is_signed);
  }
  EXPECT_EQ(ntlm.round_trips, 6u);
  EXPECT_EQ(kerberos.round_trips, 5u);
  EXPECT_EQ(kerberos.mechanism, "kerberos");
}

// Error answers in the 72-byte form say what the 73-byte ones say.
TEST_F(DomainLogonTest, ShortErrorAnswersGiveTheSameStatus) {
  Probe direct = Query("127.0.0.2", Nothing());
  ASSERT_NE(direct.status, 0) << "member1 refuses anonymous callers";
  ASSERT_NO_FATAL_FAILURE(Tamper("short-errors"));
  Probe relayed = Query("127.0.0.9", Nothing());
  Tamper("");
  EXPECT_EQ(relayed.status, direct.status) << relayed.text;
}

}  // namespace
