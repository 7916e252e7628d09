// The session setup's decisions: falling back to an anonymous logon, what a
// logon with credentials demands of the server's answers, and how the
// mechanism's failures come out. Replays recorded conversations.
#include "net/smb2_session.h"

#include <gtest/gtest.h>

#include "net/domain_query.h"
#include "net/smb2.h"
#include "net/test_conversation.h"
#include "net/wire.h"

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
                   bool* done) {
  DressedLogon* d = static_cast<DressedLogon*>(state);
  if (++d->steps == 2 && !IsOk(d->fail_at_step2)) return d->fail_at_step2;
  return d->inner.step(d->inner.state, in, in_size, out, done);
}

void DressedKey(void* state, SessionKey* key) { *key = static_cast<DressedLogon*>(state)->key; }
LogonMechanism DressedMechanism(void*) { return LogonMechanism::kNtlm; }
void DressedClose(void* state) {
  DressedLogon* d = static_cast<DressedLogon*>(state);
  ++d->closes;
  CloseLogon(&d->inner);
}

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
  EXPECT_TRUE(IsSecurity(r.status, kBadSignature) || IsSecurity(r.status, kCryptoUnavailable));
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
  for (Status failure : {SecurityFailure(kLogonFailed), SecurityFailure(kMutualAuthFailed),
                         Malformed()}) {
    DressedLogon d;
    d.fail_at_step2 = failure;
    Outcome r = ReplayDressed(c, &d);
    EXPECT_EQ(r.status.kind, failure.kind);
    EXPECT_EQ(r.status.code, failure.code);
    EXPECT_EQ(r.report.round_trips, 2u);  // never retried, never anonymous
  }
}

/// A logon that is done after its first token, whatever the server says.
Status OneTokenStep(void* state, const uint8_t* in, size_t, std::vector<uint8_t>* out,
                    bool* done) {
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
  // has nothing more to say.
  int calls = 0;
  Authenticator logon{&calls, OneTokenStep, NoKey, Kerberos, NoClose};
  Outcome r = Replay(c, &logon);
  EXPECT_EQ(r.status.kind, StatusKind::kMalformed);
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

}  // namespace
}  // namespace net
