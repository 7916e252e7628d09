// SPDX-License-Identifier: Apache-2.0
#include "base/crypto.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "testing/test_bytes.h"

namespace net {
namespace {

using Bytes = std::vector<uint8_t>;

ByteRange Range(const Bytes& b) { return ByteRange{b.data(), b.size()}; }

Bytes Text(const char* s) { return Bytes(s, s + strlen(s)); }

/// A string with its terminating NUL, as the KDF takes labels and contexts.
Bytes WithNul(const char* s) { return Bytes(s, s + strlen(s) + 1); }

Bytes HmacOf(const Bytes& key, const Bytes& data) {
  Bytes out(32);
  ByteRange part = Range(data);
  EXPECT_TRUE(HmacSha256(key.data(), key.size(), &part, 1, out.data()));
  return out;
}

Bytes CmacOf(const Bytes& key, const Bytes& data) {
  Bytes out(16);
  ByteRange part = Range(data);
  EXPECT_TRUE(AesCmac128(key.data(), &part, 1, out.data()));
  return out;
}

Bytes GmacOf(const Bytes& key, const Bytes& nonce, const Bytes& data) {
  Bytes out(16);
  ByteRange part = Range(data);
  EXPECT_TRUE(AesGmac128(key.data(), nonce.data(), &part, 1, out.data()));
  return out;
}

Bytes Sha512Of(const Bytes& data) {
  Bytes out(64);
  ByteRange part = Range(data);
  EXPECT_TRUE(Sha512(&part, 1, out.data()));
  return out;
}

Bytes KdfOf(const Bytes& ki, const Bytes& label, const Bytes& context, size_t size) {
  Bytes out(size);
  EXPECT_TRUE(Sp800108Kdf(ki.data(), ki.size(), label.data(), label.size(), context.data(),
                          context.size(), out.data(), out.size()));
  return out;
}

TEST(CryptoTest, ReadyAndStaysReady) {
  EXPECT_TRUE(CryptoReady());
  EXPECT_TRUE(CryptoReady());
}

// FIPS 180-2 appendix C.1 and the empty message.
TEST(CryptoTest, Sha512KnownAnswers) {
  EXPECT_EQ(Sha512Of(Text("abc")),
            Hex("ddaf35a193617aba cc417349ae204131 12e6fa4e89a97ea2 0a9eeee64b55d39a"
                "2192992a274fc1a8 36ba3c23a3feebbd 454d4423643ce80e 2a9ac94fa54ca49f"));
  EXPECT_EQ(Sha512Of(Bytes()),
            Hex("cf83e1357eefb8bd f1542850d66d8007 d620e4050b5715dc 83f4a921d36ce9ce"
                "47d0d13c5d85f2b0 ff8318d2877eec2f 63b931bd47417a81 a538327af927da3e"));
  uint8_t out[64];
  EXPECT_TRUE(Sha512(nullptr, 0, out));
  EXPECT_EQ(Bytes(out, out + 64), Sha512Of(Bytes()));
}

// RFC 4231 test cases 1, 2, 3, 5 (truncated to 128 bits), 6 and 7.
TEST(CryptoTest, HmacSha256Rfc4231) {
  EXPECT_EQ(HmacOf(Bytes(20, 0x0b), Text("Hi There")),
            Hex("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"));
  EXPECT_EQ(HmacOf(Text("Jefe"), Text("what do ya want for nothing?")),
            Hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
  EXPECT_EQ(HmacOf(Bytes(20, 0xaa), Bytes(50, 0xdd)),
            Hex("773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"));
  EXPECT_EQ(Prefix(HmacOf(Bytes(20, 0x0c), Text("Test With Truncation")), 16),
            Hex("a3b6167473100ee06e0c796c2955552b"));
  EXPECT_EQ(
      HmacOf(Bytes(131, 0xaa), Text("Test Using Larger Than Block-Size Key - Hash Key First")),
      Hex("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"));
  EXPECT_EQ(HmacOf(Bytes(131, 0xaa),
                   Text("This is a test using a larger than block-size key and a larger than "
                        "block-size data. The key needs to be hashed before being used by the "
                        "HMAC algorithm.")),
            Hex("9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"));
}

const Bytes kCmacKey = Hex("2b7e1516 28aed2a6 abf71588 09cf4f3c");
const Bytes kCmacMessage =
    Hex("6bc1bee2 2e409f96 e93d7e11 7393172a ae2d8a57 1e03ac9c 9eb76fac 45af8e51"
        "30c81c46 a35ce411 e5fbc119 1a0a52ef f69f2445 df4f9b17 ad2b417b e66c3710");

// RFC 4493 section 4, examples 1 to 4.
TEST(CryptoTest, AesCmacRfc4493) {
  EXPECT_EQ(CmacOf(kCmacKey, Prefix(kCmacMessage, 0)), Hex("bb1d6929 e9593728 7fa37d12 9b756746"));
  EXPECT_EQ(CmacOf(kCmacKey, Prefix(kCmacMessage, 16)), Hex("070a16b4 6b4d4144 f79bdd9d d04a287c"));
  EXPECT_EQ(CmacOf(kCmacKey, Prefix(kCmacMessage, 40)), Hex("dfa66747 de9ae630 30ca3261 1497c827"));
  EXPECT_EQ(CmacOf(kCmacKey, kCmacMessage), Hex("51f0bebf 7e3b9d92 fc497417 79363cfe"));
}

TEST(CryptoTest, AesGmacPublishedVectors) {
  // McGrew and Viega, "The Galois/Counter Mode of Operation", test case 1.
  EXPECT_EQ(GmacOf(Bytes(16, 0), Bytes(12, 0), Bytes()), Hex("58e2fccefa7e3061367f1d57a4e7455a"));
  uint8_t out[16];
  const Bytes zero(16, 0);
  EXPECT_TRUE(AesGmac128(zero.data(), zero.data(), nullptr, 0, out));
  EXPECT_EQ(Bytes(out, out + 16), Hex("58e2fccefa7e3061367f1d57a4e7455a"));
  // NIST CAVS gcmEncryptExtIV128.rsp, [Keylen = 128] [IVlen = 96] [PTlen = 0]
  // [AADlen = 128] [Taglen = 128], Count = 0: additional data only.
  EXPECT_EQ(GmacOf(Hex("77be63708971c4e240d1cb79e8d77feb"), Hex("e0e00f19fed7ba0136a797f3"),
                   Hex("7a43ec1d9c0a5a78a0b16533a6213cab")),
            Hex("209fcc8d3675ed938e9c7166709dd946"));
}

TEST(CryptoTest, PartsSplitAnywhereGiveTheSameResult) {
  const Bytes& m = kCmacMessage;
  const Bytes key = Prefix(kCmacKey, 16), nonce = Hex("e0e00f19fed7ba0136a797f3");
  const Bytes sha = Sha512Of(m), hmac = HmacOf(key, m), cmac = CmacOf(key, m);
  const Bytes gmac = GmacOf(key, nonce, m);
  for (size_t cut = 0; cut <= m.size(); ++cut) {
    SCOPED_TRACE(cut);
    // The cut as three parts with an empty one between, and the empty part
    // without an address.
    const ByteRange parts[4] = {
        {m.data(), cut}, {nullptr, 0}, {m.data() + cut, 0}, {m.data() + cut, m.size() - cut}};
    uint8_t out[64];
    ASSERT_TRUE(Sha512(parts, 4, out));
    EXPECT_EQ(Bytes(out, out + 64), sha);
    ASSERT_TRUE(HmacSha256(key.data(), key.size(), parts, 4, out));
    EXPECT_EQ(Bytes(out, out + 32), hmac);
    ASSERT_TRUE(AesCmac128(key.data(), parts, 4, out));
    EXPECT_EQ(Bytes(out, out + 16), cmac);
    ASSERT_TRUE(AesGmac128(key.data(), nonce.data(), parts, 4, out));
    EXPECT_EQ(Bytes(out, out + 16), gmac);
  }
}

TEST(CryptoTest, PartWithBytesButNoAddressFails) {
  const ByteRange part = {nullptr, 1};
  const Bytes key(16, 1), nonce(12, 2);
  uint8_t out[64];
  EXPECT_FALSE(Sha512(&part, 1, out));
  EXPECT_FALSE(HmacSha256(key.data(), key.size(), &part, 1, out));
  EXPECT_FALSE(AesCmac128(key.data(), &part, 1, out));
  EXPECT_FALSE(AesGmac128(key.data(), nonce.data(), &part, 1, out));
  EXPECT_FALSE(Sha512(nullptr, 1, out));
}

// protocol-auth.md 7.1: the 3.1.1 signing key from K16 and preauth_H3, and
// the KDF input the document spells out, byte for byte.
const Bytes kH3 =
    Hex("ec882e8e a653f220 79f250d4 569d2741 6595ae8a 41c37e5d 2daa9c82 8d6760b9"
        "ac1d93dd 06a19f98 66ecd02b 675b1bba 503903af 69de213f 2d24d211 69f437c5");
const Bytes kK16Kerberos = Hex("fdfdaa54 e5b006b3 1bbc1aee f535b576");

TEST(CryptoTest, KdfSmb311SigningKey) {
  const Bytes input =
      Hex("00000001 534d4253 69676e69 6e674b65 790000ec 882e8ea6 53f22079 f250d456"
          "9d274165 95ae8a41 c37e5d2d aa9c828d 6760b9ac 1d93dd06 a19f9866 ecd02b67"
          "5b1bba50 3903af69 de213f2d 24d21169 f437c500 000080");
  EXPECT_EQ(input, Concat(Concat(Concat(Hex("00000001"), WithNul("SMBSigningKey")),
                                 Concat(Hex("00"), kH3)),
                          Hex("00000080")));
  const Bytes signing_key = Hex("b3d43723 88138a83 b72832ee 25cb8286");
  EXPECT_EQ(Prefix(HmacOf(kK16Kerberos, input), 16), signing_key);
  EXPECT_EQ(KdfOf(kK16Kerberos, WithNul("SMBSigningKey"), kH3, 16), signing_key);
  EXPECT_EQ(KdfOf(kK16Kerberos, WithNul("SMBC2SCipherKey"), kH3, 16),
            Hex("a717c8ee bd818343 c6bb2957 23d71ee9"));
  EXPECT_EQ(KdfOf(kK16Kerberos, WithNul("SMBS2CCipherKey"), kH3, 16),
            Hex("3aa5d42f 0eac8f5d 6e6fc250 9c63b7e9"));
}

// protocol-auth.md 7.2: the 3.0.2 signing key, and both cipher keys, whose
// context "ServerIn \0" has a space before its NUL.
TEST(CryptoTest, KdfSmb302Keys) {
  const Bytes k = Hex("a34d5252 b8fe8d63 e948236c 64d60ba6");
  const Bytes input = Hex("00000001 534d4232 41455343 4d414300 00536d62 5369676e 00000000 80");
  EXPECT_EQ(input, Concat(Concat(Concat(Hex("00000001"), WithNul("SMB2AESCMAC")), Hex("00")),
                          Concat(WithNul("SmbSign"), Hex("00000080"))));
  const Bytes signing_key = Hex("bea69af1 21db4ae2 39072458 30fa3dd8");
  EXPECT_EQ(Prefix(HmacOf(k, input), 16), signing_key);
  EXPECT_EQ(KdfOf(k, WithNul("SMB2AESCMAC"), WithNul("SmbSign"), 16), signing_key);
  EXPECT_EQ(KdfOf(k, WithNul("SMB2AESCCM"), WithNul("ServerIn "), 16),
            Hex("301adeb5 1f88167b fb5d350b 47572f6c"));
  EXPECT_EQ(KdfOf(k, WithNul("SMB2AESCCM"), WithNul("ServerOut"), 16),
            Hex("a191fc37 072d7d7e f3c2de15 e44cfb0d"));
  // Without the NULs the key is another one (protocol-auth.md 4.3).
  EXPECT_NE(KdfOf(k, Text("SMB2AESCMAC"), Text("SmbSign"), 16), signing_key);
}

TEST(CryptoTest, Kdf256BitsIsOneWholeBlockWithL256) {
  const Bytes ki(32, 0x5a), label = WithNul("L"), context = WithNul("C");
  const Bytes input =
      Concat(Concat(Hex("00000001"), label), Concat(Concat(Hex("00"), context), Hex("00000100")));
  EXPECT_EQ(KdfOf(ki, label, context, 32), HmacOf(ki, input));
  uint8_t out[32];
  for (size_t size : {0, 8, 15, 17, 20, 31, 33, 64}) {
    EXPECT_FALSE(Sp800108Kdf(ki.data(), ki.size(), label.data(), label.size(), context.data(),
                             context.size(), out, size))
        << size;
  }
}

/// A published AEAD test vector, in hex.
struct AeadVector {
  AeadCipher cipher;
  const char* key;
  const char* nonce;
  const char* aad;
  const char* plain;
  const char* cipher_text;
  const char* tag;
};

// Copied by script from NIST's CAVP response files (as Debian's
// python3-cryptography-vectors 38.0.4 ships them) and checked there with
// Python's cryptography. GCM: [IVlen = 96] [Taglen = 128]. CCM: the VNT
// files (Alen = 32, Plen = 24, Tlen = 16), the only ones with an 11-byte
// nonce, which is what SMB3 uses, as it uses a 32-byte AAD.
const AeadVector kAeadVectors[] = {
    // gcmEncryptExtIV128.rsp, [PTlen = 408] [AADlen = 160], Count = 0
    {AeadCipher::kAes128Gcm, "fe47fcce5fc32665d2ae399e4eec72ba", "5adb9609dbaeb58cbd6e7275",
     "88319d6e1d3ffa5f987199166c8a9b56c2aeba5a",
     "7c0e88c88899a779228465074797cd4c2e1498d259b54390b85e3eef1c02df60"
     "e743f1b840382c4bccaf3bafb4ca8429bea063",
     "98f4826f05a265e6dd2be82db241c0fbbbf9ffb1c173aa83964b7cf539304373"
     "6365253ddbc5db8778371495da76d269e5db3e",
     "291ef1982e4defedaa2249f898556b47"},
    // gcmEncryptExtIV128.rsp, [PTlen = 0] [AADlen = 128], Count = 0
    {AeadCipher::kAes128Gcm, "77be63708971c4e240d1cb79e8d77feb", "e0e00f19fed7ba0136a797f3",
     "7a43ec1d9c0a5a78a0b16533a6213cab", "", "", "209fcc8d3675ed938e9c7166709dd946"},
    // gcmEncryptExtIV256.rsp, [PTlen = 408] [AADlen = 160], Count = 0
    {AeadCipher::kAes256Gcm, "24501ad384e473963d476edcfe08205237acfd49b5b8f33857f8114e863fec7f",
     "9ff18563b978ec281b3f2794", "adb5ec720ccf9898500028bf34afccbcaca126ef",
     "27f348f9cdc0c5bd5e66b1ccb63ad920ff2219d14e8d631b3872265cf117ee86"
     "757accb158bd9abb3868fdc0d0b074b5f01b2c",
     "eb7cb754c824e8d96f7c6d9b76c7d26fb874ffbf1d65c6f64a698d839b0b0614"
     "5dae82057ad55994cf59ad7f67c0fa5e85fab8",
     "bc95c532fecc594c36d1550286a7a3f0"},
    // gcmEncryptExtIV256.rsp, [PTlen = 128] [AADlen = 384], Count = 0
    {AeadCipher::kAes256Gcm, "e4fed339c7b0cd267305d11ab0d5c3273632e8872d35bdc367a1363438239a35",
     "0365882cf75432cfd23cbd42",
     "8a97d2af5d41160ac2ff7dd8ba098e7aa4d618f0f455957d6a6d0801796747ba"
     "57c32dfbaaaf15176528fe3a0e4550c9",
     "fff39a087de39a03919fbd2f2fa5f513", "8d9e68f03f7e5f4a0ffaa7650d026d08",
     "3554542c478c0635285a61d1b51f6afa"},
    // VNT128.rsp, [Nlen = 11], Count = 40
    {AeadCipher::kAes128Ccm, "e6ab9e70a4fb51b01c2e262233e64c0d", "74e689eb5af9441dd690a6",
     "42f6518ee0fbe42f28e13b4bb2eb60517b37c9744394d9143393a879c3e107c7",
     "ba15916733550d7aa82b2f6b117cd3f54c83ddc16cd0288a",
     "dcc151443288f35d39ed8fae6f0ce1d1eb656f4f7fd65c0b", "16f322ce85d7c54e71ac560fd4da9651"},
    // VNT128.rsp, [Nlen = 11], Count = 41
    {AeadCipher::kAes128Ccm, "e6ab9e70a4fb51b01c2e262233e64c0d", "eb118fb41284bfcb1bc338",
     "b5a6067fbac46578cfc8d3fe04108588c9de077eb009249374f205553bba9d02",
     "863da00c7accf45418d47c1eda72338734dcc49cd599f328",
     "d64de7a56146b971e21bf5784d67bab32dd837cfb81591da", "4a0177883346dc896eb39e8a32bc1393"},
    // VNT256.rsp, [Nlen = 11], Count = 40
    {AeadCipher::kAes256Ccm, "97bc7482a87ba005475dfa3448f59d4b3f9c4c969d08b39b1b21ef965c0f5125",
     "0bcf78103ec52d6df28887", "049c10f0cb37ae08eae2d0766563b7c5a8454f841c2061a4f71a0a2158ae6ce5",
     "b99bf4dc781795fc4d3a8467b06e1665d4e543657f23129f",
     "0d3891fa0caac1f7ebe41b480920ffd34d4155064c24f3b1", "7a483163dd8f228d1f20cd4f86cf38fd"},
    // VNT256.rsp, [Nlen = 11], Count = 41
    {AeadCipher::kAes256Ccm, "97bc7482a87ba005475dfa3448f59d4b3f9c4c969d08b39b1b21ef965c0f5125",
     "ab6374c6b2faefd92fa3d3", "f19c044023e5cf339203738ee70e76527519763664c06ae00e002a5ba94c32c6",
     "a2e5c51f516db01688b64c173bb25645182a005018022ee1",
     "f70c598df3c64d3527ebb7fc8408b7de2cfaa1da7984ec36", "1f1ad61758d828b70d4881b7d6ae8cd0"},
};

/// The bytes of `v.plain` encrypted in place, or of `v.cipher_text`
/// decrypted, with the fields of `v` unless the caller changed them.
struct AeadRun {
  AeadCipher cipher;
  Bytes key, nonce, aad, data, tag;
};

AeadRun Encryption(const AeadVector& v) {
  return {v.cipher, Hex(v.key), Hex(v.nonce), Hex(v.aad), Hex(v.plain), Bytes(16)};
}

AeadRun Decryption(const AeadVector& v) {
  return {v.cipher, Hex(v.key), Hex(v.nonce), Hex(v.aad), Hex(v.cipher_text), Hex(v.tag)};
}

bool Encrypt(AeadRun* r) {
  return AeadEncrypt(r->cipher, r->key.data(), r->nonce.data(), r->aad.data(), r->aad.size(),
                     r->data.data(), r->data.size(), r->tag.data());
}

bool Decrypt(AeadRun* r) {
  return AeadDecrypt(r->cipher, r->key.data(), r->nonce.data(), r->aad.data(), r->aad.size(),
                     r->data.data(), r->data.size(), r->tag.data());
}

TEST(AeadTest, PublishedVectorsEncryptAndDecrypt) {
  for (const AeadVector& v : kAeadVectors) {
    SCOPED_TRACE(v.key);
    ASSERT_EQ(Hex(v.key).size(), AeadKeySize(v.cipher));
    ASSERT_EQ(Hex(v.nonce).size(), AeadNonceSize(v.cipher));
    AeadRun e = Encryption(v);
    ASSERT_TRUE(Encrypt(&e));
    EXPECT_EQ(e.data, Hex(v.cipher_text));
    EXPECT_EQ(e.tag, Hex(v.tag));
    AeadRun d = Decryption(v);
    ASSERT_TRUE(Decrypt(&d));
    EXPECT_EQ(d.data, Hex(v.plain));
  }
}

// A flipped bit anywhere in what the tag covers, or in the tag or the
// nonce, fails, and what was decrypted is gone.
TEST(AeadTest, AnyFlippedBitFailsAndLeavesNoPlaintext) {
  for (const AeadVector& v : kAeadVectors) {
    SCOPED_TRACE(v.key);
    const AeadRun good = Decryption(v);
    for (Bytes AeadRun::*field : {&AeadRun::data, &AeadRun::tag, &AeadRun::aad, &AeadRun::nonce}) {
      for (size_t bit = 0; bit < (good.*field).size() * 8; bit += kBitFlipStride) {
        AeadRun r = good;
        (r.*field)[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(Decrypt(&r)) << bit;
        EXPECT_EQ(r.data, Bytes(good.data.size(), 0)) << bit;
      }
    }
  }
}

TEST(AeadTest, PublishedForgeryFails) {
  // gcmDecrypt128.rsp, [Keylen = 128] [IVlen = 96] [PTlen = 128]
  // [AADlen = 128] [Taglen = 128], Count = 1: FAIL.
  AeadRun r = {AeadCipher::kAes128Gcm,
               Hex("867fc5d5476d5008f0703d81e3622255"),
               Hex("22945529dff947c3c9264df7"),
               Hex("261a9efd4f32bc3d07c115b4edcf8adf"),
               Hex("1c785025e5a2678e4b29b29276e395bb"),
               Hex("87fdf1261846164a950c37a3f2eea17d")};
  EXPECT_FALSE(Decrypt(&r));
  EXPECT_EQ(r.data, Bytes(16, 0));
}

// A message decrypted as any other cipher (mode, key size, or a value
// outside the enumeration) fails.
TEST(AeadTest, OtherCipherFails) {
  for (const AeadVector& v : kAeadVectors) {
    for (int c = 0; c <= 5; ++c) {
      if (static_cast<AeadCipher>(c) == v.cipher) continue;
      AeadRun r = Decryption(v);
      r.cipher = static_cast<AeadCipher>(c);
      r.key.resize(32);
      r.nonce.resize(12);
      EXPECT_FALSE(Decrypt(&r)) << v.key << " as " << c;
    }
  }
}

TEST(AeadTest, EveryLengthRoundTrips) {
  const Bytes key(32, 0x3c), nonce(12, 7), aad(32, 0xa1);
  for (AeadCipher c : {AeadCipher::kAes128Ccm, AeadCipher::kAes128Gcm, AeadCipher::kAes256Ccm,
                       AeadCipher::kAes256Gcm}) {
    for (size_t size : {1, 15, 16, 17, 33, 1000}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(c) << " " << size);
      AeadRun r = {c, key, nonce, aad, Bytes(size, 0x5c), Bytes(16)};
      ASSERT_TRUE(Encrypt(&r));
      EXPECT_NE(r.data, Bytes(size, 0x5c));
      ASSERT_TRUE(Decrypt(&r));
      EXPECT_EQ(r.data, Bytes(size, 0x5c));
    }
    // No plaintext and no buffer for it: the tag covers the additional data.
    uint8_t tag[16];
    ASSERT_TRUE(AeadEncrypt(c, key.data(), nonce.data(), aad.data(), 32, nullptr, 0, tag));
    EXPECT_TRUE(AeadDecrypt(c, key.data(), nonce.data(), aad.data(), 32, nullptr, 0, tag));
    EXPECT_FALSE(AeadDecrypt(c, key.data(), nonce.data(), aad.data(), 31, nullptr, 0, tag));
  }
}

TEST(AeadTest, MissingBuffersFail) {
  const Bytes key(32, 1), nonce(12, 2), aad(32, 3);
  uint8_t data[8] = {}, tag[16] = {};
  for (AeadCipher c : {AeadCipher::kAes128Ccm, AeadCipher::kAes256Gcm}) {
    EXPECT_FALSE(AeadEncrypt(c, nullptr, nonce.data(), aad.data(), 32, data, 8, tag));
    EXPECT_FALSE(AeadEncrypt(c, key.data(), nullptr, aad.data(), 32, data, 8, tag));
    EXPECT_FALSE(AeadEncrypt(c, key.data(), nonce.data(), nullptr, 32, data, 8, tag));
    EXPECT_FALSE(AeadEncrypt(c, key.data(), nonce.data(), aad.data(), 32, nullptr, 8, tag));
    EXPECT_FALSE(AeadDecrypt(c, key.data(), nonce.data(), aad.data(), 32, nullptr, 8, tag));
    EXPECT_FALSE(AeadDecrypt(c, nullptr, nonce.data(), aad.data(), 32, data, 8, tag));
  }
}

TEST(CryptoTest, WipeBytesZeroes) {
  Bytes b(37, 0xa5);
  WipeBytes(b.data(), b.size());
  EXPECT_EQ(b, Bytes(37, 0));
  WipeBytes(nullptr, 0);
}

TEST(CryptoTest, EqualConstantTime) {
  const Bytes a = kCmacMessage;
  EXPECT_TRUE(EqualConstantTime(a.data(), a.data(), 0));
  EXPECT_TRUE(EqualConstantTime(a.data(), Bytes(a).data(), a.size()));
  for (size_t i = 0; i < a.size(); ++i) {
    Bytes b = a;
    b[i] ^= 0x80;
    EXPECT_FALSE(EqualConstantTime(a.data(), b.data(), a.size())) << i;
  }
}

}  // namespace
}  // namespace net
