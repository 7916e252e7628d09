// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_encryption.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "smb2/smb2.h"
#include "testing/test_bytes.h"

namespace net {
namespace {

using Bytes = std::vector<uint8_t>;

// Copied by script from protocol-auth.md section 7 (Samba 4.17 captures)
// and checked, before use, with Python's hmac and cryptography.
// protocol-auth.md 7.1: Kerberos, 3.1.1, AES-128-GCM; SessionId 0x4c73b067.
constexpr char kSessionKey311[] =
    "fdfdaa54 e5b006b3 1bbc1aee f535b576 cd3111ba 2e0e795d 68e8b2ec 607c1b8f";
constexpr char kPreauthH3[] =
    "ec882e8e a653f220 79f250d4 569d2741 6595ae8a 41c37e5d 2daa9c82 8d6760b9"
    "ac1d93dd 06a19f98 66ecd02b 675b1bba 503903af 69de213f 2d24d211 69f437c5";
constexpr char kEncryptionKey311[] = "a717c8ee bd818343 c6bb2957 23d71ee9";
constexpr char kDecryptionKey311[] = "3aa5d42f 0eac8f5d 6e6fc250 9c63b7e9";
constexpr char kEncRequestPlain311[] =
    "fe534d42 40000100 00000000 04004000 00000000 00000000 04000000 00000000"
    "00000000 31a1cdad 67b0734c 00000000 00000000 00000000 00000000 00000000"
    "04000000";
constexpr char kEncRequestWire311[] =
    "fd534d42 5248925b b3d52b50 c95ee186 e20f473b cc3b2c80 52e2ed9e fab200f8"
    "00000000 44000000 00000100 67b0734c 00000000 6df66f87 6afd7184 207275bc"
    "9931639e 910d469f b0b8ed1d 456ee355 66f1fc72 924814e8 95db4354 16906a05"
    "ab833883 d0666fd3 133d7390 1a4ef943 4291e4ee 540b56cd";
constexpr char kEncResponseWire311[] =
    "fd534d42 b846b392 d4d042d2 7ae7c130 36517b93 01000000 00000000 eeea39f2"
    "00000000 44000000 00000100 67b0734c 00000000 bdd0068d 6f52b13b 391d011e"
    "8f53119a 6d189a60 89f5f85f a64ffc5b 673ec424 54cbe1ec 5189c029 12348dff"
    "2305168d 42721d10 66e94a79 4122f966 8e0879c0 b151e8f8";
constexpr char kEncResponsePlain311[] =
    "fe534d42 40000100 00000000 04004000 01000000 00000000 04000000 00000000"
    "00000000 31a1cdad 67b0734c 00000000 00000000 00000000 00000000 00000000"
    "04000000";
// protocol-auth.md 7.2: NTLM, 3.0.2, AES-128-CCM; SessionId 0x7a1f31c0.
constexpr char kSessionKey302[] = "a34d5252 b8fe8d63 e948236c 64d60ba6";
constexpr char kEncryptionKey302[] = "301adeb5 1f88167b fb5d350b 47572f6c";
constexpr char kDecryptionKey302[] = "a191fc37 072d7d7e f3c2de15 e44cfb0d";
constexpr char kEncRequestPlain302[] =
    "fe534d42 40000100 00000000 04004000 00000000 00000000 06000000 00000000"
    "00000000 ebefcdb1 c0311f7a 00000000 00000000 00000000 00000000 00000000"
    "04000000";
constexpr char kEncRequestWire302[] =
    "fd534d42 c859d393 67587b2b c4c740a5 bb9c2b73 af3c109a 52ebdcbb cbe27500"
    "00000000 44000000 00000100 c0311f7a 00000000 23c0b7b5 2038c47c 71a720d1"
    "097d2d5f 843ddb29 582fb3d4 6f354278 9082e45e 1641daa5 18f9a804 7ddaa33d"
    "3048bd27 fa894b1a 5a6f3770 19b9df83 31f68166 e7bf51f9";
constexpr char kEncResponseWire302[] =
    "fd534d42 42cec59a 448e5e3b 23c76277 f6936450 01000000 00000000 879dd800"
    "00000000 44000000 00000100 c0311f7a 00000000 96609975 6a63726a 77069a19"
    "95701f56 4fbea301 6811dcff 86a037cb 11f9c6f7 b1812659 a1577b78 ce0a2977"
    "2982664d ed6cc7df a148402e 8dd2efa8 1aa5cd36 a48396cd";
constexpr char kEncResponsePlain302[] =
    "fe534d42 40000100 00000000 04004000 01000000 00000000 06000000 00000000"
    "00000000 ebefcdb1 c0311f7a 00000000 00000000 00000000 00000000 00000000"
    "04000000";

constexpr uint64_t kSessionId311 = 0x4c73b067;
constexpr uint64_t kSessionId302 = 0x7a1f31c0;

constexpr size_t kSignatureOffset = 4;
constexpr size_t kNonceOffset = 20;
constexpr size_t kOriginalSizeOffset = 36;
constexpr size_t kFlagsOffset = 42;
constexpr size_t kSessionIdOffset = 44;
constexpr size_t kHeader = kSmb2TransformHeaderSize;

/// One of the two encrypted exchanges of protocol-auth.md 7.
struct Example {
  const char* name;
  uint16_t dialect;
  AeadCipher cipher;
  uint64_t session_id;
  Bytes session_key, encryption_key, decryption_key;
  Bytes request_plain, request_wire, response_wire, response_plain;
};

std::vector<Example> Examples() {
  return {{"3.1.1 AES-128-GCM", kSmb2Dialect311, AeadCipher::kAes128Gcm, kSessionId311,
           Hex(kSessionKey311), Hex(kEncryptionKey311), Hex(kDecryptionKey311),
           Hex(kEncRequestPlain311), Hex(kEncRequestWire311), Hex(kEncResponseWire311),
           Hex(kEncResponsePlain311)},
          {"3.0.2 AES-128-CCM", kSmb2Dialect302, AeadCipher::kAes128Ccm, kSessionId302,
           Hex(kSessionKey302), Hex(kEncryptionKey302), Hex(kDecryptionKey302),
           Hex(kEncRequestPlain302), Hex(kEncRequestWire302), Hex(kEncResponseWire302),
           Hex(kEncResponsePlain302)}};
}

PreauthHash H3() {
  PreauthHash h;
  const Bytes value = Hex(kPreauthH3);
  memcpy(h.value, value.data(), sizeof h.value);
  return h;
}

Smb2CipherKeys Derive(uint16_t dialect, AeadCipher cipher, const Bytes& session_key) {
  Smb2CipherKeys keys;
  EXPECT_TRUE(
      DeriveCipherKeys(dialect, cipher, session_key.data(), session_key.size(), H3(), &keys));
  return keys;
}

Smb2CipherKeys KeysOf(const Example& e) { return Derive(e.dialect, e.cipher, e.session_key); }

/// The same keys as the server holds them: it decrypts with our
/// EncryptionKey and encrypts with our DecryptionKey.
Smb2CipherKeys ServerView(Smb2CipherKeys keys) {
  Smb2CipherKeys server = keys;
  memcpy(server.encryption, keys.decryption, sizeof server.encryption);
  memcpy(server.decryption, keys.encryption, sizeof server.decryption);
  return server;
}

Bytes KeyBytes(const uint8_t* key, size_t size) { return Bytes(key, key + size); }

Bytes NonceOf(const Bytes& wire) {
  return Bytes(wire.begin() + kNonceOffset, wire.begin() + kNonceOffset + 16);
}

/// DecryptSmb2Message's status; `plain` must be empty whenever it fails.
Status Decrypt(const Smb2CipherKeys& keys, uint64_t session_id, const Bytes& wire, Bytes* plain) {
  Status s = DecryptSmb2Message(keys, session_id, wire.data(), wire.size(), plain);
  if (!IsOk(s)) {
    EXPECT_TRUE(plain->empty());
  }
  return s;
}

bool IsMalformed(Status s) { return s.kind == StatusKind::kMalformed; }

void PutLe(Bytes* wire, size_t offset, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) (*wire)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(CipherKeyTest, CapturedSessionsGiveTheirKeys) {
  for (const Example& e : Examples()) {
    SCOPED_TRACE(e.name);
    const Smb2CipherKeys keys = KeysOf(e);
    EXPECT_EQ(keys.cipher, e.cipher);
    EXPECT_EQ(KeyBytes(keys.encryption, 16), e.encryption_key);
    EXPECT_EQ(KeyBytes(keys.decryption, 16), e.decryption_key);
    EXPECT_EQ(KeyBytes(keys.encryption + 16, 16), Bytes(16, 0));
  }
  // The other AES-128 cipher of 3.1.1 has the same keys, and 3.0 those of
  // 3.0.2.
  const Smb2CipherKeys ccm311 =
      Derive(kSmb2Dialect311, AeadCipher::kAes128Ccm, Hex(kSessionKey311));
  EXPECT_EQ(KeyBytes(ccm311.encryption, 16), Hex(kEncryptionKey311));
  EXPECT_EQ(KeyBytes(ccm311.decryption, 16), Hex(kDecryptionKey311));
  const Smb2CipherKeys smb300 =
      Derive(kSmb2Dialect300, AeadCipher::kAes128Ccm, Hex(kSessionKey302));
  EXPECT_EQ(KeyBytes(smb300.encryption, 16), Hex(kEncryptionKey302));
  EXPECT_EQ(KeyBytes(smb300.decryption, 16), Hex(kDecryptionKey302));
}

// AES-256 keys come from all of the session key (protocol-auth.md 3.5),
// zero-padded when shorter than 16 bytes. Expected values computed apart
// from this code, in Python:
//   hmac.new(ki, b"\0\0\0\1" + label + b"\0\0" + h3 + b"\0\0\1\0", hashlib.sha256).digest()
// with label "SMBC2SCipherKey" / "SMBS2CCipherKey" and h3 = preauth_H3 of 7.1.
TEST(CipherKeyTest, Aes256TakesTheWholeSessionKey) {
  struct Case {
    const char* what;
    Bytes session_key, encryption, decryption;
  } cases[] = {
      {"Kerberos, 32 bytes", Hex(kSessionKey311),
       Hex("ee57f80883dfb18d31b843a7d852b2aff8974eb41bbd6365656f136a85ef9bcf"),
       Hex("7a25761aaeb512365e5c6c46821af746ac67d8ea7f4d8deedd2b103388827f7c")},
      {"NTLM, 16 bytes", Hex(kSessionKey302),
       Hex("d5e1f43207b6e0698d5b0376679ec46bc886f009c8fc95ce37da736ae939eea7"),
       Hex("3427804c00a82682c277240e0660058c97bf2400bb4cfc9250b22d1b99ff29ce")},
      {"5 bytes, ki = them and 11 zeros", Hex("0102030405"),
       Hex("0aa7a812e3340e90561d45190bd367dff37e53e57c8c1cbb0c5ceaf3370c5efb"),
       Hex("c2399347c985a9ba7e2a3640ae716c461a672f84f62105d403e41506085c5ca9")},
  };
  for (const Case& c : cases) {
    for (AeadCipher cipher : {AeadCipher::kAes256Ccm, AeadCipher::kAes256Gcm}) {
      SCOPED_TRACE(testing::Message() << c.what << ", cipher " << static_cast<int>(cipher));
      const Smb2CipherKeys keys = Derive(kSmb2Dialect311, cipher, c.session_key);
      EXPECT_EQ(keys.cipher, cipher);
      EXPECT_EQ(KeyBytes(keys.encryption, 32), c.encryption);
      EXPECT_EQ(KeyBytes(keys.decryption, 32), c.decryption);
    }
  }
}

TEST(CipherKeyTest, OtherDialectsAndCiphersFailAndLeaveTheKeysAlone) {
  const Bytes k = Hex(kSessionKey311);
  struct {
    uint16_t dialect;
    int cipher;
  } refused[] = {{0x0202, 1}, {0x0210, 1}, {0x0301, 1}, {0x0310, 2}, {0x0312, 2}, {0x0300, 2},
                 {0x0300, 3}, {0x0302, 2}, {0x0302, 3}, {0x0302, 4}, {0x0311, 0}, {0x0311, 5}};
  for (const auto& r : refused) {
    Smb2CipherKeys keys;
    memset(keys.encryption, 0xee, sizeof keys.encryption);
    EXPECT_FALSE(DeriveCipherKeys(r.dialect, static_cast<AeadCipher>(r.cipher), k.data(), k.size(),
                                  H3(), &keys))
        << r.dialect << " " << r.cipher;
    EXPECT_EQ(KeyBytes(keys.encryption, 32), Bytes(32, 0xee));
  }
  Smb2CipherKeys keys = Derive(kSmb2Dialect311, AeadCipher::kAes256Gcm, k);
  EXPECT_FALSE(DeriveCipherKeys(kSmb2Dialect311, AeadCipher::kAes256Gcm, nullptr, 16, H3(), &keys));
  WipeCipherKeys(&keys);
  EXPECT_EQ(KeyBytes(keys.encryption, 32), Bytes(32, 0));
  EXPECT_EQ(KeyBytes(keys.decryption, 32), Bytes(32, 0));
}

TEST(TransformTest, CapturedFramesDecrypt) {
  for (const Example& e : Examples()) {
    SCOPED_TRACE(e.name);
    const Smb2CipherKeys keys = KeysOf(e);
    EXPECT_TRUE(IsTransformMessage(e.response_wire.data(), e.response_wire.size()));
    EXPECT_FALSE(IsTransformMessage(e.response_plain.data(), e.response_plain.size()));
    Bytes plain = {1, 2, 3};
    ASSERT_TRUE(IsOk(Decrypt(keys, e.session_id, e.response_wire, &plain)));
    EXPECT_EQ(plain, e.response_plain);
    ASSERT_TRUE(IsOk(Decrypt(ServerView(keys), e.session_id, e.request_wire, &plain)));
    EXPECT_EQ(plain, e.request_plain);
    // Our own request reflected back does not decrypt under the server's key.
    EXPECT_TRUE(IsSecurity(Decrypt(keys, e.session_id, e.request_wire, &plain), kDecryptFailed));
  }
}

TEST(TransformTest, EncryptReproducesTheCapturedFrames) {
  for (const Example& e : Examples()) {
    SCOPED_TRACE(e.name);
    const Smb2CipherKeys keys = KeysOf(e);
    Bytes out = {1, 2, 3};  // appended to, not replaced
    ASSERT_TRUE(EncryptSmb2Message(keys, e.session_id, NonceOf(e.request_wire).data(),
                                   e.request_plain.data(), e.request_plain.size(), &out));
    EXPECT_EQ(out, Concat(Bytes{1, 2, 3}, e.request_wire));
    out.clear();
    ASSERT_TRUE(EncryptSmb2Message(ServerView(keys), e.session_id, NonceOf(e.response_wire).data(),
                                   e.response_plain.data(), e.response_plain.size(), &out));
    EXPECT_EQ(out, e.response_wire);
  }
}

TEST(TransformTest, EveryCipherRoundTrips) {
  const Example e = Examples()[0];
  for (AeadCipher cipher : {AeadCipher::kAes128Ccm, AeadCipher::kAes128Gcm, AeadCipher::kAes256Ccm,
                            AeadCipher::kAes256Gcm}) {
    SCOPED_TRACE(static_cast<int>(cipher));
    const Smb2CipherKeys keys = Derive(kSmb2Dialect311, cipher, e.session_key);
    Bytes nonce(16, 0), wire, plain;
    for (size_t i = 0; i < AeadNonceSize(cipher); ++i) nonce[i] = static_cast<uint8_t>(0xa0 + i);
    ASSERT_TRUE(EncryptSmb2Message(keys, e.session_id, nonce.data(), e.request_plain.data(),
                                   e.request_plain.size(), &wire));
    ASSERT_EQ(wire.size(), kHeader + e.request_plain.size());
    ASSERT_TRUE(IsOk(Decrypt(ServerView(keys), e.session_id, wire, &plain)));
    EXPECT_EQ(plain, e.request_plain);
    EXPECT_TRUE(IsSecurity(Decrypt(keys, e.session_id, wire, &plain), kDecryptFailed));
    // A nonce byte past the cipher's nonce: refused when sending, and a
    // received header that has one is broken.
    nonce[AeadNonceSize(cipher)] = 1;
    Bytes out = {7};
    EXPECT_FALSE(EncryptSmb2Message(keys, e.session_id, nonce.data(), e.request_plain.data(),
                                    e.request_plain.size(), &out));
    EXPECT_EQ(out, Bytes{7});
    wire[kNonceOffset + AeadNonceSize(cipher)] = 1;
    EXPECT_TRUE(IsMalformed(Decrypt(ServerView(keys), e.session_id, wire, &plain)));
  }
}

TEST(TransformTest, TruncatedOrExtendedFramesAreMalformed) {
  for (const Example& e : Examples()) {
    SCOPED_TRACE(e.name);
    const Smb2CipherKeys keys = KeysOf(e);
    Bytes plain;
    for (size_t n = 0; n < e.response_wire.size(); ++n) {
      EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id, Prefix(e.response_wire, n), &plain)))
          << n;
    }
    EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id, Concat(e.response_wire, {0}), &plain)));
    EXPECT_TRUE(IsMalformed(DecryptSmb2Message(keys, e.session_id, nullptr, 0, &plain)));
  }
}

