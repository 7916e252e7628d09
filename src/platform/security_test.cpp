// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <vector>

#include "platform/win32_api.h"

namespace {

// Raw record bytes: revision, count, six authority bytes, then room for the
// sub-authorities.
std::vector<DWORD> Record(BYTE revision, BYTE count) {
  std::vector<DWORD> words(2 + count, 0);
  BYTE* bytes = reinterpret_cast<BYTE*>(words.data());
  bytes[0] = revision;
  bytes[1] = count;
  return words;
}

TEST(Security, IsValidSidChecksRevisionAndCount) {
  EXPECT_FALSE(IsValidSid(NULL));
  EXPECT_FALSE(IsValidSid(Record(0, 1).data()));
  EXPECT_TRUE(IsValidSid(Record(1, 0).data()));
  EXPECT_TRUE(IsValidSid(Record(1, 15).data()));
  EXPECT_FALSE(IsValidSid(Record(1, 16).data()));
  EXPECT_FALSE(IsValidSid(Record(1, 255).data()));
  EXPECT_FALSE(IsValidSid(Record(2, 1).data()));
}

TEST(Security, AccessorsPointIntoTheRecord) {
  std::vector<DWORD> words = Record(1, 15);
  BYTE* base = reinterpret_cast<BYTE*>(words.data());
  for (DWORD i = 0; i < 15; ++i) words[2 + i] = 1000 + i;

  EXPECT_EQ(reinterpret_cast<BYTE*>(GetSidSubAuthorityCount(words.data())), base + 1);
  EXPECT_EQ(*GetSidSubAuthorityCount(words.data()), 15);
  EXPECT_EQ(reinterpret_cast<BYTE*>(GetSidIdentifierAuthority(words.data())), base + 2);
  for (DWORD i = 0; i < 15; ++i) {
    PDWORD sub = GetSidSubAuthority(words.data(), i);
    EXPECT_EQ(reinterpret_cast<BYTE*>(sub), base + 8 + 4 * i);
    EXPECT_EQ(*sub, 1000 + i);
  }

  // The layout the accessors rely on.
  static_assert(sizeof(SID_IDENTIFIER_AUTHORITY) == 6, "six authority bytes");
  static_assert(offsetof(SID, SubAuthority) == 8, "sub-authorities after 8 bytes");
}

}  // namespace
