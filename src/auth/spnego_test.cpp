// SPDX-License-Identifier: Apache-2.0
#include "auth/spnego.h"

#include <gtest/gtest.h>

#include "auth/ntlmssp.h"
#include "testing/test_bytes.h"

namespace net {
namespace {

const char kNtlmOidHex[] = "06 0A 2B 06 01 04 01 82 37 02 02 0A";

/// The server's answer to leg 1 around `challenge`, with negState `state`.
std::vector<uint8_t> ChallengeToken(uint8_t state, const std::vector<uint8_t>& challenge) {
  // Lengths for the 134-byte CHALLENGE: A1 81 A2 30 81 9F ... A2 81 89 04 81 86.
  std::vector<uint8_t> token = Hex("A1 81 A2 30 81 9F A0 03 0A 01 01 A1 0C");
  token[10] = state;
  token = Concat(token, Hex(kNtlmOidHex));
  token = Concat(token, Hex("A2 81 89 04 81 86"));
  return Concat(token, challenge);
}

Status Challenge(const std::vector<uint8_t>& token, uint32_t* flags) {
  return DecodeSpnegoChallenge(token.data(), token.size(), flags);
}

Status Final(const char* hex) {
  std::vector<uint8_t> token = Hex(hex);
  return DecodeSpnegoFinal(token.data(), token.size());
}

TEST(Spnego, InitIsTheGoldenToken) {
  std::vector<uint8_t> negotiate, token;
  EncodeNtlmNegotiate(&negotiate);
  EncodeSpnegoInit(&token);
  std::vector<uint8_t> expected =
      Hex("60 48 06 06 2B 06 01 05 05 02 A0 3E 30 3C A0 0E 30 0C 06 0A 2B 06 01 04 01 82 37 02"
          "02 0A A2 2A 04 28");
  EXPECT_EQ(token, Concat(expected, negotiate));
}

TEST(Spnego, AnonymousAuthIsTheGoldenToken) {
  std::vector<uint8_t> authenticate, token;
  EncodeNtlmAnonymousAuthenticate(0xA28A8205, &authenticate);
  EncodeSpnegoAnonymousAuth(0xA28A8205, &token);
  EXPECT_EQ(token, Concat(Hex("A1 5E 30 5C A2 5A 04 58"), authenticate));
}

TEST(Spnego, ChallengeYieldsTheNtlmFlags) {
  uint32_t flags = 0;
  ASSERT_TRUE(IsOk(Challenge(ChallengeToken(1, Hex(kNtlmChallengeHex)), &flags)));
  EXPECT_EQ(flags, 0xA28A8205u);
  // The same token with two-byte long-form lengths throughout the outer frame.
  std::vector<uint8_t> long_form =
      Concat(Hex("A1 82 00 A3 30 82 00 9F A0 03 0A 01 01 A1 0C"), Hex(kNtlmOidHex));
  long_form = Concat(long_form, Hex("A2 81 89 04 81 86"));
  EXPECT_TRUE(IsOk(Challenge(Concat(long_form, Hex(kNtlmChallengeHex)), &flags)));
}

TEST(Spnego, ChallengeRejectionsAndBreakage) {
  uint32_t flags = 0;
  std::vector<uint8_t> challenge = Hex(kNtlmChallengeHex);
  Status reject = Challenge(ChallengeToken(2, challenge), &flags);
  EXPECT_EQ(reject.kind, StatusKind::kNtStatus);
  EXPECT_EQ(reject.code, 0xC000006Du);
  EXPECT_EQ(Challenge(ChallengeToken(0, challenge), &flags).kind, StatusKind::kMalformed);

  std::vector<uint8_t> kerberos = ChallengeToken(1, challenge);
  kerberos[24] = 0x03;  // last byte of the mechanism OID
  EXPECT_EQ(Challenge(kerberos, &flags).kind, StatusKind::kMalformed);
  // negState and supportedMech only: no CHALLENGE to read.
  std::vector<uint8_t> no_token = Concat(Hex("A1 15 30 13 A0 03 0A 01 01 A1 0C"), Hex(kNtlmOidHex));
  EXPECT_EQ(Challenge(no_token, &flags).kind, StatusKind::kMalformed);
}

TEST(Spnego, DerLengthsAreBounded) {
  uint32_t flags = 0;
  const char* broken[] = {
      "A1 81 FF 30 00",                 // outer length past the buffer
      "A1 80 30 00 00 00",              // indefinite form is not DER
      "A1 84 00 00 00 02 30 00",        // more length bytes than we take
      "A1 02 30 05 A0 03 0A 01 01",     // inner length past its parent
      "A1 05 30 03 A0 01 0A",           // element cut inside a field
      "A1 08 30 06 A0 04 0A 02 01 01",  // negState of two bytes
      "A1 06 30 04 A4 02 05 00",        // unknown field
  };
  for (const char* hex : broken) {
    std::vector<uint8_t> token = Hex(hex);
    EXPECT_EQ(Challenge(token, &flags).kind, StatusKind::kMalformed) << hex;
    EXPECT_EQ(DecodeSpnegoFinal(token.data(), token.size()).kind, StatusKind::kMalformed) << hex;
  }
}

TEST(Spnego, FinalToken) {
  EXPECT_TRUE(IsOk(Final("A1 07 30 05 A0 03 0A 01 00")));
  EXPECT_TRUE(IsOk(Final("")));
  EXPECT_TRUE(IsOk(Final("A1 02 30 00")));  // negState may be left out once done
  EXPECT_TRUE(
      IsOk(Final("A1 0D 30 0B A0 03 0A 01 00 A3 04 04 02 AB CD")));  // a MIC we cannot check
  EXPECT_EQ(Final("A1 07 30 05 A0 03 0A 01 02").code, 0xC000006Du);
  EXPECT_EQ(Final("A1 07 30 05 A0 03 0A 01 03").code, 0xC000006Du);  // request-mic
  EXPECT_EQ(Final("A1 07 30 05 A0 03 0A 01 01").kind, StatusKind::kMalformed);
}

TEST(Spnego, TruncatedTokensFailCleanly) {
  std::vector<uint8_t> challenge = ChallengeToken(1, Hex(kNtlmChallengeHex));
  for (size_t n = 0; n < challenge.size(); ++n) {
    std::vector<uint8_t> cut = Prefix(challenge, n);
    uint32_t flags = 0;
    EXPECT_FALSE(IsOk(DecodeSpnegoChallenge(cut.data(), n, &flags))) << n;
  }
  std::vector<uint8_t> final_token = Hex("A1 07 30 05 A0 03 0A 01 00");
  for (size_t n = 1; n < final_token.size(); ++n) {  // 0 bytes: no token, which is fine
    std::vector<uint8_t> cut = Prefix(final_token, n);
    EXPECT_FALSE(IsOk(DecodeSpnegoFinal(cut.data(), n))) << n;
  }
}

}  // namespace
}  // namespace net