/// What a bit flipped at `offset` of a transform message must give: the
/// fields checked before decrypting are Malformed, what only the tag
/// covers (Signature, the nonce the cipher uses, Reserved, the ciphertext)
/// fails to decrypt.
bool FlipIsMalformed(size_t offset, size_t nonce_size) {
  if (offset < kSignatureOffset) return true;  // ProtocolId
  if (offset < kNonceOffset + nonce_size) return false;
  if (offset < kOriginalSizeOffset + 4) return true;  // unused nonce bytes, OriginalMessageSize
  if (offset < kFlagsOffset) return false;            // Reserved
  return offset < kHeader;                            // Flags, SessionId
}

TEST(TransformTest, AnyFlippedBitFails) {
  for (const Example& e : Examples()) {
    const Smb2CipherKeys keys = KeysOf(e);
    const struct {
      Smb2CipherKeys keys;
      const Bytes& wire;
    } frames[] = {{keys, e.response_wire}, {ServerView(keys), e.request_wire}};
    for (const auto& f : frames) {
      for (size_t bit = 0; bit < f.wire.size() * 8; bit += kBitFlipStride) {
        const size_t i = bit / 8;
        Bytes wire = f.wire, plain;
        wire[i] ^= static_cast<uint8_t>(1u << (bit % 8));
        const Status s = Decrypt(f.keys, e.session_id, wire, &plain);
        if (FlipIsMalformed(i, AeadNonceSize(e.cipher))) {
          EXPECT_TRUE(IsMalformed(s)) << e.name << " bit " << bit;
        } else {
          EXPECT_TRUE(IsSecurity(s, kDecryptFailed)) << e.name << " bit " << bit;
        }
      }
    }
  }
}

