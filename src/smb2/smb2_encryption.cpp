// SPDX-License-Identifier: Apache-2.0
// SMB3 encryption over the AEAD ciphers of crypto.h.
#include "smb2/smb2_encryption.h"

#include <string.h>

#include "smb2/smb2.h"
#include "smb2/smb2_algorithms.h"
#include "base/wire.h"

namespace net {
namespace {

constexpr uint32_t kTransformProtocolId = 0x424D53FD;  // FD 'S' 'M' 'B' on the wire
constexpr size_t kSignatureOffset = 4;
constexpr size_t kNonceOffset = 20;
constexpr size_t kNonceFieldSize = 16;
/// The additional data: the header from Nonce through SessionId.
constexpr size_t kAadSize = kSmb2TransformHeaderSize - kNonceOffset;
/// Flags (3.1.1) and EncryptionAlgorithm (3.0.x) alike: 1, encrypted.
constexpr uint16_t kTransformEncrypted = 1;
/// A transform message is a whole frame, so its plaintext is capped by the
/// largest frame we accept.
constexpr size_t kMaxOriginalSize = kSmb2MaxFrame - kSmb2TransformHeaderSize;

/// MS-SMB2 3.1.4.2: labels and contexts are passed with their NULs.
constexpr char kCcmLabel[] = "SMB2AESCCM";
constexpr char kServerIn[] = "ServerIn ";  // the space before the NUL is part of it
constexpr char kServerOut[] = "ServerOut";
constexpr char kClientToServerLabel[] = "SMBC2SCipherKey";
constexpr char kServerToClientLabel[] = "SMBS2CCipherKey";

const uint8_t* BytesOf(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

bool KnownCipher(AeadCipher c) { return FindCipher(static_cast<uint16_t>(c)) != nullptr; }

/// True when the Nonce field's bytes past what the cipher uses are zero
/// (MS-SMB2 2.2.41: CCM uses 11, GCM 12).
bool UnusedNonceBytesZero(AeadCipher cipher, const uint8_t nonce[kNonceFieldSize]) {
  for (size_t i = AeadNonceSize(cipher); i < kNonceFieldSize; ++i) {
    if (nonce[i] != 0) return false;
  }
  return true;
}

/// Both keys of `keys->cipher` from Ki (MS-SMB2 3.2.5.3.1): L is the key
/// size; 3.1.1 takes H as the context of both labels, 3.0.x one label and a
/// context per direction.
bool DeriveBoth(uint16_t dialect, const uint8_t* ki, size_t ki_size, const PreauthHash& preauth,
                Smb2CipherKeys* keys) {
  const size_t n = AeadKeySize(keys->cipher);
  if (dialect == kSmb2Dialect311) {
    return Sp800108Kdf(ki, ki_size, BytesOf(kClientToServerLabel), sizeof kClientToServerLabel,
                       preauth.value, sizeof preauth.value, keys->encryption, n) &&
           Sp800108Kdf(ki, ki_size, BytesOf(kServerToClientLabel), sizeof kServerToClientLabel,
                       preauth.value, sizeof preauth.value, keys->decryption, n);
  }
  return Sp800108Kdf(ki, ki_size, BytesOf(kCcmLabel), sizeof kCcmLabel, BytesOf(kServerIn),
                     sizeof kServerIn, keys->encryption, n) &&
         Sp800108Kdf(ki, ki_size, BytesOf(kCcmLabel), sizeof kCcmLabel, BytesOf(kServerOut),
                     sizeof kServerOut, keys->decryption, n);
}

/// MS-SMB2 2.2.41, 3.2.5.1.1: every field of a received transform header
/// against what we expect, before any of it is used.
Status CheckTransformHeader(AeadCipher cipher, uint64_t session_id, const uint8_t* data,
                            size_t size) {
  if (data == nullptr || size < kSmb2TransformHeaderSize) return Malformed();
  WireReader r = MakeReader(data, size);
  const uint32_t protocol_id = ReadU32(r);
  Skip(r, 16);  // Signature: the tag, checked by the cipher
  uint8_t nonce[kNonceFieldSize];
  ReadBytes(r, nonce, sizeof nonce);
  const uint32_t original_size = ReadU32(r);
  Skip(r, 2);  // Reserved: covered by the tag, otherwise ignored
  const uint16_t flags = ReadU16(r);
  const uint64_t sender_session = ReadU64(r);
  if (!ok(r) || protocol_id != kTransformProtocolId || flags != kTransformEncrypted ||
      sender_session != session_id) {
    return Malformed();
  }
  if (original_size == 0 || original_size > kMaxOriginalSize ||
      original_size != size - kSmb2TransformHeaderSize) {
    return Malformed();
  }
  return UnusedNonceBytesZero(cipher, nonce) ? OkStatus() : Malformed();
}

}  // namespace

bool DeriveCipherKeys(uint16_t dialect, AeadCipher cipher, const uint8_t* session_key,
                      size_t session_key_size, const PreauthHash& preauth, Smb2CipherKeys* out) {
  const bool smb30x = dialect == kSmb2Dialect300 || dialect == kSmb2Dialect302;
  if (!(smb30x && cipher == AeadCipher::kAes128Ccm) &&
      !(dialect == kSmb2Dialect311 && KnownCipher(cipher))) {
    return false;
  }
  if (session_key_size > 0 && session_key == nullptr) return false;
  // Ki (MS-SMB2 3.2.5.3.1, 3.2.1.3): the AES-256 ciphers take the whole
  // session key, the others its first 16 bytes; a key shorter than 16 is
  // padded with zeros either way.
  uint8_t k16[16] = {};
  if (session_key_size > 0) memcpy(k16, session_key, session_key_size < 16 ? session_key_size : 16);
  const bool whole = AeadKeySize(cipher) == 32 && session_key_size > 16;
  Smb2CipherKeys keys;
  keys.cipher = cipher;
  const bool derived =
      DeriveBoth(dialect, whole ? session_key : k16, whole ? session_key_size : 16, preauth, &keys);
  WipeBytes(k16, sizeof k16);
  if (derived) *out = keys;  // on failure `out` keeps what it had
  WipeCipherKeys(&keys);
  return derived;
}

bool IsTransformMessage(const uint8_t* data, size_t size) {
  return size >= 4 && data[0] == 0xFD && data[1] == 'S' && data[2] == 'M' && data[3] == 'B';
}

// MS-SMB2 2.2.41, 3.1.4.3
bool EncryptSmb2Message(const Smb2CipherKeys& keys, uint64_t session_id, const uint8_t nonce[16],
                        const uint8_t* plain, size_t size, std::vector<uint8_t>* out) {
  if (!KnownCipher(keys.cipher) || plain == nullptr || size == 0 || size > kMaxOriginalSize ||
      nonce == nullptr || !UnusedNonceBytesZero(keys.cipher, nonce)) {
    return false;
  }
  const size_t start = out->size();
  // Room first, so the plaintext is copied once, into the place where it
  // is encrypted, and no reallocation leaves a copy of it behind.
  out->reserve(start + kSmb2TransformHeaderSize + size);
  WireWriter w{out};
  PutU32(w, kTransformProtocolId);
  PutZeros(w, 16);  // Signature: the tag, once it is known
  PutBytes(w, nonce, kNonceFieldSize);
  PutU32(w, static_cast<uint32_t>(size));  // OriginalMessageSize
  PutU16(w, 0);                            // Reserved
  PutU16(w, kTransformEncrypted);
  PutU64(w, session_id);
  PutBytes(w, plain, size);
  uint8_t* header = out->data() + start;
  if (!AeadEncrypt(keys.cipher, keys.encryption, header + kNonceOffset, header + kNonceOffset,
                   kAadSize, header + kSmb2TransformHeaderSize, size, header + kSignatureOffset)) {
    WipeBytes(header, kSmb2TransformHeaderSize + size);
    out->resize(start);
    return false;
  }
  return true;
}

// MS-SMB2 3.2.5.1.1
Status DecryptSmb2Message(const Smb2CipherKeys& keys, uint64_t session_id, const uint8_t* data,
                          size_t size, std::vector<uint8_t>* plain) {
  plain->clear();
  Status header = CheckTransformHeader(keys.cipher, session_id, data, size);
  if (!IsOk(header)) return header;
  plain->assign(data + kSmb2TransformHeaderSize, data + size);
  if (!AeadDecrypt(keys.cipher, keys.decryption, data + kNonceOffset, data + kNonceOffset, kAadSize,
                   plain->data(), plain->size(), data + kSignatureOffset)) {
    plain->clear();  // already wiped
    return SecurityFailure(kDecryptFailed);
  }
  return OkStatus();
}

void WipeCipherKeys(Smb2CipherKeys* keys) { WipeBytes(keys, sizeof *keys); }

}  // namespace net
