// SPDX-License-Identifier: Apache-2.0
// The primitives over libgcrypt. Every handle is opened, used and closed
// within one call (libgcrypt wipes a handle's state when it closes it), and
// the intermediate key material in our own buffers is wiped before return.
#include "base/crypto.h"

#include <string.h>

#include <gcrypt.h>

namespace net {
namespace {

/// The one-time start-up behind CryptoReady.
///
/// We are a library inside a program that may use libgcrypt itself (on
/// Linux the shared library is one per process). The process-wide choices
/// belong to that program, so we make none of them:
///  - gcry_check_version is our one set-up call. It is the documented first
///    call and is idempotent: it initialises the library if nobody has, and
///    otherwise only compares versions. With GCRYPT_VERSION it
///    also refuses a run-time library older than our headers.
///  - Secure memory: left alone. GCRYCTL_DISABLE_SECMEM cannot be undone, so
///    a program that set up its secure pool after us would silently get
///    none; GCRYCTL_INIT_SECMEM would take memory and maybe privileges the
///    program did not ask for. We never ask for secure handles: our keys
///    live in our own buffers, which we wipe, and libgcrypt wipes its
///    handles on close.
///  - GCRYCTL_INITIALIZATION_FINISHED: not sent. It tells the library the
///    application's set-up is over; sent by us it would close that set-up
///    under the program's feet. libgcrypt (1.6 and later) works without it,
///    its locks being static, and runs its FIPS self-tests on demand.
/// The caller runs this once per process (a function-local static), so two
/// threads arriving together do not both start the library. One piece of
/// set-up is left that INITIALIZATION_FINISHED would have done: every
/// gcry_md_open (HMAC included) first runs the random module's fast poll,
/// which sets an unlocked "basics initialised" flag (harmless, yet a data
/// race between two threads that open their first handles together).
/// gcry_fast_random_poll sets it here, under the guard; it gathers nothing
/// while no random pool exists, and we never ask for random bytes.
bool StartLibrary() {
  if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
  gcry_fast_random_poll();
  return true;
}

/// False when a part has bytes but no address.
bool PartsValid(const ByteRange* parts, size_t count) {
  if (count > 0 && parts == nullptr) return false;
  for (size_t i = 0; i < count; ++i) {
    if (parts[i].size > 0 && parts[i].data == nullptr) return false;
  }
  return true;
}

/// One MAC over the parts with a handle of its own.
bool Mac(int algo, const uint8_t* key, size_t key_size, const uint8_t* iv, size_t iv_size,
         const ByteRange* parts, size_t count, uint8_t* out, size_t out_size) {
  if (!CryptoReady() || !PartsValid(parts, count)) return false;
  gcry_mac_hd_t h = nullptr;
  if (gcry_mac_open(&h, algo, 0, nullptr) != 0) return false;
  bool ok = gcry_mac_setkey(h, key, key_size) == 0 &&
            (iv == nullptr || gcry_mac_setiv(h, iv, iv_size) == 0);
  for (size_t i = 0; ok && i < count; ++i) {
    if (parts[i].size > 0) ok = gcry_mac_write(h, parts[i].data, parts[i].size) == 0;
  }
  size_t got = out_size;
  ok = ok && gcry_mac_read(h, out, &got) == 0 && got == out_size;
  gcry_mac_close(h);
  return ok;
}

constexpr size_t kAeadTagSize = 16;

/// libgcrypt's algorithm and mode for an AEAD cipher; false for a value
/// outside the enumeration.
bool AeadMode(AeadCipher cipher, int* algo, int* mode) {
  switch (cipher) {
    case AeadCipher::kAes128Ccm:
    case AeadCipher::kAes256Ccm: *mode = GCRY_CIPHER_MODE_CCM; break;
    case AeadCipher::kAes128Gcm:
    case AeadCipher::kAes256Gcm: *mode = GCRY_CIPHER_MODE_GCM; break;
    default: return false;
  }
  *algo = AeadKeySize(cipher) == 32 ? GCRY_CIPHER_AES256 : GCRY_CIPHER_AES128;
  return true;
}

/// Opens the one handle of an AEAD message: keyed, its nonce set and the
/// additional data authenticated, ready for `size` bytes. CCM must know
/// every length before it takes the additional data (it formats them into
/// its first block). The caller encrypts or decrypts, then closes it.
bool StartAead(AeadCipher cipher, const uint8_t* key, const uint8_t* nonce, const uint8_t* aad,
               size_t aad_size, size_t size, gcry_cipher_hd_t* out) {
  int algo = 0, mode = 0;
  if (!CryptoReady() || !AeadMode(cipher, &algo, &mode)) return false;
  if (key == nullptr || nonce == nullptr || (aad_size > 0 && aad == nullptr)) return false;
  gcry_cipher_hd_t h = nullptr;
  if (gcry_cipher_open(&h, algo, mode, 0) != 0) return false;
  bool ok = gcry_cipher_setkey(h, key, AeadKeySize(cipher)) == 0 &&
            gcry_cipher_setiv(h, nonce, AeadNonceSize(cipher)) == 0;
  if (ok && mode == GCRY_CIPHER_MODE_CCM) {
    uint64_t lengths[3] = {size, aad_size, kAeadTagSize};
    ok = gcry_cipher_ctl(h, GCRYCTL_SET_CCM_LENGTHS, lengths, sizeof lengths) == 0;
  }
  if (ok && aad_size > 0) ok = gcry_cipher_authenticate(h, aad, aad_size) == 0;
  if (!ok) {
    gcry_cipher_close(h);
    return false;
  }
  *out = h;
  return true;
}

}  // namespace

bool CryptoReady() {
  static const bool ready = StartLibrary();
  return ready;
}

bool Sha512(const ByteRange* parts, size_t count, uint8_t out[64]) {
  if (!CryptoReady() || !PartsValid(parts, count)) return false;
  gcry_md_hd_t h = nullptr;
  if (gcry_md_open(&h, GCRY_MD_SHA512, 0) != 0) return false;
  for (size_t i = 0; i < count; ++i) {
    if (parts[i].size > 0) gcry_md_write(h, parts[i].data, parts[i].size);
  }
  const unsigned char* digest = gcry_md_read(h, GCRY_MD_SHA512);
  if (digest != nullptr) memcpy(out, digest, 64);
  gcry_md_close(h);
  return digest != nullptr;
}

bool HmacSha256(const uint8_t* key, size_t key_size, const ByteRange* parts, size_t count,
                uint8_t out[32]) {
  return Mac(GCRY_MAC_HMAC_SHA256, key, key_size, nullptr, 0, parts, count, out, 32);
}

bool AesCmac128(const uint8_t key[16], const ByteRange* parts, size_t count, uint8_t out[16]) {
  return Mac(GCRY_MAC_CMAC_AES, key, 16, nullptr, 0, parts, count, out, 16);
}

bool AesGmac128(const uint8_t key[16], const uint8_t nonce[12], const ByteRange* parts,
                size_t count, uint8_t out[16]) {
  return Mac(GCRY_MAC_GMAC_AES, key, 16, nonce, 12, parts, count, out, 16);
}

bool Sp800108Kdf(const uint8_t* ki, size_t ki_size, const uint8_t* label, size_t label_size,
                 const uint8_t* context, size_t context_size, uint8_t* out, size_t out_size) {
  if (out_size != 16 && out_size != 32) return false;
  static const uint8_t kCounter[4] = {0, 0, 0, 1};  // i = 1: one block is enough
  static const uint8_t kSeparator[1] = {0};
  const uint32_t bits = static_cast<uint32_t>(out_size * 8);
  const uint8_t length[4] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                             static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  const ByteRange input[5] = {{kCounter, sizeof kCounter},
                              {label, label_size},
                              {kSeparator, sizeof kSeparator},
                              {context, context_size},
                              {length, sizeof length}};
  uint8_t block[32];
  bool ok = HmacSha256(ki, ki_size, input, 5, block);
  if (ok) memcpy(out, block, out_size);
  WipeBytes(block, sizeof block);
  return ok;
}

void WipeBytes(void* data, size_t size) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}

