// The primitives over libgcrypt.
#include "net/crypto.h"

namespace net {

bool CryptoReady() { return false; }
bool Sha512(const ByteRange*, size_t, uint8_t[64]) { return false; }
bool HmacSha256(const uint8_t*, size_t, const ByteRange*, size_t, uint8_t[32]) { return false; }
bool AesCmac128(const uint8_t[16], const ByteRange*, size_t, uint8_t[16]) { return false; }
bool AesGmac128(const uint8_t[16], const uint8_t[12], const ByteRange*, size_t, uint8_t[16]) {
  return false;
}
bool Sp800108Kdf(const uint8_t*, size_t, const uint8_t*, size_t, const uint8_t*, size_t, uint8_t*,
                 size_t) {
  return false;
}
void WipeBytes(void* data, size_t size) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}
bool EqualConstantTime(const uint8_t* a, const uint8_t* b, size_t size) {
  uint8_t diff = 0;
  for (size_t i = 0; i < size; ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}

}  // namespace net
