// SPDX-License-Identifier: Apache-2.0
// The domain the integration tests log on to: an AD domain controller and
// members that refuse anonymous callers and require signing, each at its
// own dialect ceiling (scripts/test-servers.sh dc / member), and the
// fixture that starts them once for every DomainLogonTest. Kerberos comes
// from a ticket cache of the test's own, NTLM from an NTLM_USER_FILE;
// nothing of the host's is used. Needs root, Samba's AD packages and
// gss-ntlmssp; skipped without.
#ifndef KESTRIN_TESTS_INTEGRATION_DOMAIN_SERVERS_H_
#define KESTRIN_TESTS_INTEGRATION_DOMAIN_SERVERS_H_

#include <ctype.h>

#include <gtest/gtest.h>

#include <string>

#include "probe_runner.h"

namespace domain_servers {

using namespace probe_runner;

inline constexpr const char* kDc = "ki-ad";

/// Members: the address, the dialect ceiling, the SID, and for the members
/// that require encryption, the one cipher they allow.
struct Member {
  const char* name;
  const char* ip;
  const char* max_protocol;  // nullptr: 3.1.1
  const char* sid;
  unsigned dialect;
  const char* cipher;        // nullptr: no encryption required
  unsigned max_credits = 0;  // 0: Samba's default
};

inline constexpr Member kMembers[] = {
    {"member1", "127.0.0.2", nullptr, "S-1-5-21-7-8-9", 0x311, nullptr},
    {"member2", "127.0.0.3", "SMB2_10", "S-1-5-21-7-8-10", 0x210, nullptr},
    {"member3", "127.0.0.4", "SMB3_02", "S-1-5-21-7-8-11", 0x302, nullptr},
    // One credit at a time: every request alone, the validation too.
    {"member11", "127.0.0.13", "SMB3_02", "S-1-5-21-7-8-19", 0x302, nullptr, 1},
};

/// Members that require encryption for the whole server, one per cipher,
/// one at the 3.0.2 ceiling (where AES-128-CCM is the only cipher), and one
/// that requires it for IPC$ alone.
inline constexpr Member kEncrypting[] = {
    {"member5", "127.0.0.6", nullptr, "S-1-5-21-7-8-13", 0x311, "AES-128-GCM"},
    {"member6", "127.0.0.7", nullptr, "S-1-5-21-7-8-14", 0x311, "AES-128-CCM"},
    {"member7", "127.0.0.8", nullptr, "S-1-5-21-7-8-15", 0x311, "AES-256-GCM"},
    {"member8", "127.0.0.10", nullptr, "S-1-5-21-7-8-16", 0x311, "AES-256-CCM"},
    {"member9", "127.0.0.11", "SMB3_02", "S-1-5-21-7-8-17", 0x302, "AES-128-CCM"},
    {"member10", "127.0.0.12", nullptr, "S-1-5-21-7-8-18", 0x311, "IPC$"},
    // IPC$ encryption and one credit at a time: the TREE_CONNECT goes alone,
    // so its answer turns encryption on before CREATE and BIND go.
    {"member12", "127.0.0.14", nullptr, "S-1-5-21-7-8-20", 0x311, "IPC$", 1},
};

/// The round trips a query to `m` takes: five with Kerberos, six with NTLM.
/// Where IPC$ alone wants encryption, the CREATE and BIND sent with the
/// TREE_CONNECT go again: one more. On one credit at a time, TREE_CONNECT,
/// CREATE and BIND each go alone (two more, and nothing goes again), and on
/// 3.0.2 the validation too (one more).
inline unsigned RoundTrips(const Member& m, bool kerberos) {
  unsigned trips = kerberos ? 5 : 6;
  bool ipc_only = m.cipher != nullptr && std::string(m.cipher) == "IPC$";
  if (m.max_credits == 1) return trips + 2 + (m.dialect == 0x302 ? 1 : 0);
  return trips + (ipc_only ? 1 : 0);
}

/// The --conf lines of a member.
inline std::string MemberConf(const Member& m) {
  std::string conf = " --conf 'restrict anonymous = 2' --conf 'server signing = mandatory'";
  if (m.max_protocol != nullptr) {
    conf += std::string(" --conf 'server max protocol = ") + m.max_protocol + "'";
  }
  if (m.max_credits != 0) {  // a [global] line: before any share section
    conf += " --conf 'smb2 max credits = " + std::to_string(m.max_credits) + "'";
  }
  if (m.cipher != nullptr && std::string(m.cipher) == "IPC$") {
    conf += " --conf '[IPC$]' --conf 'smb encrypt = required'";  // IPC$ alone
  } else if (m.cipher != nullptr) {
    conf += std::string(" --conf 'server smb encrypt = required'") +
            " --conf 'server smb3 encryption algorithms = " + m.cipher + "'";
  }
  return conf;
}

inline std::string StateDir() { return Where(kDc).dir; }

inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

class DomainLogonTest : public ::testing::Test {
 protected:
  static inline bool started_ = false;
  static inline std::string ccache_;

  static std::string MissingDomainPrerequisite() {
    std::string missing = MissingPrerequisite();
    if (!missing.empty()) return missing;
    if (Shell("command -v samba winbindd kinit").exit_code != 0) {
      return "needs samba-ad-dc, winbind and krb5-user";
    }
    return "";
  }

  static void SetUpTestSuite() {
    if (!MissingDomainPrerequisite().empty()) return;
    started_ = Servers(std::string("dc ") + kDc);
    auto start = [](const Member& m) {
      started_ = started_ && Servers(std::string("member ") + kDc + " " + m.name + " --ip " + m.ip +
                                     " --sid " + m.sid + MemberConf(m));
    };
    for (const Member& m : kMembers) start(m);
    for (const Member& m : kEncrypting) start(m);
    ccache_ = StateDir() + "/alice.ccache";
    started_ = started_ && Servers(std::string("kinit ") + kDc + " alice " + ccache_);
  }
  static void TearDownTestSuite() {
    if (MissingDomainPrerequisite().empty()) Servers(std::string("stop ") + kDc);
  }
  void SetUp() override {
    std::string missing = MissingDomainPrerequisite();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(started_) << "the domain did not start";
  }

  static std::string Krb5Config() { return "KRB5_CONFIG=" + Quote(StateDir() + "/krb5.conf"); }
  /// Kerberos only: the test's ticket cache, no NTLM credentials.
  static std::string Kerberos() {
    return Krb5Config() + " KRB5CCNAME=" + Quote("FILE:" + ccache_) + " NTLM_USER_FILE=";
  }
  /// NTLM only: no ticket, alice's line in the credentials file.
  static std::string Ntlm(const std::string& file = StateDir() + "/users/alice.ntlm") {
    return Krb5Config() + " KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE=" + Quote(file);
  }
  static std::string Nothing() {
    return Krb5Config() + " KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE=";
  }
  static Probe Query(const std::string& target, const std::string& env) {
    return RunProbe(std::string(kDc), target, "", env);
  }
};

}  // namespace domain_servers

#endif  // KESTRIN_TESTS_INTEGRATION_DOMAIN_SERVERS_H_
