// SPDX-License-Identifier: Apache-2.0
// The session setup's decisions: falling back to an anonymous logon, what a
// logon with credentials demands of the server's answers, and how the
// mechanism's failures come out. Replays recorded conversations.
#include "smb2/smb2_session.h"

#include <gtest/gtest.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>

#include <ostream>
#include <string>

#include "base/crypto.h"
#include "query/domain_query.h"
#include "smb2/smb2.h"
#include "transport/socket.h"
#include "testing/test_conversation.h"
#include "base/wire.h"

namespace net {
namespace {

/// The anonymous logon dressed as a caller's NTLM logon, with a session key
/// or none: it says exactly what the recorded anonymous client said, so
/// the recorded server goes along, but the exchange must treat the session
/// as one with credentials.
struct DressedLogon {
  Authenticator inner;
  SessionKey key;
  Status fail_at_step2 = OkStatus();
  int steps = 0;
  int closes = 0;
};

Status DressedStep(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out,
                   bool* done, Trace* trace) {
  DressedLogon* d = static_cast<DressedLogon*>(state);
  if (++d->steps == 2 && !IsOk(d->fail_at_step2)) return d->fail_at_step2;
  return d->inner.step(d->inner.state, in, in_size, out, done, trace);
}

void DressedKey(void* state, SessionKey* key) { *key = static_cast<DressedLogon*>(state)->key; }
LogonMechanism DressedMechanism(void*) { return LogonMechanism::kNtlm; }
void DressedClose(void* state) {
  DressedLogon* d = static_cast<DressedLogon*>(state);
  ++d->closes;
  CloseLogon(&d->inner);
}

std::string Utf16(const std::u16string& s) { return std::string(s.begin(), s.end()); }

struct Outcome {
  Status status;
  AccountDomain domain;
  QueryReport report;
  FakePeer peer;
};

Outcome Replay(const Conversation& c, Authenticator* logon) {
  Outcome r;
  r.peer.frames = c.received;
  r.peer.random = c.random;
  Transport t{&r.peer, FakeSend, FakeReceive, FakeRandom};
  r.status = RunDomainQuery(&t, logon, QueryLimits(), &r.domain, &r.report);
  return r;
}

Outcome ReplayDressed(const Conversation& c, DressedLogon* d) {
  EXPECT_TRUE(IsOk(OpenAnonymousLogon(&d->inner)));
  Authenticator logon{d, DressedStep, DressedKey, DressedMechanism, DressedClose};
  Outcome r = Replay(c, &logon);
  EXPECT_EQ(d->closes, 1);
  return r;
}

TEST(SessionSetup, NoCredentialGoesOnAnonymouslyAsRecorded) {
  Conversation c = LoadConversation("samba_sales_lsa.txt");
  ReplayLogon replay{&c};
  replay.no_credential = true;
  Authenticator logon = ReplayAuthenticator(&replay);
  Outcome r = Replay(c, &logon);
  ASSERT_TRUE(IsOk(r.status));
  EXPECT_EQ(r.domain.name, u"SALES");
  EXPECT_EQ(replay.closes, 1);
  EXPECT_EQ(r.report.mechanism, LogonMechanism::kAnonymous);
  EXPECT_FALSE(r.report.signed_session);
  EXPECT_EQ(r.report.round_trips, 6u);
  ASSERT_EQ(r.peer.sent.size(), c.sent.size());
  for (size_t i = 0; i < c.sent.size(); ++i) EXPECT_EQ(r.peer.sent[i], c.sent[i]) << i;
}

/// A logon whose library takes `wait_ms` at step `wait_at` (the first: as
/// a KDC's answer would): longer than the query may last, or not.
struct WaitingLogon {
  ReplayLogon replay;  // first: ReplayKey and ReplayMechanism take the state as one
  uint32_t wait_ms = 0;
  size_t wait_at = 0;
  std::atomic<int> closes{0};
  std::atomic<int> steps{0};
};

Status WaitingStep(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out,
                   bool* done, Trace* trace) {
  WaitingLogon* w = static_cast<WaitingLogon*>(state);
  ++w->steps;
  if (w->replay.step == w->wait_at) {
    SleepMs(w->wait_ms);
    TraceLine(trace, "logon: the KDC answered");
  }
  return ReplayStep(&w->replay, in, in_size, out, done, trace);
}

void WaitingClose(void* state) { ++static_cast<WaitingLogon*>(state)->closes; }

void AwaitClose(const WaitingLogon& w) {
  for (int i = 0; i < 300 && w.closes.load() == 0; ++i) SleepMs(10);
}

/// `w` as a logon whose steps run on a worker.
Authenticator WaitingAuthenticator(WaitingLogon* w, bool first_step_asks_kdc) {
  Authenticator logon{w, WaitingStep, ReplayKey, ReplayMechanism, WaitingClose};
  logon.may_wait = true;
  logon.first_step_asks_kdc = first_step_asks_kdc;
  return logon;
}

/// The recorded query `c` with `logon` in the logon's place; what it found
/// in `domain`, and which logon ran in `report`.
Status RunOn(const Conversation& c, Authenticator* logon, const QueryLimits& limits, FakePeer* peer,
             Trace* trace, AccountDomain* domain, QueryReport* report) {
  peer->frames = c.received;
  peer->random = c.random;
  Transport t{peer, FakeSend, FakeReceive, FakeRandom};
  return RunDomainQuery(&t, logon, limits, domain, report, trace);
}

// The logon's library waits on servers of its own: the query stops waiting
// at its deadline, and the step left behind closes its logon once the
// library lets go; a step in time goes on as any other, its trace lines in
// order. The time is blamed on whoever used it: "no authenticating
// authority" only where the step asks a KDC.
TEST(SessionSetup, LogonStepsRunUnderTheQuerysDeadline) {
  Conversation c = LoadConversation("samba_sales_lsa.txt");
  QueryLimits limits;
  limits.total_ms = 300;
  for (bool asks_kdc : {true, false}) {
    SCOPED_TRACE(asks_kdc ? "a step that asks a KDC" : "a step that asks nobody");
    WaitingLogon* late = new WaitingLogon;
    late->wait_ms = 1200;
    late->replay.c = &c;
    late->replay.no_credential = true;
    Authenticator logon = WaitingAuthenticator(late, asks_kdc);
    FakePeer peer;
    AccountDomain domain;
    QueryReport report;
    uint64_t start = MonotonicMs();
    Status s = RunOn(c, &logon, limits, &peer, nullptr, &domain, &report);
    uint64_t took = MonotonicMs() - start;
    EXPECT_NE(report.mechanism, LogonMechanism::kAnonymous) << "no anonymous logon ran";
    EXPECT_EQ(ToPlatformError(s), asks_kdc ? 0x80090311u : 121u) << int(s.kind) << " " << s.code;
    EXPECT_LT(took, 1000u) << "the query did not wait for the library";
    EXPECT_EQ(late->closes.load(), 0) << "still the worker's";
    AwaitClose(*late);
    EXPECT_EQ(late->closes.load(), 1);
    delete late;
  }

  WaitingLogon in_time;
  in_time.wait_ms = 20;
  in_time.replay.c = &c;
  in_time.replay.no_credential = true;  // goes on anonymously, as recorded
  Authenticator timely = WaitingAuthenticator(&in_time, true);
  std::string lines;
  Trace trace;
  trace.held = &lines;
  FakePeer peer;
  AccountDomain domain;
  Status s = RunOn(c, &timely, QueryLimits(), &peer, &trace, &domain, nullptr);
  ASSERT_TRUE(IsOk(s)) << int(s.kind) << " " << s.code;
  EXPECT_EQ(domain.name, u"SALES");
  EXPECT_EQ(in_time.closes.load(), 1);
  size_t kdc = lines.find("kestrin: logon: the KDC answered\n");
  ASSERT_NE(kdc, std::string::npos) << lines;
  EXPECT_LT(kdc, lines.find("kestrin: logon: anonymous")) << lines;
}

// A server that answers SESSION_SETUP just before the deadline leaves the
// logon's next step no time: it does not start, and the query's time ran
// out (121), not the KDC's. A step that waits on no one and starts in time
// but outlasts the deadline is the same. Neither blames a KDC, whichever
// logon it is.
TEST(SessionSetup, ALateServerAnswerIsTheQuerysTimeNotTheKdcs) {
  Conversation c = LoadConversation("ntlm_member1_311.txt");
  QueryLimits limits;
  limits.total_ms = 700;
  struct Case {
    uint32_t answer_before_deadline_ms;
    uint32_t step_ms;
    int steps_run;  // the steps that ran: the first, and the second if it started
  };
  for (const Case& k : {Case{30, 200, 1}, Case{1, 200, 1}, Case{350, 1000, 2}}) {
    SCOPED_TRACE(k.answer_before_deadline_ms);
    for (bool asks_kdc : {true, false}) {
      WaitingLogon* w = new WaitingLogon;
      w->wait_ms = k.step_ms;
      w->wait_at = 1;  // the step that answers the server's first SESSION_SETUP answer
      w->replay.c = &c;
      Authenticator logon = WaitingAuthenticator(w, asks_kdc);
      std::string lines;
      Trace trace;
      trace.held = &lines;
      FakePeer peer;
      peer.late_after_sends = 2;  // NEGOTIATE and the first SESSION_SETUP
      peer.late_until = MonotonicMs() + limits.total_ms - k.answer_before_deadline_ms;
      AccountDomain domain;
      QueryReport report;
      Status s = RunOn(c, &logon, limits, &peer, &trace, &domain, &report);
      EXPECT_NE(report.mechanism, LogonMechanism::kAnonymous) << "no anonymous logon ran";
      // Where the answer comes at the very end, the wait for it may see the
      // time run out first: 121 all the same.
      EXPECT_TRUE(
          s.kind == StatusKind::kTransport &&
          (s.code == kOutOfTime || (k.answer_before_deadline_ms < 10 && s.code == kReplyTimeout)))
          << int(s.kind) << " " << s.code << "\n"
          << lines;
      EXPECT_EQ(ToPlatformError(s), 121u);
      EXPECT_EQ(lines.find("KDC"), std::string::npos) << lines;
      EXPECT_EQ(w->steps.load(), k.steps_run) << lines;
      EXPECT_EQ(peer.sent.size(), 2u) << "nothing more went out";
      AwaitClose(*w);
      EXPECT_EQ(w->closes.load(), 1);
      delete w;
    }
  }
}

TEST(SessionSetup, CredentialsOnThreeOneOneDemandAKeyAndASignedAnswer) {
  Conversation c = LoadConversation("samba_sales_lsa.txt");
  // No key: 3.1.1 cannot be used unsigned.
  DressedLogon no_key;
  Outcome r = ReplayDressed(c, &no_key);
  EXPECT_TRUE(IsSecurity(r.status, kNoSessionKey));
  EXPECT_EQ(r.report.round_trips, 3u);  // nothing after the logon
  EXPECT_TRUE(r.domain.name.empty());
  // A key, but the server's last SESSION_SETUP answer is not signed.
  DressedLogon with_key;
  with_key.key.size = 16;
  r = ReplayDressed(c, &with_key);
  EXPECT_TRUE(IsSecurity(r.status, kBadSignature));
  EXPECT_EQ(r.report.round_trips, 3u);
}

TEST(SessionSetup, CredentialsWithoutKeyWorkUnsignedWhereNothingDemandsSigning) {
  // 3.0.2, and the server does not require signing: the session goes on
  // unsigned and without validation, as it must where no key can be had.
  Conversation c = LoadConversation("samba_sales_302.txt");
  DressedLogon no_key;
  Outcome r = ReplayDressed(c, &no_key);
  ASSERT_TRUE(IsOk(r.status));
  EXPECT_EQ(r.domain.name, u"SALES");
  EXPECT_EQ(r.report.mechanism, LogonMechanism::kNtlm);
  EXPECT_FALSE(r.report.signed_session);
  EXPECT_EQ(r.report.round_trips, 6u);
  // The same server requiring signing: no session without a key.
  std::vector<ServerFrame> frames = c.received;
  frames[0].bytes[4 + 64 + 2] |= kSmb2SigningRequired;  // NEGOTIATE SecurityMode
  Conversation required = c;
  required.received = frames;
  DressedLogon again;
  r = ReplayDressed(required, &again);
  EXPECT_TRUE(IsSecurity(r.status, kNoSessionKey));
}

TEST(SessionSetup, GuestOrNullSessionIsNoLogonWithCredentials) {
  Conversation c = LoadConversation("samba_sales_302.txt");
  size_t final_answer = 2;  // NEGOTIATE, MORE_PROCESSING, SUCCESS
  for (uint16_t flag : {kSmb2SessionGuest, kSmb2SessionNull}) {
    Conversation patched = c;
    patched.received[final_answer].bytes[4 + 64 + 2] = static_cast<uint8_t>(flag);
    DressedLogon d;
    Outcome r = ReplayDressed(patched, &d);
    EXPECT_TRUE(IsSecurity(r.status, kGuestSession)) << flag;
    EXPECT_EQ(ToPlatformError(r.status), 1326u);
  }
  // Anonymously the same flags are what one expects.
  Conversation patched = c;
  patched.received[final_answer].bytes[4 + 64 + 2] = kSmb2SessionNull;
  EXPECT_TRUE(IsOk(Replay(patched, nullptr).status));
}

TEST(SessionSetup, MechanismFailuresAreTheAnswer) {
  Conversation c = LoadConversation("samba_sales_302.txt");
  for (Status failure :
       {SecurityFailure(kLogonFailed), SecurityFailure(kMutualAuthFailed), Malformed()}) {
    DressedLogon d;
    d.fail_at_step2 = failure;
    Outcome r = ReplayDressed(c, &d);
    EXPECT_EQ(r.status.kind, failure.kind);
    EXPECT_EQ(r.status.code, failure.code);
    EXPECT_EQ(r.report.round_trips, 2u);  // never retried, never anonymous
  }
}

/// A logon that is done after its first token, whatever the server says.
Status OneTokenStep(void* state, const uint8_t* in, size_t, std::vector<uint8_t>* out, bool* done,
                    Trace*) {
  int* calls = static_cast<int*>(state);
  *done = ++*calls > 1;
  if (in == nullptr) out->push_back(0x60);
  return OkStatus();
}
void NoKey(void*, SessionKey* key) { key->size = 0; }
LogonMechanism Kerberos(void*) { return LogonMechanism::kKerberos; }
void NoClose(void*) {}

TEST(SessionSetup, LegsThatDoNotFitTheMechanism) {
  Conversation c = LoadConversation("samba_sales_302.txt");
  // The server wants more (MORE_PROCESSING_REQUIRED) from a mechanism that
  // has nothing more to say: the server's status is the answer, as it is
  // wherever else it comes.
  int calls = 0;
  Authenticator logon{&calls, OneTokenStep, NoKey, Kerberos, NoClose};
  Outcome r = Replay(c, &logon);
  EXPECT_EQ(r.status.kind, StatusKind::kNtStatus);
  EXPECT_EQ(ToPlatformError(r.status), 234u);
  EXPECT_EQ(r.report.round_trips, 2u);
  // The server says SUCCESS at once to a mechanism that has not finished:
  // it has not proved itself.
  Conversation early = c;
  PatchU32(WireWriter{&early.received[1].bytes}, 4 + 8, kStatusSuccess);
  Conversation tokens = c;
  tokens.tokens = {{0x60}, {0xA1}};
  ReplayLogon two_tokens{&tokens};
  Authenticator replay = ReplayAuthenticator(&two_tokens);
  r = Replay(early, &replay);
  EXPECT_EQ(r.status.kind, StatusKind::kMalformed);  // it still had something to say
}

/// A logon with `last` tokens, done with the last one (0: never done).
struct Talker {
  int calls = 0;
  int last = 0;
};
Status TalkerStep(void* state, const uint8_t*, size_t, std::vector<uint8_t>* out, bool* done,
                  Trace*) {
  Talker* t = static_cast<Talker*>(state);
  ++t->calls;
  *done = t->calls == t->last;
  if (t->last != 0 && t->calls > t->last) return Malformed();
  out->push_back(0x60);
  return OkStatus();
}

// SUCCESS from the server, and the mechanism is done yet has a last token
// (its own mechListMIC after the server's): nothing is left to send, and
// the logon stands.
Status ChattyStep(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out,
                  bool* done, Trace* trace) {
  Status s = ReplayStep(state, in, in_size, out, done, trace);
  if (IsOk(s) && *done) out->push_back(0xA1);
  return s;
}

TEST(SessionSetup, LastTokenOfAFinishedMechanismIsNotSent) {
  Conversation c = LoadConversation("krb5_member1_311.txt");
  ReplayLogon replay{&c};
  Authenticator logon{&replay, ChattyStep, ReplayKey, ReplayMechanism, ReplayClose};
  Outcome r = Replay(c, &logon);
  ASSERT_TRUE(IsOk(r.status)) << ToPlatformError(r.status);
  EXPECT_EQ(Utf16(r.domain.name), "MEMBER1");
  EXPECT_EQ(r.peer.sent.size(), c.sent.size());
}

// STATUS_MORE_PROCESSING_REQUIRED where our side cannot go on is the
// server's status (234), as it is at every other step: after the
// mechanism's last word (which is not asked again), after a final token
// that leaves it nothing to add, and after every leg we go along with.
TEST(SessionSetup, MoreProcessingOurSideCannotMeetIsTheServersStatus) {
  Conversation c = LoadConversation("samba_sales_302.txt");
  Conversation again = c;
  PatchU32(WireWriter{&again.received[2].bytes}, 4 + 8, kStatusMoreProcessing);
  Talker two{0, 2};
  Authenticator last_word{&two, TalkerStep, NoKey, Kerberos, NoClose};
  Outcome r = Replay(again, &last_word);
  EXPECT_TRUE(r.status.kind == StatusKind::kNtStatus && r.status.code == kStatusMoreProcessing);
  EXPECT_EQ(two.calls, 2);
  r = Replay(again, nullptr);  // the anonymous logon reads the token, then has nothing
  EXPECT_EQ(ToPlatformError(r.status), 234u);
  EXPECT_EQ(r.report.round_trips, 3u);
  // A server that never stops asking: the first leg's answer, again and again.
  Conversation endless = c;
  endless.received.resize(2);
  for (uint64_t id = 2; id <= 4; ++id) {
    ServerFrame more = c.received[1];
    PatchU32(WireWriter{&more.bytes}, 4 + 24, static_cast<uint32_t>(id));
    more.after_sends = id;
    endless.received.push_back(more);
  }
  Talker forever;
  Authenticator talker{&forever, TalkerStep, NoKey, Kerberos, NoClose};
  r = Replay(endless, &talker);
  EXPECT_EQ(ToPlatformError(r.status), 234u);
  EXPECT_EQ(r.report.round_trips, 5u);
}

}  // namespace
}  // namespace net