bool EqualConstantTime(const uint8_t* a, const uint8_t* b, size_t size) {
  // Every byte is read whatever the earlier ones held; the volatile
  // accumulator keeps the compiler from adding an early exit.
  volatile uint8_t diff = 0;
  for (size_t i = 0; i < size; ++i) diff = static_cast<uint8_t>(diff | (a[i] ^ b[i]));
  return diff == 0;
}

size_t AeadKeySize(AeadCipher cipher) {
  return cipher == AeadCipher::kAes256Ccm || cipher == AeadCipher::kAes256Gcm ? 32 : 16;
}

size_t AeadNonceSize(AeadCipher cipher) {
  return cipher == AeadCipher::kAes128Gcm || cipher == AeadCipher::kAes256Gcm ? 12 : 11;
}

bool AeadEncrypt(AeadCipher cipher, const uint8_t* key, const uint8_t* nonce, const uint8_t* aad,
                 size_t aad_size, uint8_t* data, size_t size, uint8_t tag[16]) {
  if (size > 0 && data == nullptr) return false;
  gcry_cipher_hd_t h = nullptr;
  if (!StartAead(cipher, key, nonce, aad, aad_size, size, &h)) return false;
  bool ok = (size == 0 || gcry_cipher_encrypt(h, data, size, nullptr, 0) == 0) &&
            gcry_cipher_gettag(h, tag, kAeadTagSize) == 0;
  gcry_cipher_close(h);
  return ok;
}

bool AeadDecrypt(AeadCipher cipher, const uint8_t* key, const uint8_t* nonce, const uint8_t* aad,
                 size_t aad_size, uint8_t* data, size_t size, const uint8_t tag[16]) {
  if (size > 0 && data == nullptr) return false;
  gcry_cipher_hd_t h = nullptr;
  if (!StartAead(cipher, key, nonce, aad, aad_size, size, &h)) return false;
  // libgcrypt decrypts before it can check the tag; what it decrypted from
  // a forgery must not outlive the check.
  bool ok = (size == 0 || gcry_cipher_decrypt(h, data, size, nullptr, 0) == 0) &&
            gcry_cipher_checktag(h, tag, kAeadTagSize) == 0;
  gcry_cipher_close(h);
  if (!ok && size > 0) WipeBytes(data, size);
  return ok;
}

}  // namespace net
