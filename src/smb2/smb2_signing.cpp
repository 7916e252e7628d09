// SPDX-License-Identifier: Apache-2.0
// SMB2 signing over the primitives of crypto.h.
#include "smb2/smb2_signing.h"

#include <string.h>

#include "base/crypto.h"
#include "smb2/smb2_header.h"

namespace net {
namespace {

static_assert(kSmb2FlagSigned < 0x100, "SignSmb2Message sets it in the first byte of Flags");
/// MS-SMB2 3.1.4.2: labels and contexts are passed with their NULs.
constexpr char kCmacLabel[] = "SMB2AESCMAC";
constexpr char kCmacContext[] = "SmbSign";
constexpr char kSigningKeyLabel[] = "SMBSigningKey";

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

/// The signature of a message of at least a header, its Signature field
/// taken as zero without writing to it: header bytes 0..47, 16 zero bytes,
/// then everything after the header.
bool ComputeSignature(const Smb2SigningKey& key, const uint8_t* message, size_t size,
                      uint8_t out[16]) {
  static const uint8_t kZeros[16] = {};
  const ByteRange parts[3] = {{message, kSmb2SignatureOffset},
                              {kZeros, sizeof kZeros},
                              {message + kSmb2HeaderSize, size - kSmb2HeaderSize}};
  const SigningRow* row = FindSigning(static_cast<uint16_t>(key.algorithm));
  return row != nullptr && row->sign(key.key, message, parts, 3, out);
}

bool KnownAlgorithm(SigningAlgorithm a) { return FindSigning(static_cast<uint16_t>(a)) != nullptr; }

/// The key for `dialect` from K16 (MS-SMB2 3.2.5.3.1, 3.1.4.2).
bool DeriveFromK16(uint16_t dialect, SigningAlgorithm algorithm, const uint8_t k16[16],
                   const PreauthHash& preauth, Smb2SigningKey* out) {
  const auto* cmac_label = reinterpret_cast<const uint8_t*>(kCmacLabel);
  const auto* cmac_context = reinterpret_cast<const uint8_t*>(kCmacContext);
  const auto* signing_label = reinterpret_cast<const uint8_t*>(kSigningKeyLabel);
  switch (dialect) {
    case 0x0202:
    case 0x0210:
      out->algorithm = SigningAlgorithm::kHmacSha256;
      memcpy(out->key, k16, 16);
      return true;
    case 0x0300:
    case 0x0302:
      out->algorithm = SigningAlgorithm::kAesCmac;
      return Sp800108Kdf(k16, 16, cmac_label, sizeof kCmacLabel, cmac_context, sizeof kCmacContext,
                         out->key, 16);
    case 0x0311:
      out->algorithm = algorithm;
      return KnownAlgorithm(algorithm) &&
             Sp800108Kdf(k16, 16, signing_label, sizeof kSigningKeyLabel, preauth.value,
                         sizeof preauth.value, out->key, 16);
    default: return false;
  }
}

}  // namespace

bool UpdatePreauthHash(PreauthHash* h, const uint8_t* message, size_t size) {
  const ByteRange parts[2] = {{h->value, sizeof h->value}, {message, size}};
  uint8_t next[64];
  if (!Sha512(parts, 2, next)) return false;
  memcpy(h->value, next, sizeof next);
  return true;
}

bool DeriveSigningKey(uint16_t dialect, SigningAlgorithm algorithm, const uint8_t* session_key,
                      size_t session_key_size, const PreauthHash& preauth, Smb2SigningKey* out) {
  // K16: a longer key (Kerberos' 32 bytes) gives its first 16 bytes, a
  // shorter one is padded with zeros (MS-SMB2 3.2.1.3, 3.2.5.3.1).
  uint8_t k16[16] = {};
  if (session_key_size > 0) memcpy(k16, session_key, session_key_size < 16 ? session_key_size : 16);
  Smb2SigningKey key;
  bool ok = DeriveFromK16(dialect, algorithm, k16, preauth, &key);
  WipeBytes(k16, sizeof k16);
  if (ok) *out = key;  // on failure `out` keeps what it had
  WipeSigningKey(&key);
  return ok;
}

bool SignSmb2Message(const Smb2SigningKey& key, uint8_t* message, size_t size) {
  if (message == nullptr || size < kSmb2HeaderSize) return false;
  // The flag is covered by the MAC, so it is set first; a failure puts the
  // message back as it was.
  const uint8_t old_flag_byte = message[kSmb2FlagsOffset];
  message[kSmb2FlagsOffset] = static_cast<uint8_t>(old_flag_byte | kSmb2FlagSigned);
  uint8_t signature[16];
  if (!ComputeSignature(key, message, size, signature)) {
    message[kSmb2FlagsOffset] = old_flag_byte;
    return false;
  }
  memcpy(message + kSmb2SignatureOffset, signature, sizeof signature);
  return true;
}

bool VerifySmb2Message(const Smb2SigningKey& key, const uint8_t* message, size_t size) {
  if (message == nullptr || size < kSmb2HeaderSize) return false;
  if ((LoadU32(message + kSmb2FlagsOffset) & kSmb2FlagSigned) == 0) return false;
  uint8_t expected[16];
  if (!ComputeSignature(key, message, size, expected)) return false;
  return EqualConstantTime(expected, message + kSmb2SignatureOffset, sizeof expected);
}

void WipeSigningKey(Smb2SigningKey* key) { WipeBytes(key->key, sizeof key->key); }

}  // namespace net