// Parts of two genuine messages under the same key, put together, do not
// decrypt; two messages in one frame are no message.
TEST(TransformTest, ReorderedMessagesFail) {
  for (const Example& e : Examples()) {
    SCOPED_TRACE(e.name);
    const Smb2CipherKeys keys = KeysOf(e);
    const Bytes& a = e.response_wire;
    Bytes next_plain = e.response_plain, nonce = NonceOf(a), b, plain;
    next_plain[24] ^= 1;  // MessageId
    nonce[0] ^= 1;
    ASSERT_TRUE(EncryptSmb2Message(ServerView(keys), e.session_id, nonce.data(), next_plain.data(),
                                   next_plain.size(), &b));
    ASSERT_TRUE(IsOk(Decrypt(keys, e.session_id, b, &plain)));
    const Bytes a_header = Prefix(a, kHeader), b_header = Prefix(b, kHeader);
    const Bytes a_body(a.begin() + kHeader, a.end()), b_body(b.begin() + kHeader, b.end());
    Bytes b_tag_on_a = a;
    memcpy(b_tag_on_a.data() + kSignatureOffset, b.data() + kSignatureOffset, 16);
    for (const Bytes& mixed : {Concat(a_header, b_body), Concat(b_header, a_body), b_tag_on_a}) {
      EXPECT_TRUE(IsSecurity(Decrypt(keys, e.session_id, mixed, &plain), kDecryptFailed));
    }
    // The request's header over the response's body: the other key, and
    // the other direction.
    Bytes request_header_on_a = Concat(Prefix(e.request_wire, kHeader), a_body);
    EXPECT_TRUE(
        IsSecurity(Decrypt(keys, e.session_id, request_header_on_a, &plain), kDecryptFailed));
    EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id, Concat(a, b), &plain)));
  }
  // A frame of the one session sent to the other.
  const std::vector<Example> all = Examples();
  Bytes plain;
  EXPECT_TRUE(
      IsMalformed(Decrypt(KeysOf(all[0]), all[0].session_id, all[1].response_wire, &plain)));
}