namespace net {
namespace {

struct Signed {
  const char* file;
  const char* name;
  uint16_t dialect;
  uint32_t round_trips;
  bool encrypted;
};

void PrintTo(const Signed& s, std::ostream* out) { *out << s.file; }

class SignedExchange : public ::testing::TestWithParam<Signed> {
 protected:
  void SetUp() override {
    c_ = LoadConversation(GetParam().file);
    ASSERT_FALSE(c_.received.empty());
    ASSERT_FALSE(c_.key.empty());
  }
  Outcome ReplayWith(const std::vector<ServerFrame>& frames) {
    Conversation c = c_;
    c.received = frames;
    ReplayLogon replay{&c_};
    Authenticator logon = ReplayAuthenticator(&replay);
    return Replay(c, &logon);
  }
  Conversation c_;
};

/// Whether a frame carries a message marked as signed.
bool CarriesSignedMessage(const Bytes& frame) {
  for (size_t pos = 4; pos + 64 <= frame.size();) {
    if (frame[pos + 16] & kSmb2FlagSigned) return true;
    uint32_t next = frame[pos + 20] | frame[pos + 21] << 8 | frame[pos + 22] << 16 |
                    static_cast<uint32_t>(frame[pos + 23]) << 24;
    if (next == 0 || next > frame.size() - pos) break;
    pos += next;
  }
  return false;
}

TEST_P(SignedExchange, RecordedSessionVerifiesAndIsSentByteForByte) {
  ReplayLogon replay{&c_};
  Authenticator logon = ReplayAuthenticator(&replay);
  Outcome r = Replay(c_, &logon);
  ASSERT_TRUE(IsOk(r.status)) << r.status.code;
  EXPECT_EQ(Utf16(r.domain.name), GetParam().name);
  EXPECT_TRUE(r.report.signed_session);
  EXPECT_EQ(r.report.dialect, GetParam().dialect);
  EXPECT_EQ(r.report.round_trips, GetParam().round_trips);
  EXPECT_EQ(r.report.encrypted_session, GetParam().encrypted);
  EXPECT_EQ(replay.closes, 1);
  ASSERT_EQ(r.peer.sent.size(), c_.sent.size());
  for (size_t i = 0; i < c_.sent.size(); ++i) EXPECT_EQ(r.peer.sent[i], c_.sent[i]) << i;
}

#ifdef _WIN32
// libgcrypt's Windows build gathers entropy from a score of system calls at
// every hash or MAC it opens, which Wine makes slow: there every 16th byte is
// flipped (a different one in each frame), natively every byte.
constexpr size_t kFlipStride = 16;
#else
constexpr size_t kFlipStride = 1;
#endif

// Whatever one flipped bit does, the answer is never a different one; and
// where the bit is in a signed answer, or anywhere before the logon ends on
// 3.1.1 (the preauth hash covers it), the query fails. The one exception:
// on 2.x the last SESSION_SETUP answer may come unsigned (MS-SMB2
// 3.2.5.3.1), so clearing its SIGNED flag passes; everything after it is
// still verified. From 3.0 on it must come signed.
TEST_P(SignedExchange, NoFlippedBitChangesTheAnswer) {
  Outcome good = ReplayWith(c_.received);
  ASSERT_TRUE(IsOk(good.status));
  bool hashed = GetParam().dialect == kSmb2Dialect311;
  for (size_t k = 0; k < c_.received.size(); ++k) {
    const Bytes& frame = c_.received[k].bytes;
    bool must_fail = CarriesSignedMessage(frame) || (hashed && k < 3 && frame[4 + 12] == 1) ||
                     (hashed && k == 0) || frame[4] == 0xFD;  // or encrypted
    bool validated = GetParam().dialect == kSmb2Dialect302 && k == 0;
    for (size_t i = 4 + k % kFlipStride; i < frame.size(); i += kFlipStride) {
      for (int bit = 0; bit < 8; ++bit) {
        std::vector<ServerFrame> frames = c_.received;
        frames[k].bytes[i] ^= static_cast<uint8_t>(1 << bit);
        Outcome r = ReplayWith(frames);
        bool unsigned_logon_answer = GetParam().dialect < kSmb2Dialect300 &&
                                     frame[4 + 12] == kSmb2SessionSetup && i == 4 + 16 && bit == 3;
        // What VALIDATE_NEGOTIATE_INFO repeats of the NEGOTIATE answer:
        // SecurityMode, Dialect, ServerGuid, Capabilities.
        size_t body = i - (4 + 64);
        bool repeated =
            validated && i >= 4 + 64 && ((body >= 2 && body < 6) || (body >= 8 && body < 28));
        if (IsOk(r.status)) {
          ASSERT_TRUE((!must_fail || unsigned_logon_answer) && !repeated)
              << "frame " << k << " byte " << i << " bit " << bit;
          ASSERT_EQ(r.domain.name, good.domain.name);
          ASSERT_EQ(memcmp(&r.domain.sid, &good.domain.sid, sizeof good.domain.sid), 0);
        }
      }
    }
  }
}

TEST_P(SignedExchange, UnprotectedAnswerIsRefused) {
  // The last answer (the domain's name and SID) with its signature taken
  // off, or, where the session encrypts, any answer in clear in its place.
  std::vector<ServerFrame> frames = c_.received;
  Bytes& last = frames.back().bytes;
  if (GetParam().encrypted) {
    last = frames.front().bytes;
  } else {
    last[4 + 16] &= static_cast<uint8_t>(~kSmb2FlagSigned);
    for (size_t i = 4 + 48; i < 4 + 64; ++i) last[i] = 0;
  }
  Outcome r = ReplayWith(frames);
  EXPECT_TRUE(IsSecurity(r.status, GetParam().encrypted ? kNotEncrypted : kBadSignature));
  EXPECT_EQ(ToPlatformError(r.status), 0x8009030Fu);
  EXPECT_TRUE(r.domain.name.empty());
}

// The last SESSION_SETUP answer with its signature taken off: from 3.0 on
// its flags carry ENCRYPT_DATA, so it must come signed; on 2.x it may not.
TEST_P(SignedExchange, UnsignedFinalLogonAnswer) {
  std::vector<ServerFrame> frames = c_.received;
  size_t last_setup = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    if (frames[k].bytes[4 + 12] == kSmb2SessionSetup) last_setup = k;
  }
  Bytes& answer = frames[last_setup].bytes;
  answer[4 + 16] &= static_cast<uint8_t>(~kSmb2FlagSigned);
  for (size_t i = 4 + 48; i < 4 + 64; ++i) answer[i] = 0;
  Outcome r = ReplayWith(frames);
  if (GetParam().dialect < kSmb2Dialect300) {
    EXPECT_TRUE(IsOk(r.status)) << ToPlatformError(r.status);
  } else {
    EXPECT_TRUE(IsSecurity(r.status, kBadSignature)) << ToPlatformError(r.status);
  }
}

// A busy Windows server first answers pipe I/O as pending: 72 bytes, in the
// async form, unsigned. The signed answer after it is still verified.
TEST_P(SignedExchange, UnsignedInterimAnswersBeforePipeAnswers) {
  if (GetParam().encrypted) return;  // there the interim answer comes encrypted too
  std::vector<ServerFrame> frames;
  for (const ServerFrame& f : c_.received) {
    if (f.bytes[4 + 12] == kSmb2Ioctl) {
      frames.push_back({Interim(FirstHeader(f.bytes), kShortErrorBody), f.after_sends});
    }
    frames.push_back(f);
  }
  Outcome r = ReplayWith(frames);
  ASSERT_TRUE(IsOk(r.status)) << ToPlatformError(r.status);
  EXPECT_EQ(Utf16(r.domain.name), GetParam().name);
  EXPECT_EQ(r.report.round_trips, GetParam().round_trips);
  // The unsigned interim answer vouches for nothing after it.
  Bytes& last = frames.back().bytes;
  last[4 + 16] &= static_cast<uint8_t>(~kSmb2FlagSigned);
  for (size_t i = 4 + 48; i < 4 + 64; ++i) last[i] = 0;
  EXPECT_TRUE(IsSecurity(ReplayWith(frames).status, kBadSignature));
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, SignedExchange,
    ::testing::Values(
        Signed{"krb5_member1_311.txt", "MEMBER1", kSmb2Dialect311, 5, false},
        Signed{"ntlm_member1_311.txt", "MEMBER1", kSmb2Dialect311, 6, false},
        Signed{"ntlm_member3_302.txt", "MEMBER3", kSmb2Dialect302, 6, false},
        Signed{"ntlm_member2_210.txt", "MEMBER2", kSmb2Dialect210, 6, false},
        Signed{"krb5_member5_311_aes128gcm.txt", "MEMBER5", kSmb2Dialect311, 5, true},
        Signed{"krb5_member7_311_aes256gcm.txt", "MEMBER7", kSmb2Dialect311, 5, true},
        Signed{"ntlm_member8_311_aes256ccm.txt", "MEMBER8", kSmb2Dialect311, 6, true},
        Signed{"ntlm_member9_302_aes128ccm.txt", "MEMBER9", kSmb2Dialect302, 6, true},
        Signed{"krb5_member10_311_ipc_encrypted.txt", "MEMBER10", kSmb2Dialect311, 6, true},
        // One credit at a time: every request alone, the validation too;
        // IPC$ encryption known before CREATE and BIND go, so they go once.
        Signed{"ntlm_member11_302_credits1.txt", "MEMBER11", kSmb2Dialect302, 9, false},
        Signed{"krb5_member12_311_ipc_encrypted_credits1.txt", "MEMBER12", kSmb2Dialect311, 7,
               true}));

}  // namespace
}  // namespace net

