#include "net/crypto.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "net/test_bytes.h"

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