TEST(TransformTest, HeaderFieldsAreCheckedBeforeDecrypting) {
  const Example e = Examples()[1];
  const Smb2CipherKeys keys = KeysOf(e);
  const struct {
    size_t offset, size;
    uint64_t value;
  } patches[] = {
      {0, 1, 0xFE},  // an SMB2 header's ProtocolId
      {kFlagsOffset, 2, 0},
      {kFlagsOffset, 2, 2},
      {kFlagsOffset, 2, 0x0101},
      {kOriginalSizeOffset, 4, 0},
      {kOriginalSizeOffset, 4, 67},
      {kOriginalSizeOffset, 4, 69},
      {kOriginalSizeOffset, 4, 0xFFFFFFFF},
      {kSessionIdOffset, 8, 0},
      {kSessionIdOffset, 8, kSessionId302 | (uint64_t{1} << 32)},
  };
  Bytes plain;
  for (const auto& p : patches) {
    Bytes wire = e.response_wire;
    PutLe(&wire, p.offset, p.value, p.size);
    EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id, wire, &plain)))
        << p.offset << " " << p.value;
  }
  EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id + 1, e.response_wire, &plain)));
  // A header alone, saying so.
  Bytes empty = Prefix(e.response_wire, kHeader);
  PutLe(&empty, kOriginalSizeOffset, 0, 4);
  EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id, empty, &plain)));
  // The largest frame we accept gets as far as the tag; one byte more not.
  Bytes largest = Concat(empty, Bytes(kSmb2MaxFrame - kHeader, 0));
  PutLe(&largest, kOriginalSizeOffset, kSmb2MaxFrame - kHeader, 4);
  EXPECT_TRUE(IsSecurity(Decrypt(keys, e.session_id, largest, &plain), kDecryptFailed));
  largest.push_back(0);
  PutLe(&largest, kOriginalSizeOffset, kSmb2MaxFrame - kHeader + 1, 4);
  EXPECT_TRUE(IsMalformed(Decrypt(keys, e.session_id, largest, &plain)));
}

TEST(TransformTest, EncryptRefusesWhatItCannotSend) {
  const Example e = Examples()[0];
  Smb2CipherKeys keys = KeysOf(e);
  const Bytes nonce = NonceOf(e.request_wire), big(kSmb2MaxFrame - kHeader + 1, 0);
  Bytes out = {7};
  EXPECT_FALSE(
      EncryptSmb2Message(keys, e.session_id, nonce.data(), e.request_plain.data(), 0, &out));
  EXPECT_FALSE(EncryptSmb2Message(keys, e.session_id, nonce.data(), nullptr, 68, &out));
  EXPECT_FALSE(EncryptSmb2Message(keys, e.session_id, nonce.data(), big.data(), big.size(), &out));
  EXPECT_TRUE(
      EncryptSmb2Message(keys, e.session_id, nonce.data(), big.data(), big.size() - 1, &out));
  out = {7};
  keys.cipher = static_cast<AeadCipher>(5);
  EXPECT_FALSE(EncryptSmb2Message(keys, e.session_id, nonce.data(), e.request_plain.data(),
                                  e.request_plain.size(), &out));
  EXPECT_EQ(out, Bytes{7});
}

}  // namespace
}  // namespace net
