// SPDX-License-Identifier: Apache-2.0
// The KDC is whoever answers on its address, and nothing it says is
// authenticated. A stand-in (hostile_kdc.py) in the DC's namespace answers
// the logon's ticket request in every way it can: every error code, every
// truncation and corruption of its answer, silence, a closed connection,
// an answer that comes late. With a ticket-granting ticket in the cache,
// Kerberos applies to a name whatever the KDC says: its failure is the
// answer (or NTLM's, when NTLM_USER_FILE is set), never an anonymous
// session, and the query keeps its bound. By address no KDC is asked.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "domain_servers.h"
#include "probe_runner.h"
#include "transport/socket.h"

namespace {

using namespace probe_runner;
using namespace domain_servers;

/// The stand-in's address in the DC's namespace.
constexpr const char* kStandIn = "127.0.0.62";

/// What a Kerberos logon that failed may give.
constexpr int kNoAuthority = -2146893039;     // SEC_E_NO_AUTHENTICATING_AUTHORITY
constexpr int kTargetUnknown = -2146893053;   // SEC_E_TARGET_UNKNOWN
constexpr int kContextExpired = -2146893033;  // SEC_E_CONTEXT_EXPIRED
constexpr int kLogonDenied = -2146893044;     // SEC_E_LOGON_DENIED

bool IsKerberosFailure(int status) {
  return status == kNoAuthority || status == kTargetUnknown || status == kContextExpired ||
         status == kLogonDenied;
}

/// The stand-in, started on first use, stopped with the DC if not before.
struct StandIn {
  std::string conf;     // a krb5.conf whose realm's KDC is the stand-in
  std::string control;  // what it answers: one line (hostile_kdc.py)
  size_t length = 0;    // its plain KRB-ERROR's length
  size_t tlvs = 0;      // and the count of the TLVs in it
};

StandIn StartStandIn() {
  StandIn k;
  std::string dir = StateDir(), ns = Quote(Where(kDc).ns);
  k.conf = dir + "/krb5-hostile.conf";
  k.control = dir + "/hostile-kdc.control";
  std::string ready = dir + "/hostile-kdc.ready";
  Shell("sed 's/kdc = 127.0.0.1/kdc = " + std::string(kStandIn) + "/' " +
        Quote(dir + "/krb5.conf") + " >" + Quote(k.conf));
  Shell("echo silent >" + Quote(k.control) + "; rm -f " + Quote(ready));
  Shell("ip netns exec " + ns + " setsid /usr/bin/python3 " + Quote(KESTRIN_HOSTILE_KDC) + " " +
        kStandIn + " " + Quote(k.control) + " " + Quote(ready) +
        " 600 </dev/null >/dev/null 2>&1 & echo $! >" + Quote(dir + "/hostile-kdc.pid"));
  for (int i = 0; i < 200 && Shell("test -e " + Quote(ready)).exit_code != 0; ++i) usleep(20000);
  unsigned long length = 0, tlvs = 0;
  if (sscanf(ReadText(ready).c_str(), "%lu %lu", &length, &tlvs) == 2) {
    k.length = length;
    k.tlvs = tlvs;
  }
  return k;
}

void StopStandIn() {
  std::string pid = StateDir() + "/hostile-kdc.pid";
  Shell("kill $(cat " + Quote(pid) + " 2>/dev/null) 2>/dev/null; rm -f " + Quote(pid));
}

void Answer(const StandIn& k, const std::string& mode) {
  FILE* f = fopen(k.control.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fprintf(f, "%s\n", mode.c_str());
  fclose(f);
}

/// How many requests reached the stand-in so far.
size_t Requests(const StandIn& k) {
  std::string log = ReadText(k.control + ".requests");
  size_t n = 0;
  for (char c : log) n += c == '\n';
  return n;
}

/// A fresh ticket cache with the ticket-granting ticket alone.
std::string FreshTgt() {
  std::string tgt = StateDir() + "/tgt-hostile.ccache";
  remove(tgt.c_str());
  EXPECT_TRUE(Servers(std::string("kinit ") + kDc + " alice " + tgt));
  return tgt;
}

/// One way of answering, and the probe's bound where the default one would
/// only make the walk slow (answers that never come).
struct Case {
  std::string mode;
  std::string limits;
};

/// Every way of answering the stand-in knows, each error code from 0 to
/// 255 and beyond, every truncation and every length of its answer.
std::vector<Case> EveryAnswer(const StandIn& k) {
  std::vector<Case> cases;
  auto add = [&](const std::string& mode) { cases.push_back(Case{mode, ""}); };
  for (long code = 0; code <= 255; ++code) add("error " + std::to_string(code));
  // Past a byte, the ends of the Int32, and the one that is minus the
  // library's error table base: base + code = 0, "no error".
  for (long code : {256L, 1000L, 65535L, 2147483647L, -1L, -2147483648L, 1765328384L}) {
    add("error " + std::to_string(code));
  }
  for (size_t n = 0; n < k.length; ++n) add("truncate " + std::to_string(n));
  for (size_t at = 0; at < k.length; ++at) {
    for (int byte : {0x00, 0xFF}) add("corrupt " + std::to_string(at) + " " + std::to_string(byte));
  }
  for (size_t i = 0; i < k.tlvs; ++i) {
    for (const char* how : {"plus1", "huge"}) add("overlong " + std::to_string(i) + " " + how);
  }
  for (int tag = 0; tag <= 40; ++tag) {
    if (tag != 30) add("tag " + std::to_string(tag));
  }
  add("tag 127");
  // Too big for UDP: again over TCP, where it ends in every way.
  for (long code : {7L, 141L, 1765328384L}) add("toobig " + std::to_string(code));
  for (size_t n = 0; n < k.length; ++n) add("tcp-truncate " + std::to_string(n));
  for (long length : {0L, 1L, 65536L, 2147483647L, 4294967295L}) {
    add("tcp-huge " + std::to_string(length));
  }
  add("tcp-close");
  // Answers that come late, or never: the probe's bound shortened to 4 s.
  const std::string short_bound = "--total-ms 4000";
  cases.push_back(Case{"delay 300 300 141", short_bound});
  cases.push_back(Case{"delay 1500 1500 141", short_bound});  // after a first resend
  cases.push_back(Case{"delay 6000 6000 141", short_bound});  // after the bound
  cases.push_back(Case{"silent", short_bound});
  cases.push_back(Case{"close", short_bound});
  return cases;
}

/// What a walk saw: how often each status came, and the cases that went
/// wrong, each with what it gave.
struct Tally {
  size_t cases = 0;
  std::map<int, size_t> statuses;
  size_t anonymous = 0;
  size_t died = 0;  // the probe printed nothing: it crashed
  std::vector<std::string> wrong;
  uint64_t slowest_ms = 0;
};

/// Counts the probe's outcome; whether it went anonymous.
bool Count(Tally* t, const Probe& p, const std::string& trace) {
  ++t->cases;
  if (p.text.find("status=") == std::string::npos) {
    ++t->died;
  } else {
    ++t->statuses[p.status];
  }
  t->slowest_ms = std::max(t->slowest_ms, p.wall_ms);
  bool anonymous = p.mechanism == "anonymous" || trace.find("anonymous") != std::string::npos;
  t->anonymous += anonymous;
  return anonymous;
}

std::string Summary(const Tally& t) {
  std::string text = std::to_string(t.cases) + " cases, statuses:";
  const char* separator = " ";
  for (const auto& [status, count] : t.statuses) {
    text += separator + std::to_string(status) + " x" + std::to_string(count);
    separator = ", ";
  }
  return text + "; anonymous: " + std::to_string(t.anonymous) +
         "; crashed: " + std::to_string(t.died) + "; slowest " + std::to_string(t.slowest_ms) +
         " ms";
}

/// Prints what the walk `name`, begun at `since`, saw, and fails with the
/// cases that went wrong: that `wrong`.
void Report(const char* name, const Tally& t, uint64_t since, const char* wrong) {
  printf("[ measured ] hostile KDC, %s: %s; %llu s\n", name, Summary(t).c_str(),
         static_cast<unsigned long long>((net::MonotonicMs() - since) / 1000));
  std::string text;
  for (const std::string& w : t.wrong) text += "  " + w + "\n";
  EXPECT_TRUE(t.wrong.empty()) << t.wrong.size() << " of " << t.cases << " answers of the KDC "
                               << wrong << ":\n"
                               << text;
}

/// The probe against `target` with the stand-in answering as `c` says;
/// the trace's text in `*trace`.
Probe Ask(const StandIn& k, const Case& c, const std::string& target, const std::string& env,
          std::string* trace) {
  Answer(k, c.mode);
  std::string path = TraceFile("hostile-kdc");
  Probe p = RunProbe(kDc, target, c.limits, "KESTRIN_TRACE=" + Quote(path) + " " + env);
  *trace = ReadText(path);
  remove(path.c_str());
  return p;
}

std::string Outcome(const Case& c, const Probe& p) {
  std::string text = p.text;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return c.mode + ": " + text + " (" + std::to_string(p.wall_ms) + " ms)";
}

TEST_F(DomainLogonTest, AHostileKdcNeverMakesATicketHolderAnonymous) {
  StandIn k = StartStandIn();
  ASSERT_GT(k.length, 0u) << "the stand-in KDC did not start";
  std::string tgt = FreshTgt();
  std::string tickets = Shell("klist -c " + Quote("FILE:" + tgt)).text;
  std::string kerberos =
      "KRB5_CONFIG=" + Quote(k.conf) + " KRB5CCNAME=" + Quote("FILE:" + tgt) + " NTLM_USER_FILE=";
  std::string both = "KRB5_CONFIG=" + Quote(k.conf) + " KRB5CCNAME=" + Quote("FILE:" + tgt) +
                     " NTLM_USER_FILE=" + Quote(StateDir() + "/users/alice.ntlm");
  std::vector<Case> cases = EveryAnswer(k);
  uint64_t start = net::MonotonicMs();

  // By name, Kerberos alone: its failure is the answer, whatever it is.
  Tally walk;
  for (const Case& c : cases) {
    std::string trace;
    size_t before = Requests(k);
    Probe p = Ask(k, c, "dc1.sales.test", kerberos, &trace);
    bool anonymous = Count(&walk, p, trace);
    if (anonymous || !IsKerberosFailure(p.status) || !p.name.empty() || p.wall_ms >= 20000 ||
        Requests(k) == before) {
      walk.wrong.push_back(Outcome(c, p) + (anonymous ? " ANONYMOUS" : "") +
                           (Requests(k) == before ? " (the KDC was not asked)" : ""));
    }
  }
  Report("by name", walk, start, "gave no Kerberos failure");

  // With NTLM credentials too, NTLM takes over from the failed Kerberos:
  // for every error code, and every seventh of the other answers that come
  // within the bound. KDC_ERR_SVC_UNAVAILABLE (29) sends the library on to
  // the next KDC, the same again, until its own time is spent (17 s), which
  // leaves NTLM too little of the bound.
  Tally ntlm;
  start = net::MonotonicMs();
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    bool code = c.mode.rfind("error ", 0) == 0;
    if (!c.limits.empty() || c.mode == "error 29" || (!code && i % 7 != 0)) continue;
    std::string trace;
    Probe p = Ask(k, c, "dc1.sales.test", both, &trace);
    if (Count(&ntlm, p, trace) || p.status != 0 || p.mechanism != "ntlm" || !p.is_signed ||
        p.sid != "S-1-5-21-100-200-300") {
      ntlm.wrong.push_back(Outcome(c, p));
    }
  }
  Report("by name with NTLM too", ntlm, start, "kept NTLM from answering");

  // By address Kerberos cannot apply: the DC answers anonymously, and the
  // KDC hears nothing, whatever it would have said.
  for (const char* mode :
       {"error 141", "error 7", "error 1765328384", "tcp-huge 4294967295", "silent"}) {
    SCOPED_TRACE(mode);
    std::string trace;
    size_t before = Requests(k);
    Probe p = Ask(k, Case{mode, ""}, "127.0.0.1", kerberos, &trace);
    EXPECT_EQ(p.status, 0) << p.text << trace;
    EXPECT_EQ(p.mechanism, "anonymous");
    EXPECT_EQ(p.sid, "S-1-5-21-100-200-300");
    EXPECT_EQ(Requests(k), before) << "a KDC was asked for an address";
  }
  // No answer of the KDC's left a ticket behind in the cache.
  EXPECT_EQ(Shell("klist -c " + Quote("FILE:" + tgt)).text, tickets);
  StopStandIn();
}

// The query ends at its bound while the KDC is still to answer: the logon
// is left behind on its worker, and the answer comes as the process ends.
// The real program, again and again (several at once), with the answers
// spread around its bound of 19 s: each prints its lines and exits with 2.
TEST_F(DomainLogonTest, TheProgramEndsWhileTheKdcAnswers) {
  StandIn k = StartStandIn();
  ASSERT_GT(k.length, 0u) << "the stand-in KDC did not start";
  std::string tgt = FreshTgt();
  std::string dir = StateDir(), ns = Quote(Where(kDc).ns);
  ASSERT_NO_FATAL_FAILURE(Answer(k, "delay 18700 19500 141"));
  constexpr int kRuns = 20, kAtOnce = 10;
  std::string script;
  for (int i = 0; i < kRuns; ++i) {
    std::string out = Quote(dir + "/exit-" + std::to_string(i));
    script += "(timeout -k 5 40 ip netns exec " + ns + " env KRB5_CONFIG=" + Quote(k.conf) +
              " KRB5CCNAME=" + Quote("FILE:" + tgt) + " NTLM_USER_FILE= " + Quote(KESTRIN_BINARY) +
              " dc1.sales.test >" + out + ".out 2>&1; echo $? >" + out + ".rc) & ";
    if (i % kAtOnce == kAtOnce - 1) script += "wait; ";
  }
  uint64_t start = net::MonotonicMs();
  Shell(script + "wait");
  uint64_t took = net::MonotonicMs() - start;
  Answer(k, "silent");
  std::map<std::string, int> seen;
  for (int i = 0; i < kRuns; ++i) {
    SCOPED_TRACE("run " + std::to_string(i));
    std::string base = dir + "/exit-" + std::to_string(i);
    std::string out = ReadText(base + ".out");
    int rc = atoi(ReadText(base + ".rc").c_str());
    const std::string head = "Kestrin Test...\n=========================================\n";
    const std::string line = "Kestrin resulted in return code ";
    int status = 0;
    bool lines = out.rfind(head + line, 0) == 0 &&
                 sscanf(out.c_str() + head.size() + line.size(), "%d", &status) == 1 &&
                 out == head + line + std::to_string(status) + ".\n";
    EXPECT_EQ(rc, 2) << "124 and up: hung or killed by a signal\n" << out;
    EXPECT_TRUE(lines) << out;
    EXPECT_TRUE(IsKerberosFailure(status)) << out;
    ++seen[std::to_string(rc) + "/" + std::to_string(status)];
    remove((base + ".out").c_str());
    remove((base + ".rc").c_str());
  }
  std::string text;
  for (const auto& [what, count] : seen) text += " " + what + " x" + std::to_string(count);
  printf("[ measured ] program ending while the KDC answers: %d runs (exit/status):%s; %llu s\n",
         kRuns, text.c_str(), static_cast<unsigned long long>(took / 1000));
  EXPECT_LT(took, 2 * 25000u) << "each wave within the bound and the exit";
  StopStandIn();
}

}  // namespace
