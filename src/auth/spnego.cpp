// SPDX-License-Identifier: Apache-2.0
#include "auth/spnego.h"

#include "auth/ntlmssp.h"
#include "base/ntstatus.h"
#include "base/wire.h"

namespace net {
namespace {

/// DER of OID 1.3.6.1.5.5.2 (SPNEGO) and 1.3.6.1.4.1.311.2.2.10 (NTLMSSP).
constexpr uint8_t kSpnegoOid[] = {0x06, 0x06, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x02};
constexpr uint8_t kNtlmOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04,
                                0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};
/// NegState (RFC 4178 4.2.2).
constexpr int kAcceptCompleted = 0;
constexpr int kAcceptIncomplete = 1;
constexpr int kReject = 2;
constexpr int kRequestMic = 3;
constexpr int kNoState = -1;
/// Long-form lengths of up to 3 bytes: far beyond any token here.
constexpr size_t kMaxLengthBytes = 3;

using Bytes = std::vector<uint8_t>;

/// `tag`, the DER length of `content` (short or long form), then `content`.
Bytes Der(uint8_t tag, const Bytes& content) {
  Bytes out;
  WireWriter w{&out};
  PutU8(w, tag);
  size_t n = content.size();
  if (n >= 0x100) {
    PutU8(w, 0x82);
    PutU8(w, static_cast<uint8_t>(n >> 8));
  } else if (n >= 0x80) {
    PutU8(w, 0x81);
  }
  PutU8(w, static_cast<uint8_t>(n));
  PutBytes(w, content.data(), n);
  return out;
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/// Reads one element tagged `tag`: `*inner` covers its content (offsets stay
/// those of `r`) and `r` moves past it. Short and long length forms; the
/// indefinite form and any length past the end of `r` fail.
bool ReadDer(WireReader& r, uint8_t tag, WireReader* inner) {
  uint8_t got = ReadU8(r);
  uint8_t first = ReadU8(r);
  size_t length = first;
  if ((first & 0x80) != 0) {
    size_t count = first & 0x7F;
    if (count == 0 || count > kMaxLengthBytes) r.failed = true;
    length = 0;
    for (size_t i = 0; i < count && ok(r); ++i) length = length << 8 | ReadU8(r);
  }
  if (!ok(r) || got != tag || !Need(r, length)) {
    r.failed = true;
    return false;
  }
  *inner = r;
  inner->size = r.pos + length;
  r.pos += length;
  return true;
}

/// True when the next element of `r` carries `tag`.
bool NextIs(const WireReader& r, uint8_t tag) {
  return ok(r) && Remaining(r) > 0 && r.data[r.pos] == tag;
}

bool ContentIs(const WireReader& r, const uint8_t* bytes, size_t n) {
  if (Remaining(r) != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (r.data[r.pos + i] != bytes[i]) return false;
  }
  return true;
}

struct NegTokenResp {
  int state = kNoState;
  const uint8_t* response = nullptr;
  size_t response_size = 0;
};

// RFC 4178 4.2.2 NegTokenResp ::= [1] SEQUENCE { negState [0] ENUMERATED
// OPTIONAL, supportedMech [1] MechType OPTIONAL, responseToken [2] OCTET
// STRING OPTIONAL, mechListMIC [3] OCTET STRING OPTIONAL }
bool ReadNegTokenResp(const uint8_t* token, size_t size, NegTokenResp* out) {
  WireReader r = MakeReader(token, size);
  WireReader resp, seq, field, value;
  if (!ReadDer(r, 0xA1, &resp) || !ReadDer(resp, 0x30, &seq)) return false;
  if (NextIs(seq, 0xA0)) {
    if (!ReadDer(seq, 0xA0, &field) || !ReadDer(field, 0x0A, &value) || Remaining(value) != 1) {
      return false;
    }
    out->state = ReadU8(value);
  }
  if (NextIs(seq, 0xA1)) {
    // The only mechanism we offered.
    if (!ReadDer(seq, 0xA1, &field) || !ContentIs(field, kNtlmOid, sizeof kNtlmOid)) {
      return false;
    }
  }
  if (NextIs(seq, 0xA2)) {
    if (!ReadDer(seq, 0xA2, &field) || !ReadDer(field, 0x04, &value)) return false;
    out->response = value.data + value.pos;
    out->response_size = Remaining(value);
  }
  // A mechListMIC cannot be checked without a session key; it is skipped.
  if (NextIs(seq, 0xA3) && !ReadDer(seq, 0xA3, &field)) return false;
  return ok(seq) && Remaining(seq) == 0;
}

}  // namespace

// RFC 4178 4.2.1, RFC 2743 3.1: [APPLICATION 0] { SPNEGO OID, [0]
// NegTokenInit { mechTypes [0] { NTLMSSP }, mechToken [2] NEGOTIATE } }
void EncodeSpnegoInit(std::vector<uint8_t>* out) {
  Bytes negotiate;
  EncodeNtlmNegotiate(&negotiate);
  Bytes mech_types = Der(0xA0, Der(0x30, Bytes(kNtlmOid, kNtlmOid + sizeof kNtlmOid)));
  Bytes mech_token = Der(0xA2, Der(0x04, negotiate));
  Bytes init = Der(0xA0, Der(0x30, Join(mech_types, mech_token)));
  Bytes token = Der(0x60, Join(Bytes(kSpnegoOid, kSpnegoOid + sizeof kSpnegoOid), init));
  out->insert(out->end(), token.begin(), token.end());
}

// RFC 4178 4.2.2: accept-incomplete (when stated) with an NTLMSSP CHALLENGE.
Status DecodeSpnegoChallenge(const uint8_t* token, size_t size, uint32_t* challenge_flags) {
  NegTokenResp resp;
  if (!ReadNegTokenResp(token, size, &resp)) return Malformed();
  if (resp.state == kReject) return NtFailure(kStatusLogonFailure);
  if ((resp.state != kNoState && resp.state != kAcceptIncomplete) || resp.response == nullptr) {
    return Malformed();
  }
  return DecodeNtlmChallenge(resp.response, resp.response_size, challenge_flags);
}

// RFC 4178 4.2.2: NegTokenResp with only responseToken [2] AUTHENTICATE.
void EncodeSpnegoAnonymousAuth(uint32_t challenge_flags, std::vector<uint8_t>* out) {
  Bytes authenticate;
  EncodeNtlmAnonymousAuthenticate(challenge_flags, &authenticate);
  Bytes token = Der(0xA1, Der(0x30, Der(0xA2, Der(0x04, authenticate))));
  out->insert(out->end(), token.begin(), token.end());
}

// RFC 4178 4.2.2: accept-completed. NTLMSSP has nothing left to say after
// AUTHENTICATE, so an absent negState means completed too (RFC 4178 4.2.2
// lets later tokens omit it).
Status DecodeSpnegoFinal(const uint8_t* token, size_t size) {
  if (size == 0) return OkStatus();
  NegTokenResp resp;
  if (!ReadNegTokenResp(token, size, &resp)) return Malformed();
  // A server that wants a mechListMIC wants what an anonymous logon, with
  // no key, cannot give: the logon is refused, not the answer broken.
  if (resp.state == kReject || resp.state == kRequestMic) return NtFailure(kStatusLogonFailure);
  if (resp.state != kNoState && resp.state != kAcceptCompleted) return Malformed();
  return OkStatus();
}

}  // namespace net
