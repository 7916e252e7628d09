// SPDX-License-Identifier: Apache-2.0
#include "auth/ntlmssp.h"

#include "base/wire.h"

namespace net {
namespace {

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint32_t kNegotiateMessage = 1;
constexpr uint32_t kChallengeMessage = 2;
constexpr uint32_t kAuthenticateMessage = 3;
constexpr uint32_t kNegotiateVersion = 0x02000000;
constexpr uint32_t kNegotiateKeyExch = 0x40000000;
/// VERSION: 10.0 build 19041, NTLMSSP_REVISION_W2K3 (MS-NLMP 2.2.2.10).
constexpr uint8_t kVersion[8] = {0x0A, 0x00, 0x61, 0x4A, 0x00, 0x00, 0x00, 0x0F};
/// The NEGOTIATE message with VERSION, and the anonymous AUTHENTICATE with
/// VERSION and MIC: both end where their (empty) payload would start.
constexpr uint32_t kNegotiateSize = 40;
constexpr uint32_t kAuthenticateSize = 88;
/// Signature, MessageType, TargetNameFields, NegotiateFlags, ServerChallenge,
/// Reserved and TargetInfoFields: what every CHALLENGE has.
constexpr size_t kChallengeMinSize = 48;

/// An empty security buffer: Len, MaxLen 0, Offset at the payload's start.
void PutEmptyField(WireWriter w, uint32_t offset) {
  PutU16(w, 0);
  PutU16(w, 0);
  PutU32(w, offset);
}

/// Reads a security buffer's Len, MaxLen and Offset; false when the bytes
/// it names are not all within the message.
bool ReadFieldWithin(WireReader& r) {
  uint16_t len = ReadU16(r);
  (void)Skip(r, 2);  // MaxLen
  uint32_t offset = ReadU32(r);
  return ok(r) && (len == 0 || (offset <= r.size && len <= r.size - offset));
}

}  // namespace

// MS-NLMP 2.2.1.1 NEGOTIATE_MESSAGE: no domain or workstation supplied.
void EncodeNtlmNegotiate(std::vector<uint8_t>* out) {
  WireWriter w{out};
  PutBytes(w, kSignature, sizeof kSignature);
  PutU32(w, kNegotiateMessage);
  PutU32(w, kNtlmNegotiateFlags);
  PutEmptyField(w, kNegotiateSize);  // DomainNameFields
  PutEmptyField(w, kNegotiateSize);  // WorkstationFields
  PutBytes(w, kVersion, sizeof kVersion);
}

// MS-NLMP 2.2.1.2 CHALLENGE_MESSAGE. An anonymous logon needs only the
// flags; the target name and info are checked to lie within the message.
Status DecodeNtlmChallenge(const uint8_t* msg, size_t size, uint32_t* flags) {
  WireReader r = MakeReader(msg, size);
  uint8_t signature[8];
  ReadBytes(r, signature, sizeof signature);
  uint32_t type = ReadU32(r);
  bool name_within = ReadFieldWithin(r);
  uint32_t negotiate_flags = ReadU32(r);
  (void)Skip(r, 16);  // ServerChallenge, Reserved
  bool info_within = ReadFieldWithin(r);
  if (!ok(r) || size < kChallengeMinSize || type != kChallengeMessage || !name_within ||
      !info_within) {
    return Malformed();
  }
  for (size_t i = 0; i < sizeof kSignature; ++i) {
    if (signature[i] != kSignature[i]) return Malformed();
  }
  *flags = negotiate_flags;
  return OkStatus();
}

// MS-NLMP 2.2.1.3 AUTHENTICATE_MESSAGE, anonymous (3.1.5.1.2): every field
// empty. KEY_EXCH stays clear: with no session key to send, a server
// refuses the logon (STATUS_INVALID_PARAMETER) when it is set.
void EncodeNtlmAnonymousAuthenticate(uint32_t challenge_flags, std::vector<uint8_t>* out) {
  uint32_t flags = ((challenge_flags & kNtlmNegotiateFlags) | kNtlmAnonymous) & ~kNegotiateKeyExch;
  WireWriter w{out};
  PutBytes(w, kSignature, sizeof kSignature);
  PutU32(w, kAuthenticateMessage);
  // LmChallengeResponse, NtChallengeResponse, DomainName, UserName,
  // Workstation, EncryptedRandomSessionKey.
  for (int i = 0; i < 6; ++i) PutEmptyField(w, kAuthenticateSize);
  PutU32(w, flags);
  if ((flags & kNegotiateVersion) != 0) {
    PutBytes(w, kVersion, sizeof kVersion);
  } else {
    PutZeros(w, sizeof kVersion);
  }
  PutZeros(w, 16);  // MIC: there is no key to compute one with
}

}  // namespace net