namespace net {
namespace {

// The 3.0.2 recording holds the VALIDATE_NEGOTIATE_INFO answer, sent
// together with LsarOpenPolicy2. A man in the middle cannot forge it; the
// server can only tell the truth, so these answers are re-signed with the
// session's key as the server would sign them.
class Validation : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = LoadConversation("ntlm_member3_302.txt");
    for (size_t k = 0; k < c_.received.size(); ++k) {
      const Bytes& b = c_.received[k].bytes;
      if (b.size() > 4 + 72 && b[4 + 12] == kSmb2Ioctl && b[4 + 68] == 0x04 && b[4 + 69] == 0x02 &&
          b[4 + 70] == 0x14) {
        vni_ = k;
      }
    }
    ASSERT_NE(vni_, 0u) << "the recording has no VALIDATE_NEGOTIATE_INFO answer";
    ASSERT_TRUE(CryptoReady());
    ASSERT_TRUE(DeriveSigningKey(kSmb2Dialect302, SigningAlgorithm::kAesCmac, c_.key.data(),
                                 c_.key.size(), PreauthHash(), &key_));
  }
  /// Changes the VNI answer with `edit`, signs it again, replays.
  template <typename Edit>
  Outcome ReplayEdited(Edit edit, Status at_end = TransportFailure(kReplyTimeout)) {
    Conversation c = c_;
    Bytes& vni = c.received[vni_].bytes;
    edit(&vni);
    EXPECT_TRUE(SignSmb2Message(key_, vni.data() + 4, vni.size() - 4));
    ReplayLogon replay{&c_};
    Authenticator logon = ReplayAuthenticator(&replay);
    Outcome r;
    r.peer.frames = c.received;
    r.peer.random = c.random;
    r.peer.at_end = at_end;
    Transport t{&r.peer, FakeSend, FakeReceive, FakeRandom};
    r.status = RunDomainQuery(&t, &logon, QueryLimits(), &r.domain, &r.report);
    return r;
  }
  Conversation c_;
  size_t vni_ = 0;
  Smb2SigningKey key_;
};

