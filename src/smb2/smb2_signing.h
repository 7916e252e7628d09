// SPDX-License-Identifier: Apache-2.0
// SMB2 message signing (MS-SMB2 3.1.4.1), the signing key's derivation
// (3.1.4.2) and the 3.1.1 preauth integrity hash (3.2.5.2, 3.2.5.3.1).
#ifndef KESTRIN_SMB2_SMB2_SIGNING_H_
#define KESTRIN_SMB2_SMB2_SIGNING_H_

#include <stddef.h>
#include <stdint.h>

#include "smb2/smb2_algorithms.h"

namespace net {

constexpr uint32_t kSmb2FlagSigned = 0x8;
/// Where the 16-byte Signature sits in the SMB2 header.
constexpr size_t kSmb2SignatureOffset = 48;

/// A session's signing key and the algorithm it is for.
struct Smb2SigningKey {
  SigningAlgorithm algorithm = SigningAlgorithm::kAesCmac;
  uint8_t key[16] = {};
};

/// The 3.1.1 preauth integrity hash H of one session setup.
struct PreauthHash {
  uint8_t value[64] = {};  // H starts as 64 zero bytes
};

/// H = SHA-512(H ‖ message), for a whole SMB2 message as sent or received,
/// its direct-TCP prefix left out.
[[nodiscard]] bool UpdatePreauthHash(PreauthHash* h, const uint8_t* message, size_t size);

/// The signing key of a session from its session key (the first 16 bytes
/// are used, fewer are padded with zeros): dialects 0x0202 and 0x0210 sign
/// with HMAC-SHA256 under the key itself; 0x0300 and 0x0302 with AES-CMAC
/// under KDF(K, "SMB2AESCMAC", "SmbSign"); 0x0311 with `algorithm` under
/// KDF(K, "SMBSigningKey", H), `preauth` being H after the last
/// SESSION_SETUP request. False for another dialect or a library failure.
[[nodiscard]] bool DeriveSigningKey(uint16_t dialect, SigningAlgorithm algorithm,
                                    const uint8_t* session_key, size_t session_key_size,
                                    const PreauthHash& preauth, Smb2SigningKey* out);

/// Signs one message in place: `size` bytes from its header to the next
/// chained message's header (its padding included) or the frame's end. Sets
/// SMB2_FLAGS_SIGNED, then writes the Signature. False when the message is
/// shorter than a header or the library fails.
[[nodiscard]] bool SignSmb2Message(const Smb2SigningKey& key, uint8_t* message, size_t size);

/// True when the message (bounded as above) has SMB2_FLAGS_SIGNED set and
/// its Signature is the one `key` gives for it.
[[nodiscard]] bool VerifySmb2Message(const Smb2SigningKey& key, const uint8_t* message,
                                     size_t size);

/// Zeroes the key.
void WipeSigningKey(Smb2SigningKey* key);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_SIGNING_H_
