// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_signing.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "base/crypto.h"
#include "testing/test_bytes.h"

namespace net {
namespace {

using Bytes = std::vector<uint8_t>;

// Known answers copied from protocol-auth.md section 7 (Samba 4.17 captures;
// each checked there with libgcrypt and here again, before use, with an
// independent implementation).
// protocol-auth.md 7.1
constexpr char kNegotiateRequest[] =
    "fe534d42 40000000 00000000 00004000 00000000 00000000 00000000 00000000"
    "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000"
    "24000500 01000000 40000000 248f87ad 39b1c907 170f1fae 13af9db7 70000000"
    "03000000 02021002 00030203 11030000 01002600 00000000 01002000 01000fea"
    "6a21afd9 448c0e9c 00ac883b 42f4a1e7 6eae9a5f 5546f93c d9eb5621 8df50000"
    "02000600 00000000 02000200 01000000 08000600 00000000 02000200 0100";
constexpr char kNegotiateResponse[] =
    "fe534d42 40000000 00000000 00000100 01000000 00000000 00000000 00000000"
    "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000"
    "41000100 11030300 6d656d62 65723100 00000000 00000000 07000000 00008000"
    "00008000 00008000 2c6c9b98 ff86dd01 00000000 00000000 80006000 e0000000"
    "605e0606 2b060105 0502a054 3052a024 30220609 2a864882 f7120102 0206092a"
    "864886f7 12010202 060a2b06 01040182 3702020a a32a3028 a0261b24 6e6f745f"
    "64656669 6e65645f 696e5f52 46433431 37384070 6c656173 655f6967 6e6f7265"
    "01002600 00000000 01002000 01008622 7750e460 1a3bb190 f493ec2b 54b0543e"
    "3d29f363 294b55ac 24e143a3 c6c00000 02000400 00000000 01000200 00000000"
    "08000400 00000000 01000200";
constexpr char kPreauthH1[] =
    "0f49bc24 e13d7b90 abd087f7 e0d443a0 b730a35d 3d91aca6 2805e533 baaf4ac6"
    "24c1f6ed a0bd3a79 2dc78ab9 952f502f 6b5fc578 d8b3609b 2952d54c 12597928";
constexpr char kPreauthH2[] =
    "3ad74d4b 6a4f5144 ff0f043f 271064c5 0c489c63 ec6fa766 86e3a95d d90f6eb7"
    "77bf28a2 92942665 3988783d dc998957 20126c5a cbcd5f31 9f6b1b86 7f1e5f81";
constexpr char kPreauthH3[] =
    "ec882e8e a653f220 79f250d4 569d2741 6595ae8a 41c37e5d 2daa9c82 8d6760b9"
    "ac1d93dd 06a19f98 66ecd02b 675b1bba 503903af 69de213f 2d24d211 69f437c5";
constexpr char kSessionKey311[] =
    "fdfdaa54 e5b006b3 1bbc1aee f535b576 cd3111ba 2e0e795d 68e8b2ec 607c1b8f";
constexpr char kSigningKey311[] = "b3d43723 88138a83 b72832ee 25cb8286";
constexpr char kFinalResponse311[] =
    "fe534d42 40000100 00000000 01004000 09000000 00000000 01000000 00000000"
    "00000000 00000000 67b0734c 00000000 6ba3f74d 5a9e126c 81c5ccad f6027f12"
    "09000000 4800ba00 a181b730 81b4a003 0a0100a1 0b06092a 864886f7 12010202"
    "a2819f04 819c6081 9906092a 864886f7 12010202 02006f81 89308186 a0030201"
    "05a10302 010fa27a 3078a003 020112a2 71046f1f a4694da4 03fd0038 1a2a2e06"
    "8a74c097 eb99c757 f3235661 deee4ccb ba010e17 361d1c65 ab7113af 16e0adbe"
    "2d32e218 bcc20d82 3d61b84b 6ebdacac 07a6e735 c983eaee 8a344cd4 d9c93c82"
    "8ad7ab0e b2cbc712 ba16860c 15afa702 21681a61 1592ae86 9b10b024 311679a1"
    "7819";
constexpr char kSignedRequest311[] =
    "fe534d42 40000100 00000000 03004000 08000000 00000000 02000000 00000000"
    "00000000 00000000 67b0734c 00000000 f97238e5 341a8a82 b6073f94 16548132"
    "09000000 48003200 5c005c00 6d006500 6d006200 65007200 31002e00 73006100"
    "6c006500 73002e00 74006500 73007400 5c004900 50004300 2400";
// protocol-auth.md 7.2
constexpr char kSessionKey302[] = "a34d5252 b8fe8d63 e948236c 64d60ba6";
constexpr char kSigningKey302[] = "bea69af1 21db4ae2 39072458 30fa3dd8";
constexpr char kFinalResponse302[] =
    "fe534d42 40000100 00000000 01004000 09000000 00000000 02000000 00000000"
    "00000000 00000000 c0311f7a 00000000 0c6686c3 b6b73e57 bef91a3b 6e5af3cc"
    "09000000 48001d00 a11b3019 a0030a01 00a31204 10010000 00db8fa7 9e57dea9"
    "80000000 00";
constexpr char kSignedRequest302[] =
    "fe534d42 40000100 00000000 03004000 08000000 00000000 03000000 00000000"
    "00000000 00000000 c0311f7a 00000000 d6e8719f c6330936 17be4ac9 52d62475"
    "09000000 48003200 5c005c00 6d006500 6d006200 65007200 31002e00 73006100"
    "6c006500 73002e00 74006500 73007400 5c004900 50004300 2400";
constexpr char kVniResponse302[] =
    "fe534d42 40000100 00000000 0b004000 09000000 00000000 04000000 00000000"
    "00000000 e7224290 c0311f7a 00000000 eb41778d f810ebad bdedb3d9 2d4bc419"
    "31000000 04021400 ffffffff ffffffff ffffffff ffffffff 70000000 00000000"
    "70000000 18000000 00000000 00000000 47000000 6d656d62 65723100 00000000"
    "00000000 01000203";
// protocol-auth.md 7.3
constexpr char kSessionKey21[] = "f09bf020 cae3bee6 e8d426c2 5b69e492";
constexpr char kFinalResponse21[] =
    "fe534d42 40000100 00000000 01004000 09000000 00000000 02000000 00000000"
    "00000000 00000000 fcb13bd5 00000000 b91945d6 228e462c 20c18b4d cc87129d"
    "09000000 48001d00 a11b3019 a0030a01 00a31204 10010000 00f7b73a 7ad85a67"
    "90000000 00";
constexpr char kSignedRequest21[] =
    "fe534d42 40000100 00000000 03004000 08000000 00000000 03000000 00000000"
    "00000000 00000000 fcb13bd5 00000000 7d305e8d f69a9813 73b142f3 00eaa4e2"
    "09000000 48003200 5c005c00 6d006500 6d006200 65007200 31002e00 73006100"
    "6c006500 73002e00 74006500 73007400 5c004900 50004300 2400";

constexpr size_t kFlagsOffset = 16;
constexpr size_t kCommandOffset = 12;

Smb2SigningKey KeyOf(SigningAlgorithm algorithm, const Bytes& bytes) {
  Smb2SigningKey key;
  key.algorithm = algorithm;
  EXPECT_EQ(bytes.size(), sizeof key.key);
  memcpy(key.key, bytes.data(), sizeof key.key);
  return key;
}

Bytes KeyBytes(const Smb2SigningKey& key) { return Bytes(key.key, key.key + sizeof key.key); }

PreauthHash HashOf(const Bytes& value) {
  PreauthHash h;
  EXPECT_EQ(value.size(), sizeof h.value);
  memcpy(h.value, value.data(), sizeof h.value);
  return h;
}

Bytes WithSignature(Bytes message, const Bytes& signature) {
  memcpy(message.data() + kSmb2SignatureOffset, signature.data(), 16);
  return message;
}

Bytes SignatureOf(const Bytes& message) {
  return Bytes(message.begin() + kSmb2SignatureOffset, message.begin() + kSmb2SignatureOffset + 16);
}

/// The AES-GMAC of a message with its Signature zeroed under a nonce of our
/// choosing: MessageId from the header, then `role`.
Bytes GmacWithRole(const Smb2SigningKey& key, const Bytes& message, uint8_t role) {
  const Bytes zeroed = WithSignature(message, Bytes(16, 0));
  uint8_t nonce[12] = {};
  memcpy(nonce, message.data() + 24, 8);
  nonce[8] = role;
  const ByteRange part = {zeroed.data(), zeroed.size()};
  Bytes out(16);
  EXPECT_TRUE(AesGmac128(key.key, nonce, &part, 1, out.data()));
  return out;
}

TEST(PreauthHashTest, H1AndH2FromTheNegotiateExchange) {
  PreauthHash h;
  EXPECT_EQ(Bytes(h.value, h.value + 64), Bytes(64, 0));
  const Bytes request = Hex(kNegotiateRequest), response = Hex(kNegotiateResponse);
  ASSERT_TRUE(UpdatePreauthHash(&h, request.data(), request.size()));
  EXPECT_EQ(Bytes(h.value, h.value + 64), Hex(kPreauthH1));
  ASSERT_TRUE(UpdatePreauthHash(&h, response.data(), response.size()));
  EXPECT_EQ(Bytes(h.value, h.value + 64), Hex(kPreauthH2));
}

TEST(SigningKeyTest, Smb311UsesTheFirst16BytesOfAKerberosKey) {
  const Bytes k = Hex(kSessionKey311);
  ASSERT_EQ(k.size(), 32u);
  const PreauthHash h3 = HashOf(Hex(kPreauthH3));
  Smb2SigningKey key;
  ASSERT_TRUE(DeriveSigningKey(0x0311, SigningAlgorithm::kAesGmac, k.data(), k.size(), h3, &key));
  EXPECT_EQ(key.algorithm, SigningAlgorithm::kAesGmac);
  EXPECT_EQ(KeyBytes(key), Hex(kSigningKey311));
  Smb2SigningKey from_k16;
  ASSERT_TRUE(DeriveSigningKey(0x0311, SigningAlgorithm::kAesGmac, k.data(), 16, h3, &from_k16));
  EXPECT_EQ(KeyBytes(from_k16), Hex(kSigningKey311));
  // Ki = all 32 bytes would be another key (protocol-auth.md 3.5).
  static const uint8_t kLabel[] = "SMBSigningKey";
  uint8_t whole[16];
  ASSERT_TRUE(Sp800108Kdf(k.data(), k.size(), kLabel, sizeof kLabel, h3.value, 64, whole, 16));
  EXPECT_NE(Bytes(whole, whole + 16), Hex(kSigningKey311));
}

TEST(SigningKeyTest, Smb311KeyIsTheSameForEveryAlgorithm) {
  const Bytes k = Hex(kSessionKey311);
  const PreauthHash h3 = HashOf(Hex(kPreauthH3));
  for (SigningAlgorithm a : {SigningAlgorithm::kHmacSha256, SigningAlgorithm::kAesCmac}) {
    Smb2SigningKey key;
    ASSERT_TRUE(DeriveSigningKey(0x0311, a, k.data(), k.size(), h3, &key));
    EXPECT_EQ(key.algorithm, a);
    EXPECT_EQ(KeyBytes(key), Hex(kSigningKey311));
  }
  Smb2SigningKey key;
  EXPECT_FALSE(
      DeriveSigningKey(0x0311, static_cast<SigningAlgorithm>(3), k.data(), k.size(), h3, &key));
}

TEST(SigningKeyTest, Smb30xIsAesCmacUnderTheDerivedKey) {
  const Bytes k = Hex(kSessionKey302);
  for (uint16_t dialect : {0x0300, 0x0302}) {
    Smb2SigningKey key;
    ASSERT_TRUE(DeriveSigningKey(dialect, SigningAlgorithm::kAesGmac, k.data(), k.size(),
                                 PreauthHash(), &key));
    EXPECT_EQ(key.algorithm, SigningAlgorithm::kAesCmac);
    EXPECT_EQ(KeyBytes(key), Hex(kSigningKey302));
  }
}

TEST(SigningKeyTest, Smb2xIsHmacSha256UnderK16) {
  const Bytes k = Hex(kSessionKey311);  // 32 bytes: only the first 16 count
  for (uint16_t dialect : {0x0202, 0x0210}) {
    Smb2SigningKey key;
    ASSERT_TRUE(DeriveSigningKey(dialect, SigningAlgorithm::kAesGmac, k.data(), k.size(),
                                 PreauthHash(), &key));
    EXPECT_EQ(key.algorithm, SigningAlgorithm::kHmacSha256);
    EXPECT_EQ(KeyBytes(key), Prefix(k, 16));
  }
}

TEST(SigningKeyTest, ShortKeyIsPaddedWithZeros) {
  const Bytes k = Hex("0102030405");
  const Bytes padded = Concat(k, Bytes(11, 0));
  Smb2SigningKey key, from_padded;
  ASSERT_TRUE(DeriveSigningKey(0x0210, SigningAlgorithm::kHmacSha256, k.data(), k.size(),
                               PreauthHash(), &key));
  EXPECT_EQ(KeyBytes(key), padded);
  ASSERT_TRUE(DeriveSigningKey(0x0302, SigningAlgorithm::kAesCmac, k.data(), k.size(),
                               PreauthHash(), &key));
  ASSERT_TRUE(DeriveSigningKey(0x0302, SigningAlgorithm::kAesCmac, padded.data(), padded.size(),
                               PreauthHash(), &from_padded));
  EXPECT_EQ(KeyBytes(key), KeyBytes(from_padded));
  ASSERT_TRUE(
      DeriveSigningKey(0x0210, SigningAlgorithm::kHmacSha256, nullptr, 0, PreauthHash(), &key));
  EXPECT_EQ(KeyBytes(key), Bytes(16, 0));
}

TEST(SigningKeyTest, OtherDialectsFailAndLeaveTheKeyAlone) {
  const Bytes k = Hex(kSessionKey302);
  for (uint16_t dialect : {0x0000, 0x0201, 0x02FF, 0x0301, 0x0310, 0x0312, 0xFFFF}) {
    Smb2SigningKey key = KeyOf(SigningAlgorithm::kAesGmac, Bytes(16, 0xee));
    EXPECT_FALSE(DeriveSigningKey(dialect, SigningAlgorithm::kAesCmac, k.data(), k.size(),
                                  PreauthHash(), &key))
        << dialect;
    EXPECT_EQ(KeyBytes(key), Bytes(16, 0xee));
  }
}

TEST(SigningKeyTest, WipeSigningKeyZeroes) {
  Smb2SigningKey key = KeyOf(SigningAlgorithm::kAesCmac, Bytes(16, 0x77));
  WipeSigningKey(&key);
  EXPECT_EQ(KeyBytes(key), Bytes(16, 0));
}

/// One of the three dialect examples of protocol-auth.md 7.
struct SigningExample {
  const char* name;
  Smb2SigningKey key;
  std::vector<Bytes> signed_messages;  // as received or sent, each verifies
  Bytes request;                       // the one we re-sign
};

std::vector<SigningExample> Examples() {
  return {
      {"3.1.1 AES-GMAC",
       KeyOf(SigningAlgorithm::kAesGmac, Hex(kSigningKey311)),
       {Hex(kFinalResponse311), Hex(kSignedRequest311)},
       Hex(kSignedRequest311)},
      {"3.0.2 AES-CMAC",
       KeyOf(SigningAlgorithm::kAesCmac, Hex(kSigningKey302)),
       {Hex(kFinalResponse302), Hex(kSignedRequest302), Hex(kVniResponse302)},
       Hex(kSignedRequest302)},
      {"2.1 HMAC-SHA256",
       KeyOf(SigningAlgorithm::kHmacSha256, Hex(kSessionKey21)),
       {Hex(kFinalResponse21), Hex(kSignedRequest21)},
       Hex(kSignedRequest21)},
  };
}

TEST(Smb2SigningTest, CapturedMessagesVerify) {
  for (const SigningExample& e : Examples()) {
    for (const Bytes& m : e.signed_messages) {
      const Bytes before = m;
      EXPECT_TRUE(VerifySmb2Message(e.key, m.data(), m.size())) << e.name << " " << m.size();
      EXPECT_EQ(m, before);
    }
  }
}

TEST(Smb2SigningTest, SignReproducesTheCapturedSignature) {
  for (const SigningExample& e : Examples()) {
    SCOPED_TRACE(e.name);
    Bytes m = WithSignature(e.request, Bytes(16, 0));
    ASSERT_TRUE(SignSmb2Message(e.key, m.data(), m.size()));
    EXPECT_EQ(m, e.request);
    // A stale Signature and a clear SIGNED flag make no difference.
    m = WithSignature(e.request, Bytes(16, 0xa5));
    m[kFlagsOffset] &= static_cast<uint8_t>(~kSmb2FlagSigned);
    ASSERT_TRUE(SignSmb2Message(e.key, m.data(), m.size()));
    EXPECT_EQ(m, e.request);
  }
}

TEST(Smb2SigningTest, AnySingleBitFlipFails) {
  for (const SigningExample& e : Examples()) {
    for (const Bytes& m : e.signed_messages) {
      size_t accepted = 0, first = 0;
      for (size_t bit = 0; bit < m.size() * 8; ++bit) {
        Bytes flipped = m;
        flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        if (VerifySmb2Message(e.key, flipped.data(), flipped.size()) && accepted++ == 0) {
          first = bit;
        }
      }
      EXPECT_EQ(accepted, 0u) << e.name << ", message of " << m.size() << " bytes, bit " << first;
    }
  }
}

TEST(Smb2SigningTest, WrongKeyFails) {
  for (const SigningExample& e : Examples()) {
    Smb2SigningKey key = e.key;
    key.key[15] ^= 1;
    EXPECT_FALSE(VerifySmb2Message(key, e.request.data(), e.request.size())) << e.name;
  }
}

TEST(Smb2SigningTest, UnsignedFlagFailsEvenWithTheRightMac) {
  // Like an interim STATUS_PENDING: a valid-looking Signature, flag clear.
  const Smb2SigningKey key = KeyOf(SigningAlgorithm::kHmacSha256, Hex(kSessionKey21));
  Bytes m = WithSignature(Hex(kSignedRequest21), Bytes(16, 0));
  m[kFlagsOffset] &= static_cast<uint8_t>(~kSmb2FlagSigned);
  uint8_t mac[32];
  const ByteRange part = {m.data(), m.size()};
  ASSERT_TRUE(HmacSha256(key.key, 16, &part, 1, mac));
  m = WithSignature(m, Bytes(mac, mac + 16));
  EXPECT_FALSE(VerifySmb2Message(key, m.data(), m.size()));
}

TEST(Smb2SigningTest, ShorterThanAHeaderFails) {
  for (const SigningExample& e : Examples()) {
    for (size_t n = 0; n < 64; ++n) {
      Bytes m = Prefix(e.request, n);
      const Bytes before = m;
      EXPECT_FALSE(VerifySmb2Message(e.key, m.data(), m.size())) << e.name << " " << n;
      EXPECT_FALSE(SignSmb2Message(e.key, m.data(), m.size())) << e.name << " " << n;
      EXPECT_EQ(m, before);
    }
    EXPECT_FALSE(VerifySmb2Message(e.key, nullptr, 0));
    EXPECT_FALSE(SignSmb2Message(e.key, nullptr, 0));
  }
}

TEST(Smb2SigningTest, HeaderOnlyMessageSignsAndVerifies) {
  for (const SigningExample& e : Examples()) {
    Bytes m = Prefix(e.request, 64);
    ASSERT_TRUE(SignSmb2Message(e.key, m.data(), m.size())) << e.name;
    EXPECT_TRUE(VerifySmb2Message(e.key, m.data(), m.size())) << e.name;
    EXPECT_NE(SignatureOf(m), SignatureOf(e.request)) << e.name;
  }
}

TEST(Smb2SigningTest, CompoundMemberCoversItsBytesOnly) {
  for (const SigningExample& e : Examples()) {
    SCOPED_TRACE(e.name);
    // A member with 6 bytes of padding, followed by the next member.
    Bytes frame = Concat(Concat(e.request, Bytes(6, 0)), Hex("fe534d42 40000000"));
    const size_t member = e.request.size() + 6;
    ASSERT_TRUE(SignSmb2Message(e.key, frame.data(), member));
    EXPECT_TRUE(VerifySmb2Message(e.key, frame.data(), member));
    frame.back() ^= 1;  // the next member is not ours
    EXPECT_TRUE(VerifySmb2Message(e.key, frame.data(), member));
    EXPECT_FALSE(VerifySmb2Message(e.key, frame.data(), e.request.size()));
    frame[member - 1] ^= 1;  // the padding is
    EXPECT_FALSE(VerifySmb2Message(e.key, frame.data(), member));
  }
}

TEST(Smb2SigningTest, UnknownAlgorithmFailsWithoutTouchingTheMessage) {
  const Smb2SigningKey key = KeyOf(static_cast<SigningAlgorithm>(7), Hex(kSigningKey302));
  Bytes m = WithSignature(Hex(kSignedRequest302), Bytes(16, 0));
  m[kFlagsOffset] = 0;
  const Bytes before = m;
  EXPECT_FALSE(SignSmb2Message(key, m.data(), m.size()));
  EXPECT_EQ(m, before);
  const Bytes good = Hex(kSignedRequest302);
  EXPECT_FALSE(VerifySmb2Message(key, good.data(), good.size()));
}

// The nonce's role bits: bit 0 for the server's messages, bit 1 for CANCEL.
TEST(Smb2SigningTest, GmacNonceCarriesTheSenderAndCancel) {
  const Smb2SigningKey key = KeyOf(SigningAlgorithm::kAesGmac, Hex(kSigningKey311));
  const Bytes request = Hex(kSignedRequest311), response = Hex(kFinalResponse311);
  EXPECT_EQ(SignatureOf(request), GmacWithRole(key, request, 0));
  EXPECT_NE(SignatureOf(request), GmacWithRole(key, request, 1));
  EXPECT_NE(SignatureOf(request), GmacWithRole(key, request, 2));
  EXPECT_EQ(SignatureOf(response), GmacWithRole(key, response, 1));
  EXPECT_NE(SignatureOf(response), GmacWithRole(key, response, 0));

  // A request signed as a response (the flag set while signing) does not
  // verify as the request.
  Bytes as_response = request;
  as_response[kFlagsOffset] |= 0x1;
  ASSERT_TRUE(SignSmb2Message(key, as_response.data(), as_response.size()));
  as_response[kFlagsOffset] &= static_cast<uint8_t>(~0x1);
  EXPECT_FALSE(VerifySmb2Message(key, as_response.data(), as_response.size()));

  // SMB2 CANCEL (MS-SMB2 2.2.30): the header and StructureSize 4, Reserved.
  Bytes cancel = Concat(Prefix(request, 64), Hex("0400 0000"));
  cancel[kCommandOffset] = 0x0C;
  ASSERT_TRUE(SignSmb2Message(key, cancel.data(), cancel.size()));
  EXPECT_TRUE(VerifySmb2Message(key, cancel.data(), cancel.size()));
  EXPECT_EQ(SignatureOf(cancel), GmacWithRole(key, cancel, 2));
  EXPECT_NE(SignatureOf(cancel), GmacWithRole(key, cancel, 0));
  cancel[kCommandOffset + 1] = 0x01;  // command 0x010C is not CANCEL
  ASSERT_TRUE(SignSmb2Message(key, cancel.data(), cancel.size()));
  EXPECT_EQ(SignatureOf(cancel), GmacWithRole(key, cancel, 0));
}

}  // namespace
}  // namespace net
