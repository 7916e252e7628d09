// SPDX-License-Identifier: Apache-2.0
#include "auth/spnego.h"

#include <gtest/gtest.h>
#include <stddef.h>

#include <algorithm>
#include <vector>

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

/// `tag`, a DER length (short form, or 0x81 and one byte), `content`.
std::vector<uint8_t> Tlv(uint8_t tag, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out = {tag};
  if (content.size() >= 0x80) out.push_back(0x81);
  out.push_back(static_cast<uint8_t>(content.size()));
  return Concat(out, content);
}

/// A NegTokenResp: negState `state`, supportedMech holding `mech`, and a
/// responseToken when `response` is not empty.
std::vector<uint8_t> Answer(uint8_t state, const std::vector<uint8_t>& mech,
                            const std::vector<uint8_t>& response) {
  std::vector<uint8_t> fields = Concat(Tlv(0xA0, Tlv(0x0A, {state})), Tlv(0xA1, mech));
  if (!response.empty()) fields = Concat(fields, Tlv(0xA2, Tlv(0x04, response)));
  return Tlv(0xA1, Tlv(0x30, fields));
}

// The server's supportedMech must be NTLM's OID, the only one offered,
// byte for byte and of its length: Kerberos's OIDs (9 bytes), NTLM's cut
// short at every length, NTLM's with more after it. Where supportedMech is
// the last field, the rest of NTLM's OID follows the token, so that a
// compare that ran past the field would find it there.
TEST(Spnego, SupportedMechIsNtlmAndNothingElse) {
  const std::vector<uint8_t> ntlm = Hex(kNtlmOidHex), challenge = Hex(kNtlmChallengeHex);
  uint32_t flags = 0;
  ASSERT_TRUE(IsOk(Challenge(Answer(1, ntlm, challenge), &flags)));
  const std::vector<uint8_t> done = Answer(0, ntlm, {});
  ASSERT_TRUE(IsOk(DecodeSpnegoFinal(done.data(), done.size())));
  std::vector<std::vector<uint8_t>> others = {
      Hex("06 09 2A 86 48 86 F7 12 01 02 02"),  // Kerberos 5
      Hex("06 09 2A 86 48 82 F7 12 01 02 02"),  // Kerberos 5, the older number
  };
  for (size_t n = 0; n < ntlm.size(); ++n) others.push_back(Prefix(ntlm, n));
  for (size_t more = 1; more <= 4; ++more) {
    others.push_back(Concat(ntlm, std::vector<uint8_t>(more, 0x0A)));
  }
  for (const std::vector<uint8_t>& mech : others) {
    EXPECT_EQ(Challenge(Answer(1, mech, challenge), &flags).kind, StatusKind::kMalformed)
        << mech.size();
    std::vector<uint8_t> rest(
        ntlm.begin() + static_cast<ptrdiff_t>(std::min(mech.size(), ntlm.size())), ntlm.end());
    std::vector<uint8_t> final_token = Concat(Answer(0, mech, {}), rest);
    EXPECT_EQ(DecodeSpnegoFinal(final_token.data(), final_token.size()).kind,
              StatusKind::kMalformed)
        << mech.size();
  }
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