constexpr size_t kVniOutput = 4 + 0x70;  // the 24 bytes of the answer in the frame

TEST_F(Validation, AnswerMustRepeatTheNegotiation) {
  EXPECT_TRUE(IsOk(ReplayEdited([](Bytes*) {}).status));
  // Capabilities, the server's GUID, SecurityMode, the dialect.
  for (size_t at : {size_t{0}, size_t{4}, size_t{19}, size_t{20}, size_t{22}}) {
    Outcome r = ReplayEdited([at](Bytes* b) { (*b)[kVniOutput + at] ^= 0x02; });
    EXPECT_TRUE(IsSecurity(r.status, kDowngradeDetected)) << at;
    EXPECT_EQ(ToPlatformError(r.status), 1265u);
    EXPECT_TRUE(r.domain.name.empty());
  }
}

// Every answer after the logon in the async form that follows an interim
// one (AsyncId where the TreeId was), signed as the server signs it.
TEST_F(Validation, SignedFinalAnswersInTheAsyncForm) {
  Conversation c = c_;
  std::vector<ServerFrame> frames;
  size_t async_answers = 0;
  for (size_t k = 0; k < c.received.size(); ++k) {
    Bytes f = c.received[k].bytes;
    if (k > vni_ && f[4 + 12] == kSmb2Ioctl && f[4 + 20] == 0) {
      frames.push_back({Interim(FirstHeader(f), kShortErrorBody), c.received[k].after_sends});
      Smb2Header h = FirstHeader(f);
      h.flags |= kSmb2FlagAsync | kSmb2FlagSigned;
      h.async_id = 0x2d;
      h.credits = 0;
      Bytes body(f.begin() + 4 + 64, f.end());
      f = Frame(h, body);
      EXPECT_TRUE(SignSmb2Message(key_, f.data() + 4, f.size() - 4));
      ++async_answers;
    }
    frames.push_back({f, c.received[k].after_sends});
  }
  ASSERT_GT(async_answers, 0u);
  c.received = frames;
  ReplayLogon replay{&c_};
  Authenticator logon = ReplayAuthenticator(&replay);
  Outcome r = Replay(c, &logon);
  ASSERT_TRUE(IsOk(r.status)) << ToPlatformError(r.status);
  EXPECT_EQ(Utf16(r.domain.name), "MEMBER3");
}

