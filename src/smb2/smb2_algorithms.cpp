// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_algorithms.h"

#include <string.h>

#include "smb2/smb2_header.h"

namespace net {
namespace {

uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool SignHmacSha256(const uint8_t key[16], const uint8_t*, const ByteRange* parts, size_t count,
                    uint8_t out[16]) {
  uint8_t full[32];  // MS-SMB2 3.1.4.1: the first 16 bytes are the signature
  bool ok = HmacSha256(key, 16, parts, count, full);
  if (ok) memcpy(out, full, 16);
  WipeBytes(full, sizeof full);
  return ok;
}

bool SignAesCmac(const uint8_t key[16], const uint8_t*, const ByteRange* parts, size_t count,
                 uint8_t out[16]) {
  return AesCmac128(key, parts, count, out);
}

/// MS-SMB2 3.1.4.1: the AES-GMAC nonce is the MessageId as on the wire,
/// then a 32-bit little-endian role: bit 0 set when the server sends it
/// (SMB2_FLAGS_SERVER_TO_REDIR), bit 1 set for a CANCEL request.
bool SignAesGmac(const uint8_t key[16], const uint8_t* header, const ByteRange* parts, size_t count,
                 uint8_t out[16]) {
  uint8_t nonce[12];
  memcpy(nonce, header + kSmb2MessageIdOffset, 8);
  uint32_t role = LoadU32(header + kSmb2FlagsOffset) & kSmb2FlagResponse;
  if (LoadU16(header + kSmb2CommandOffset) == kSmb2Cancel) role |= 0x2;
  nonce[8] = static_cast<uint8_t>(role);
  nonce[9] = nonce[10] = nonce[11] = 0;
  return AesGmac128(key, nonce, parts, count, out);
}

// HMAC-SHA256 is the 2.x dialects' own; 3.1.1 is never offered it.
constexpr SigningRow kSigning[] = {
    {SigningAlgorithm::kAesGmac, "AES-GMAC", true, SignAesGmac},
    {SigningAlgorithm::kAesCmac, "AES-CMAC", true, SignAesCmac},
    {SigningAlgorithm::kHmacSha256, "HMAC-SHA256", false, SignHmacSha256},
};

constexpr CipherRow kCiphers[] = {
    {AeadCipher::kAes128Gcm, "AES-128-GCM", true},
    {AeadCipher::kAes128Ccm, "AES-128-CCM", true},
    {AeadCipher::kAes256Gcm, "AES-256-GCM", true},
    {AeadCipher::kAes256Ccm, "AES-256-CCM", true},
};

}  // namespace

const SigningRow* SigningTable(size_t* count) {
  *count = sizeof kSigning / sizeof kSigning[0];
  return kSigning;
}

const CipherRow* CipherTable(size_t* count) {
  *count = sizeof kCiphers / sizeof kCiphers[0];
  return kCiphers;
}

const SigningRow* FindSigning(uint16_t id) {
  for (const SigningRow& row : kSigning) {
    if (static_cast<uint16_t>(row.id) == id) return &row;
  }
  return nullptr;
}

const CipherRow* FindCipher(uint16_t id) {
  for (const CipherRow& row : kCiphers) {
    if (static_cast<uint16_t>(row.id) == id) return &row;
  }
  return nullptr;
}

const char* CipherName(AeadCipher cipher) {
  const CipherRow* row = FindCipher(static_cast<uint16_t>(cipher));
  return row != nullptr ? row->name : "an unknown cipher";
}

}  // namespace net
