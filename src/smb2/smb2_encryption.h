// SPDX-License-Identifier: Apache-2.0
// SMB3 encryption: the cipher keys of a session (MS-SMB2 3.1.4.2) and the
// TRANSFORM_HEADER around encrypted messages (MS-SMB2 2.2.41, 3.1.4.3).
#ifndef KESTRIN_SMB2_SMB2_ENCRYPTION_H_
#define KESTRIN_SMB2_SMB2_ENCRYPTION_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/crypto.h"
#include "smb2/smb2_signing.h"
#include "base/status.h"

namespace net {

/// The transform header before the ciphertext.
constexpr size_t kSmb2TransformHeaderSize = 52;

/// A session's two cipher keys: ours to the server (EncryptionKey) and the
/// server's to us (DecryptionKey), AeadKeySize(cipher) bytes each.
struct Smb2CipherKeys {
  AeadCipher cipher = AeadCipher::kAes128Ccm;
  uint8_t encryption[32] = {};
  uint8_t decryption[32] = {};
};

/// The cipher keys from the session key: for 0x0300 and 0x0302 (AES-128-CCM)
/// KDF(K16, "SMB2AESCCM", "ServerIn " / "ServerOut"); for 0x0311
/// KDF(Ki, "SMBC2SCipherKey" / "SMBS2CCipherKey", H), where Ki is the first
/// 16 bytes of the session key for the AES-128 ciphers and the whole of it
/// (zero-padded to 16 when shorter) for the AES-256 ones, and L is the key
/// size in bits. False for another dialect, a cipher a 3.0.x dialect cannot
/// use, or a library failure.
[[nodiscard]] bool DeriveCipherKeys(uint16_t dialect, AeadCipher cipher, const uint8_t* session_key,
                                    size_t session_key_size, const PreauthHash& preauth,
                                    Smb2CipherKeys* out);

/// True when `data` starts with the transform header's ProtocolId (0xFD 'S'
/// 'M' 'B'): an encrypted message.
bool IsTransformMessage(const uint8_t* data, size_t size);

/// Appends to `out` the transform message for `plain` (one SMB2 message or
/// a whole chain): the 52-byte header (Nonce = `nonce`, of which the
/// cipher's nonce size is used and the rest must be zero, OriginalMessageSize,
/// Flags 1, `session_id`), then the ciphertext; the AEAD's additional data
/// is the header from its Nonce on.
[[nodiscard]] bool EncryptSmb2Message(const Smb2CipherKeys& keys, uint64_t session_id,
                                      const uint8_t nonce[16], const uint8_t* plain, size_t size,
                                      std::vector<uint8_t>* out);

/// Checks a received transform message (`data`, `size`: the whole frame
/// after its direct-TCP prefix): ProtocolId, OriginalMessageSize equal to
/// what follows the header, Flags 1, SessionId `session_id`, the nonce's
/// unused bytes zero, then decrypts and authenticates it into `plain`. A
/// broken header is Malformed; one that fails authentication kDecryptFailed.
Status DecryptSmb2Message(const Smb2CipherKeys& keys, uint64_t session_id, const uint8_t* data,
                          size_t size, std::vector<uint8_t>* plain);

/// Zeroes the keys.
void WipeCipherKeys(Smb2CipherKeys* keys);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_ENCRYPTION_H_