TEST_F(Validation, RefusalsAndHangingUp) {
  auto with_status = [](uint32_t status) {
    return [status](Bytes* b) { PatchU32(WireWriter{b}, 4 + 8, status); };
  };
  // Servers that do not implement the FSCTL say so; nothing is proved, and
  // the query goes on.
  for (uint32_t status : {0xC00000BBu, 0xC0000010u, 0xC0000128u}) {
    EXPECT_TRUE(IsOk(ReplayEdited(with_status(status)).status)) << status;
  }
  EXPECT_TRUE(IsSecurity(ReplayEdited(with_status(0xC0000022)).status, kDowngradeDetected));
  EXPECT_EQ(ToPlatformError(ReplayEdited(with_status(kStatusMoreProcessing)).status), 234u);
  // A server that found a mismatch hangs up without an answer.
  Conversation cut = c_;
  cut.received.resize(vni_);
  ReplayLogon replay{&c_};
  Authenticator logon = ReplayAuthenticator(&replay);
  Outcome r;
  r.peer.frames = cut.received;
  r.peer.random = c_.random;
  r.peer.at_end = TransportFailure(kClosed);
  Transport t{&r.peer, FakeSend, FakeReceive, FakeRandom};
  r.status = RunDomainQuery(&t, &logon, QueryLimits(), &r.domain, &r.report);
  EXPECT_TRUE(IsSecurity(r.status, kDowngradeDetected));
}

}  // namespace
}  // namespace net
