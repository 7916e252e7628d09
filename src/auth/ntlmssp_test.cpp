// SPDX-License-Identifier: Apache-2.0
#include "auth/ntlmssp.h"

#include <gtest/gtest.h>

#include "testing/test_bytes.h"
#include "base/wire.h"

namespace net {
namespace {

const char kNegotiateHex[] =
    "4E 54 4C 4D 53 53 50 00 01 00 00 00 05 82 08 A2 00 00 00 00 28 00 00 00"
    "00 00 00 00 28 00 00 00 0A 00 61 4A 00 00 00 0F";

std::vector<uint8_t> Authenticate(uint32_t challenge_flags) {
  std::vector<uint8_t> out;
  EncodeNtlmAnonymousAuthenticate(challenge_flags, &out);
  return out;
}

uint32_t FlagsOf(const std::vector<uint8_t>& auth) {
  WireReader r = MakeReader(auth.data(), auth.size());
  (void)Seek(r, 60);
  return ReadU32(r);
}

Status Decode(const std::vector<uint8_t>& msg, uint32_t* flags) {
  return DecodeNtlmChallenge(msg.data(), msg.size(), flags);
}

TEST(Ntlmssp, NegotiateIsTheGoldenMessage) {
  std::vector<uint8_t> out;
  EncodeNtlmNegotiate(&out);
  EXPECT_EQ(out, Hex(kNegotiateHex));
}

TEST(Ntlmssp, AnonymousAuthenticateIsTheGoldenMessage) {
  std::vector<uint8_t> expected =
      Hex("4E 54 4C 4D 53 53 50 00 03 00 00 00"
          "00 00 00 00 58 00 00 00 00 00 00 00 58 00 00 00 00 00 00 00 58 00 00 00"
          "00 00 00 00 58 00 00 00 00 00 00 00 58 00 00 00 00 00 00 00 58 00 00 00"
          "05 8A 08 A2 0A 00 61 4A 00 00 00 0F"
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(Authenticate(0xA28A8205), expected);
}

TEST(Ntlmssp, AuthenticateFlagsFollowTheChallenge) {
  // KEY_EXCH offered by the server is never taken up: there is no key to send.
  EXPECT_EQ(FlagsOf(Authenticate(0xE28A8215)), 0xA2088A05u);
  // Without VERSION the field stays, zeroed, so the layout does not move.
  std::vector<uint8_t> no_version = Authenticate(0x00000201);
  ASSERT_EQ(no_version.size(), 88u);
  EXPECT_EQ(FlagsOf(no_version), 0x00000A01u);
  EXPECT_EQ(std::vector<uint8_t>(no_version.begin() + 64, no_version.end()),
            std::vector<uint8_t>(24));
}

TEST(Ntlmssp, ChallengeYieldsItsFlags) {
  uint32_t flags = 0;
  ASSERT_TRUE(IsOk(Decode(Hex(kNtlmChallengeHex), &flags)));
  EXPECT_EQ(flags, 0xA28A8205u);
}

TEST(Ntlmssp, BrokenChallengesAreMalformed) {
  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"signature", 0, {'X'}},
      {"message type", 8, {3}},
      {"target name past the end", 16, {0x80, 0x00}},
      {"target name offset wraps", 12, {0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"target info one byte too long", 40, {0x41}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> msg = Hex(kNtlmChallengeHex);
    std::copy(c.bytes.begin(), c.bytes.end(), msg.begin() + c.offset);
    uint32_t flags = 0x12345678;
    EXPECT_EQ(Decode(msg, &flags).kind, StatusKind::kMalformed) << c.what;
    EXPECT_EQ(flags, 0x12345678u) << c.what;
  }
}

TEST(Ntlmssp, TruncatedChallengeFailsCleanly) {
  std::vector<uint8_t> msg = Hex(kNtlmChallengeHex);
  for (size_t n = 0; n < msg.size(); ++n) {
    std::vector<uint8_t> cut = Prefix(msg, n);
    uint32_t flags = 0;
    EXPECT_EQ(DecodeNtlmChallenge(cut.data(), n, &flags).kind, StatusKind::kMalformed) << n;
  }
}

}  // namespace
}  // namespace net
