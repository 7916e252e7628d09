// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_connection.h"

#include "smb2/smb2_names.h"
#include "transport/socket.h"

namespace net {
namespace {

/// Interim (STATUS_PENDING) replies tolerated before one final reply.
constexpr int kMaxInterim = 8;

/// When a reply must have come: `reply_ms` from now, but never after the
/// whole query's `deadline`.
uint64_t ReplyDeadline(uint64_t deadline, uint32_t reply_ms) { return WaitEnd(deadline, reply_ms); }

Status Receive(Smb2Connection* c, uint8_t* data, size_t size, uint64_t until) {
  uint32_t timeout = RemainingMs(until);
  if (timeout == 0) return TransportFailure(kReplyTimeout);
  return c->transport->receive(c->transport->context, data, size, timeout);
}

// MS-SMB2 3.2.5.1.1.1: an encrypted frame is decrypted and authenticated
// before anything in it is read; where encryption is in force, nothing
// else is taken.
Status ReceiveFrame(Smb2Connection* c, uint64_t until) {
  uint8_t prefix[kSmb2FramePrefix];
  Status s = Receive(c, prefix, sizeof(prefix), until);
  if (!IsOk(s)) return s;
  size_t length = 0;
  s = DecodeFramePrefix(prefix, &length);
  if (!IsOk(s)) return s;
  c->frame.resize(length);
  c->frame_pos = 0;
  c->frame_encrypted = false;
  s = Receive(c, c->frame.data(), length, until);
  if (!IsOk(s)) return s;
  if (!IsTransformMessage(c->frame.data(), c->frame.size())) {
    return c->encrypt ? SecurityFailure(kNotEncrypted) : OkStatus();
  }
  if (!c->can_encrypt) return Malformed();  // nothing to decrypt it with
  std::vector<uint8_t> plain;
  s = DecryptSmb2Message(c->cipher_keys, c->session_id, c->frame.data(), c->frame.size(), &plain);
  if (!IsOk(s)) return s;
  c->frame.swap(plain);
  c->frame_encrypted = true;
  return OkStatus();
}

// MS-SMB2 3.1.4.3, 3.2.4.1.8: the whole chain in one transform message, its
// requests unsigned. The nonce is the chain's first MessageId: a MessageId
// is never used twice on a connection, so no nonce repeats under the key.
Status SendEncrypted(Smb2Connection* c, const Smb2Frame& f) {
  uint8_t nonce[16] = {};
  for (int i = 0; i < 8; ++i) nonce[i] = f.bytes[kSmb2FramePrefix + 24 + i];
  Smb2Frame wrapped;
  StartFrame(&wrapped);
  if (!EncryptSmb2Message(c->cipher_keys, c->session_id, nonce, f.bytes.data() + kSmb2FramePrefix,
                          f.bytes.size() - kSmb2FramePrefix, &wrapped.bytes)) {
    return SecurityFailure(kCryptoUnavailable);
  }
  if (!FinishFrame(&wrapped)) return Malformed();
  ++c->frames_sent;
  return c->transport->send(c->transport->context, wrapped.bytes.data(), wrapped.bytes.size());
}

// MS-SMB2 3.2.4.1.1, 3.2.4.1.4: each request of a chain is signed on its
// own, from its header to the next one's, its padding included.
bool SignFrame(const Smb2SigningKey& key, Smb2Frame* f) {
  size_t pos = kSmb2FramePrefix;
  while (pos < f->bytes.size()) {
    Smb2Header h;
    if (!DecodeSmb2Header(f->bytes.data() + pos, f->bytes.size() - pos, &h)) return false;
    size_t left = f->bytes.size() - pos;
    if (h.next_command > left) return false;
    size_t size = h.next_command != 0 ? h.next_command : left;
    if (!SignSmb2Message(key, f->bytes.data() + pos, size)) return false;
    pos += size;
  }
  return true;
}

/// An interim answer: STATUS_PENDING in the async form. Servers do not
/// sign these (MS-SMB2 3.3.4.1.1), so they cannot be verified.
bool IsInterim(const Smb2Header& h) {
  return h.status == kStatusPending && (h.flags & kSmb2FlagAsync) != 0;
}

/// Notes an answer to `command` (or its absence, `s` failed) in the trace.
void TraceAnswer(Smb2Connection* c, uint16_t command, const Status& s, const Smb2Header* h) {
  if (!Tracing(c->trace)) return;
  unsigned ms = static_cast<unsigned>(MonotonicMs() - c->sent_ms);
  char buffer[16];
  if (!IsOk(s)) {
    TraceLine(c->trace, "%s no answer %u ms: %s", Smb2CommandName(command), ms, StatusReason(s));
  } else {
    TraceLine(c->trace, "%s %s%s %u ms", Smb2CommandName(command), NtStatusName(h->status, buffer),
              IsInterim(*h) ? " (interim)" : "", ms);
  }
}

/// The final answer to `id` (see ReceiveResponse). The credits an interim
/// answer grants (MS-SMB2 3.3.4.2) are taken only with a final answer that
/// could be checked, and no more of them than the request asked for (every
/// request asks for kSmb2CreditRequest): an unsigned interim answer must
/// not widen the window on its own, nor past what we asked.
Status ReceiveFinal(Smb2Connection* c, uint64_t id, uint16_t command, Smb2Message* m) {
  uint64_t until = ReplyDeadline(c->deadline, c->reply_ms);
  uint16_t interim_credits = 0;
  for (int interim = 0;;) {
    if (c->frame_pos >= c->frame.size()) {
      Status s = ReceiveFrame(c, until);
      if (!IsOk(s)) return s;
    }
    if (!NextMessage(c->frame.data(), c->frame.size(), &c->frame_pos, m)) return Malformed();
    const Smb2Header& h = m->header;
    if (h.message_id != id || h.command != command) return Malformed();
    if (!IsInterim(h)) {
      // MS-SMB2 3.2.5.1.3: an answer that is not what the server signed
      // is not read at all, not even for its credits.
      if (c->signing && !c->frame_encrypted &&
          !VerifySmb2Message(c->signing_key, m->data, m->size)) {
        return SecurityFailure(kBadSignature);
      }
      if (h.status == kStatusPending) return Malformed();  // only in the async form
      GrantCredits(&c->credits, h.credits);
      GrantCredits(&c->credits, interim_credits);
      return OkStatus();
    }
    TraceAnswer(c, command, OkStatus(), &h);
    if (!IsOk(DecodeErrorResponse(*m))) return Malformed();
    if (++interim > kMaxInterim) return Malformed();
    // A server answers a request once as pending: the most granted counts.
    uint16_t granted = h.credits < kSmb2CreditRequest ? h.credits : kSmb2CreditRequest;
    if (granted > interim_credits) interim_credits = granted;
    until = ReplyDeadline(c->deadline, c->reply_ms);  // the server has taken the request on
  }
}

}  // namespace

bool NextIds(Smb2Connection* c, bool related, Smb2Ids* ids) {
  *ids = Smb2Ids();
  ids->credit_charge = c->charge;
  ids->session_id = c->session_id;
  ids->tree_id = c->tree_id;
  ids->related = related;
  return TakeMessageIds(&c->credits, 1, &ids->message_id);
}

Status SendFrame(Smb2Connection* c, Smb2Frame* f) {
  if (!FinishFrame(f)) return Malformed();
  if (Tracing(c->trace)) c->sent_ms = MonotonicMs();
  if (c->encrypt) return SendEncrypted(c, *f);
  if (c->signing && !SignFrame(c->signing_key, f)) return SecurityFailure(kCryptoUnavailable);
  ++c->frames_sent;
  return c->transport->send(c->transport->context, f->bytes.data(), f->bytes.size());
}

Status ReceiveResponse(Smb2Connection* c, uint64_t id, uint16_t command, Smb2Message* m) {
  Status s = ReceiveFinal(c, id, command, m);
  TraceAnswer(c, command, s, &m->header);
  return s;
}

Status SendOne(Smb2Connection* c, Smb2Frame* f, const Smb2Ids& ids, uint16_t command,
               Smb2Message* m) {
  Status s = SendFrame(c, f);
  if (!IsOk(s)) return s;
  return ReceiveResponse(c, ids.message_id, command, m);
}

bool FillConnectionRandom(Smb2Connection* c, uint8_t* out, size_t size) {
  if (c->transport->random != nullptr) {
    return c->transport->random(c->transport->context, out, size);
  }
  return FillRandom(out, size);
}

}  // namespace net
