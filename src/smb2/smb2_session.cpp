// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_session.h"

#include <new>

#include "base/bounded_call.h"
#include "base/crypto.h"
#include "smb2/smb2_algorithms.h"
#include "smb2/smb2_names.h"
#include "transport/socket.h"

namespace net {
namespace {

/// SESSION_SETUP legs we go along with: Kerberos takes one, NTLM two, a
/// SPNEGO that changes mechanism on the way one or two more.
constexpr int kMaxLegs = 4;
/// SecurityBufferLength is 16 bits wide.
constexpr size_t kMaxToken = 0xFFFF;

void TraceNegotiated(Trace* trace, const Smb2NegotiateResult& n) {
  char dialect[16];
  TraceLine(trace, "dialect %s, signing %s, encryption %s%s", DialectName(n.dialect, dialect),
            (n.security_mode & kSmb2SigningRequired) != 0 ? "required" : "enabled",
            n.can_encrypt ? "possible with " : "not possible",
            n.can_encrypt ? CipherName(n.cipher) : "");
}

const char* MechanismName(LogonMechanism m) {
  switch (m) {
    case LogonMechanism::kAnonymous: return "anonymous";
    case LogonMechanism::kKerberos: return "Kerberos";
    case LogonMechanism::kNtlm: return "NTLM";
    default: return "the caller's credentials";
  }
}

/// Overwrites a token we held (an NTLM AUTHENTICATE can be attacked
/// offline) and empties it.
void WipeToken(std::vector<uint8_t>* token) {
  if (!token->empty()) WipeBytes(token->data(), token->size());
  token->clear();
}

/// One logon step on a worker thread, with its own copy of the server's
/// token and a trace that holds its lines: if the query leaves it behind,
/// it touches nothing of the query's.
struct StepJob {
  Authenticator logon;
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
  bool done = false;
  Status status;
  std::string lines;
  Trace trace;
};

void RunStep(void* work) {
  StepJob* job = static_cast<StepJob*>(work);
  job->status = job->logon.step(job->logon.state, job->in.empty() ? nullptr : job->in.data(),
                                job->in.size(), &job->out, &job->done, &job->trace);
}

void ReleaseStep(void* work) {
  StepJob* job = static_cast<StepJob*>(work);
  WipeToken(&job->out);
  CloseLogon(&job->logon);
  delete job;
}

/// A step that would start with less of the query's time than this does
/// not start: whatever it waited on would not have been given a fair chance.
constexpr uint64_t kLeastStepMs = 100;

/// A step of a logon whose library waits on servers of its own (a KDC, the
/// DNS records that find it) with waits that know nothing of our deadline:
/// it runs on a worker, and the worker then closes the logon when the
/// library lets go of it. The time is blamed on whoever used it: at the
/// deadline, a step that asks a KDC (`asks_kdc`) ends the query with
/// kNoAuthority; any other step, or one that would start with too little
/// time left, with kOutOfTime.
Status StepWithin(const Smb2Connection& c, Authenticator* logon, bool asks_kdc, const uint8_t* in,
                  size_t in_size, std::vector<uint8_t>* out, bool* done) {
  if (!logon->may_wait) return logon->step(logon->state, in, in_size, out, done, c.trace);
  if (RemainingMs(c.deadline) < kLeastStepMs) {
    TraceLine(c.trace, "logon: the query's time ran out before the logon's next step");
    return TransportFailure(kOutOfTime);
  }
  StepJob* job = new (std::nothrow) StepJob;
  if (job == nullptr) return TransportFailure(kNoResources);
  job->logon = *logon;
  if (in_size > 0) job->in.assign(in, in + in_size);
  if (Tracing(c.trace)) job->trace.held = &job->lines;
  CallOutcome outcome = RunBounded(BoundedCall{RunStep, ReleaseStep, job}, c.deadline);
  if (outcome == CallOutcome::kLeftBehind) {
    *logon = Authenticator();  // the worker's to close now
    if (asks_kdc) {
      TraceLine(c.trace, "logon: no answer from the logon's servers (KDC) by the query's deadline");
      return SecurityFailure(kNoAuthority);
    }
    TraceLine(c.trace, "logon: the query's time ran out during a step that asks no server");
    return TransportFailure(kOutOfTime);
  }
  if (outcome == CallOutcome::kNoThread) {
    delete job;
    return TransportFailure(kNoResources);
  }
  WriteHeldLines(c.trace, job->lines);
  Status s = job->status;
  *done = job->done;
  out->insert(out->end(), job->out.begin(), job->out.end());
  WipeToken(&job->out);
  delete job;
  return s;
}

/// Runs the logon's first step. With no credential to log on with, as its
/// first step decides on this computer alone before it asks anyone, it
/// goes on as the anonymous logon, exactly as if that had been asked for:
/// the one place where a logon becomes anonymous. Any other failure is the
/// answer.
Status StartLogon(const Smb2Connection& c, Authenticator* logon, Smb2Session* s) {
  bool done = false;
  WipeToken(&s->first_token);
  Status st = StepWithin(c, logon, logon->first_step_asks_kdc, nullptr, 0, &s->first_token, &done);
  if (IsSecurity(st, kNoCredential)) {
    WipeToken(&s->first_token);
    CloseLogon(logon);
    st = OpenAnonymousLogon(logon);
    if (IsOk(st)) st = StepWithin(c, logon, false, nullptr, 0, &s->first_token, &done);
  }
  // A logon left behind on its worker has not said which mechanism it is.
  s->mechanism =
      logon->mechanism != nullptr ? logon->mechanism(logon->state) : LogonMechanism::kOther;
  if (!IsOk(st)) return st;
  // A mechanism that is done before it said anything has nothing to offer.
  if (done || s->first_token.empty()) return SecurityFailure(kLogonFailed);
  s->authenticated = s->mechanism != LogonMechanism::kAnonymous;
  TraceLine(
      c.trace, "logon: %s",
      s->authenticated ? "with the caller's credentials" : "anonymous, as no credential fits");
  return OkStatus();
}

/// H = SHA-512(H ‖ message) when the session needs the preauth hash:
/// 3.1.1 with a key to come (MS-SMB2 3.2.5.2, 3.2.5.3.1).
Status HashForPreauth(Smb2Session* s, const uint8_t* message, size_t size) {
  if (!s->authenticated || s->negotiated.dialect != kSmb2Dialect311) return OkStatus();
  if (!CryptoReady() || !UpdatePreauthHash(&s->preauth, message, size)) {
    return SecurityFailure(kCryptoUnavailable);
  }
  return OkStatus();
}

// MS-SMB2 3.2.4.2.2.2: NEGOTIATE offering 2.0.2 to 3.1.1. The logon's first
// token does not depend on the answer, so it is made while the server works.
Status Negotiate(Smb2Connection* c, Authenticator* logon, Smb2Session* s) {
  if (!FillConnectionRandom(c, s->offer.client_guid, sizeof s->offer.client_guid) ||
      !FillConnectionRandom(c, s->offer.salt, sizeof s->offer.salt)) {
    return TransportFailure(kSocketFailure);
  }
  Smb2Ids ids;
  if (!NextIds(c, false, &ids)) return Malformed();
  ids.credit_charge = 0;
  Smb2Frame f;
  StartFrame(&f);
  AppendNegotiate(&f, ids, s->offer);
  Status st = SendFrame(c, &f);
  if (IsOk(st)) st = StartLogon(*c, logon, s);
  Smb2Message m;
  if (IsOk(st)) st = ReceiveResponse(c, ids.message_id, kSmb2Negotiate, &m);
  // A server that only speaks SMB1 hangs up on an SMB2 NEGOTIATE.
  if (st.kind == StatusKind::kTransport && st.code == kClosed) {
    return TransportFailure(kClosedEarly);
  }
  if (!IsOk(st)) return st;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  st = DecodeNegotiateResponse(m, &s->negotiated);
  if (!IsOk(st)) return st;
  c->charge = s->negotiated.dialect == kSmb2Dialect202 ? 0 : 1;
  TraceNegotiated(c->trace, s->negotiated);
  st = HashForPreauth(s, f.bytes.data() + kSmb2FramePrefix, f.bytes.size() - kSmb2FramePrefix);
  if (IsOk(st)) st = HashForPreauth(s, m.data, m.size);
  return st;
}

/// The first answer names the session; every later one must name it too.
/// Neither 0 nor the related-request placeholder can name one.
bool SameSession(uint64_t* known, uint64_t id) {
  if (*known == 0) {
    *known = id;
    return id != 0 && id != ~uint64_t{0};
  }
  return id == *known;
}

/// The session's signing key and, where the two sides can encrypt, its
/// cipher keys (MS-SMB2 3.2.5.3.1).
Status DeriveKeys(Smb2Connection* c, const Smb2Session& s, const SessionKey& key) {
  uint16_t dialect = s.negotiated.dialect;
  if (!CryptoReady() || !DeriveSigningKey(dialect, s.negotiated.signing, key.bytes, key.size,
                                          s.preauth, &c->signing_key)) {
    return SecurityFailure(kCryptoUnavailable);
  }
  if (!s.negotiated.can_encrypt) return OkStatus();
  if (!DeriveCipherKeys(dialect, s.negotiated.cipher, key.bytes, key.size, s.preauth,
                        &c->cipher_keys)) {
    return SecurityFailure(kCryptoUnavailable);
  }
  c->can_encrypt = true;
  return OkStatus();
}

// MS-SMB2 3.2.5.3.1: after the logon, the signing key; the final answer is
// checked with it when signed, and from 3.0 on it must be. An anonymous logon
// signs nothing; a session without a key only where nothing demands one.
// A guest or null session is no logon with credentials; its flags are only
// believed once the answer has been checked, where it can be.
Status FinishLogon(Smb2Connection* c, Authenticator* logon, const Smb2Session& s,
                   const Smb2Message& m, uint16_t session_flags) {
  if (!s.authenticated) return OkStatus();
  bool guest = (session_flags & (kSmb2SessionGuest | kSmb2SessionNull)) != 0;
  bool is_signed = (m.header.flags & kSmb2FlagSigned) != 0;
  if (guest && !is_signed) return SecurityFailure(kGuestSession);
  uint16_t dialect = s.negotiated.dialect;
  bool required =
      (s.negotiated.security_mode & kSmb2SigningRequired) != 0 || dialect == kSmb2Dialect311;
  bool encrypt = (session_flags & kSmb2SessionEncrypt) != 0;
  SessionKey key;
  logon->session_key(logon->state, &key);
  if (key.size == 0) {
    if (guest) return SecurityFailure(kGuestSession);
    if (encrypt) return SecurityFailure(kNoCipher);
    return required ? SecurityFailure(kNoSessionKey) : OkStatus();
  }
  Status st = DeriveKeys(c, s, key);
  WipeBytes(&key, sizeof key);
  if (!IsOk(st)) return st;
  // From 3.0 on the flags carry ENCRYPT_DATA, which must not be taken off
  // on the way: the answer must be signed, as servers sign it. On 2.x the
  // flags can only end the query (guest, null), and the signature is
  // checked where there is one.
  bool must_sign = dialect >= kSmb2Dialect300;
  if ((is_signed || must_sign) && !VerifySmb2Message(c->signing_key, m.data, m.size)) {
    return SecurityFailure(kBadSignature);
  }
  if (guest) return SecurityFailure(kGuestSession);
  // MS-SMB2 3.2.5.3.1: the server wants everything after this encrypted.
  if (encrypt && !c->can_encrypt) return SecurityFailure(kNoCipher);
  c->signing = true;
  c->encrypt = encrypt;
  return OkStatus();
}

// MS-SMB2 3.2.4.2.3, 3.2.5.3: SESSION_SETUP legs until the server says
// SUCCESS. Its final token still goes to the mechanism: that is where a
// Kerberos AP-REP or an NTLM mechListMIC proves the server.
// `token` is the first leg's; every token is wiped once sent, the last one
// by the caller. Where the server wants more and our side cannot go on
// (the mechanism is done or has nothing to add, the server sent no token,
// the legs run out), its own status is the answer, as anywhere else it
// comes; a token the mechanism cannot read is its failure.
Status LogOnLegs(Smb2Connection* c, Authenticator* logon, Smb2Session* s,
                 std::vector<uint8_t>* token_buffer) {
  std::vector<uint8_t>& token = *token_buffer;
  uint64_t session_id = 0;
  bool done = false;  // the mechanism has said its last word
  for (int leg = 0; leg < kMaxLegs; ++leg) {
    Smb2Ids ids;
    if (token.size() > kMaxToken || !NextIds(c, false, &ids)) return Malformed();
    ids.session_id = session_id;
    Smb2Frame f;
    StartFrame(&f);
    AppendSessionSetup(&f, ids, token.data(), token.size());
    Status st =
        HashForPreauth(s, f.bytes.data() + kSmb2FramePrefix, f.bytes.size() - kSmb2FramePrefix);
    Smb2Message m;
    if (IsOk(st)) st = SendOne(c, &f, ids, kSmb2SessionSetup, &m);
    WipeToken(&f.bytes);
    WipeToken(&token);
    if (!IsOk(st)) return st;
    uint32_t status = m.header.status;
    if (status != kStatusSuccess && status != kStatusMoreProcessing) return ServerFailure(m);
    if (!SameSession(&session_id, m.header.session_id)) return Malformed();
    uint16_t flags = 0;
    const uint8_t* in = nullptr;
    size_t in_size = 0;
    st = DecodeSessionSetupResponse(m, &flags, &in, &in_size);
    bool more = status == kStatusMoreProcessing;
    if (IsOk(st) && more) st = HashForPreauth(s, m.data, m.size);
    if (IsOk(st) && more && (done || in_size == 0)) return ServerFailure(m);
    if (IsOk(st)) st = StepWithin(*c, logon, false, in, in_size, &token, &done);
    if (!IsOk(st)) return st;
    if (more && token.empty()) return ServerFailure(m);
    if (more) continue;
    if (!token.empty() && !done) return Malformed();  // it still had to answer
    // A mechanism done with a last word of its own (a mechListMIC for a
    // server that sent one unasked) has nothing the server waits for.
    WipeToken(&token);
    if (!done) return SecurityFailure(kMutualAuthFailed);
    c->session_id = session_id;
    s->mechanism = logon->mechanism(logon->state);  // known now, if at all
    Status done_status = FinishLogon(c, logon, *s, m, flags);
    if (IsOk(done_status)) {
      TraceLine(c->trace, "session: %s, %s, %s", MechanismName(s->mechanism),
                c->signing ? "signed" : "unsigned",
                c->encrypt ? CipherName(s->negotiated.cipher) : "not encrypted");
    }
    return done_status;
  }
  return NtFailure(kStatusMoreProcessing);  // still more wanted after every leg
}

Status LogOn(Smb2Connection* c, Authenticator* logon, Smb2Session* s) {
  std::vector<uint8_t> token;
  token.swap(s->first_token);
  Status st = LogOnLegs(c, logon, s, &token);
  WipeToken(&token);
  return st;
}

bool SameNegotiation(const Smb2NegotiateResult& a, const Smb2NegotiateResult& b) {
  for (size_t i = 0; i < sizeof a.server_guid; ++i) {
    if (a.server_guid[i] != b.server_guid[i]) return false;
  }
  return a.dialect == b.dialect && a.security_mode == b.security_mode &&
         a.capabilities == b.capabilities;
}

}  // namespace

Status SetUpSession(Smb2Connection* c, Authenticator* logon, Smb2Session* session) {
  Status s = Negotiate(c, logon, session);
  if (IsOk(s)) s = LogOn(c, logon, session);
  WipeToken(&session->first_token);
  return s;
}

bool NeedsValidation(const Smb2Connection& c, const Smb2Session& session) {
  uint16_t dialect = session.negotiated.dialect;
  return c.signing && (dialect == kSmb2Dialect300 || dialect == kSmb2Dialect302);
}

// MS-SMB2 3.2.5.14.12. The answer was verified on the way in, so a refusal
// is the server's own: servers that do not implement the FSCTL say so with
// one of three statuses, which prove nothing either way and are let pass.
Status CheckValidation(Smb2Connection* c, const Smb2Session& session, uint64_t id) {
  Smb2Message m;
  Status s = ReceiveResponse(c, id, kSmb2Ioctl, &m);
  if (s.kind == StatusKind::kTransport && s.code == kClosed) {
    return SecurityFailure(kDowngradeDetected);
  }
  if (!IsOk(s)) return s;
  uint32_t status = m.header.status;
  // What a server that does not implement VALIDATE_NEGOTIATE_INFO answers.
  if (status == kStatusNotSupported || status == kStatusInvalidDeviceRequest ||
      status == kStatusFileClosed) {
    return OkStatus();
  }
  if (status == kStatusMoreProcessing) return ServerFailure(m);  // 234 wherever it comes
  if (status != kStatusSuccess) return SecurityFailure(kDowngradeDetected);
  Smb2NegotiateResult seen;
  s = DecodeValidateNegotiateResponse(m, &seen);
  if (!IsOk(s)) return s;
  if (!SameNegotiation(seen, session.negotiated)) return SecurityFailure(kDowngradeDetected);
  return OkStatus();
}

}  // namespace net
