// SPDX-License-Identifier: Apache-2.0
// The cryptographic primitives that signing and encryption need, from
// libgcrypt: SHA-512, HMAC-SHA256, AES-128-CMAC, AES-128-GMAC, the SP800-108
// key derivation built on HMAC-SHA256, and AES-CCM and AES-GCM. Nothing here
// is written by hand but the KDF's input.
#ifndef KESTRIN_BASE_CRYPTO_H_
#define KESTRIN_BASE_CRYPTO_H_

#include <stddef.h>
#include <stdint.h>

namespace net {

/// A run of bytes; a message is MACed or hashed as a list of them.
struct ByteRange {
  const uint8_t* data;
  size_t size;
};

/// Readies libgcrypt (once per process; later calls are cheap). False when
/// the library is older than we were built with or fails its start-up.
[[nodiscard]] bool CryptoReady();

/// SHA-512 over the concatenated parts.
[[nodiscard]] bool Sha512(const ByteRange* parts, size_t count, uint8_t out[64]);
/// HMAC-SHA256 (RFC 2104, 4231); the whole 32-byte tag.
[[nodiscard]] bool HmacSha256(const uint8_t* key, size_t key_size, const ByteRange* parts,
                              size_t count, uint8_t out[32]);
/// AES-128-CMAC (RFC 4493).
[[nodiscard]] bool AesCmac128(const uint8_t key[16], const ByteRange* parts, size_t count,
                              uint8_t out[16]);
/// AES-128-GMAC: AES-GCM with the parts as additional data and no plaintext;
/// the 16-byte tag.
[[nodiscard]] bool AesGmac128(const uint8_t key[16], const uint8_t nonce[12],
                              const ByteRange* parts, size_t count, uint8_t out[16]);
/// SP800-108 in counter mode with HMAC-SHA256 (r = 32), one block, as
/// MS-SMB2 3.1.4.2 uses it: HMAC(ki, 00000001 ‖ label ‖ 00 ‖ context ‖ L),
/// L = 8 × out_size big-endian; out_size 16 or 32. Label and context are
/// passed whole, their terminating NULs included.
[[nodiscard]] bool Sp800108Kdf(const uint8_t* ki, size_t ki_size, const uint8_t* label,
                               size_t label_size, const uint8_t* context, size_t context_size,
                               uint8_t* out, size_t out_size);

/// The AEAD ciphers of SMB3 encryption, by their ids in the
/// ENCRYPTION_CAPABILITIES negotiate context (MS-SMB2 2.2.3.1.2).
enum class AeadCipher : uint16_t {
  kAes128Ccm = 1,
  kAes128Gcm = 2,
  kAes256Ccm = 3,
  kAes256Gcm = 4,
};

/// The cipher's key size in bytes: 16 or 32.
size_t AeadKeySize(AeadCipher cipher);
/// The cipher's nonce size in bytes: CCM 11, GCM 12.
size_t AeadNonceSize(AeadCipher cipher);

/// Encrypts `size` bytes of `data` in place under `key` (AeadKeySize bytes)
/// and `nonce` (AeadNonceSize bytes), authenticating `aad` as well, and
/// writes the 16-byte tag.
[[nodiscard]] bool AeadEncrypt(AeadCipher cipher, const uint8_t* key, const uint8_t* nonce,
                               const uint8_t* aad, size_t aad_size, uint8_t* data, size_t size,
                               uint8_t tag[16]);
/// Decrypts `size` bytes of `data` in place when `tag` authenticates them
/// and `aad`; false otherwise, and then `data` holds nothing of the
/// plaintext.
[[nodiscard]] bool AeadDecrypt(AeadCipher cipher, const uint8_t* key, const uint8_t* nonce,
                               const uint8_t* aad, size_t aad_size, uint8_t* data, size_t size,
                               const uint8_t tag[16]);

/// Overwrites `size` bytes with zeros in a way the compiler keeps.
void WipeBytes(void* data, size_t size);
/// Compares in time that depends only on `size`.
[[nodiscard]] bool EqualConstantTime(const uint8_t* a, const uint8_t* b, size_t size);

}  // namespace net

#endif  // KESTRIN_BASE_CRYPTO_H_
