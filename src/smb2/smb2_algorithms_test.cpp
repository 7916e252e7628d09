// SPDX-License-Identifier: Apache-2.0
// The table's rows against their primitives: a row added without a working
// primitive, or twice, shows here rather than on a server.
#include "smb2/smb2_algorithms.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "smb2/smb2_header.h"

namespace net {
namespace {

TEST(Smb2Algorithms, EveryCipherRowHasAWorkingPrimitive) {
  size_t count = 0;
  const CipherRow* table = CipherTable(&count);
  std::set<uint16_t> ids;
  std::set<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    const CipherRow& row = table[i];
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(ids.insert(static_cast<uint16_t>(row.id)).second);
    EXPECT_TRUE(names.insert(row.name).second);
    EXPECT_EQ(FindCipher(static_cast<uint16_t>(row.id)), &row);
    EXPECT_STREQ(CipherName(row.id), row.name);
    size_t key_size = AeadKeySize(row.id);
    size_t nonce_size = AeadNonceSize(row.id);
    EXPECT_TRUE(key_size == 16 || key_size == 32);
    EXPECT_TRUE(nonce_size == 11 || nonce_size == 12);
    uint8_t key[32] = {1}, nonce[16] = {2}, aad[4] = {3}, tag[16];
    uint8_t data[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    ASSERT_TRUE(AeadEncrypt(row.id, key, nonce, aad, sizeof aad, data, sizeof data, tag));
    ASSERT_TRUE(AeadDecrypt(row.id, key, nonce, aad, sizeof aad, data, sizeof data, tag));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), sizeof data), "abcdefgh");
  }
  EXPECT_EQ(FindCipher(0), nullptr);  // 0 is "no cipher in common"
}

TEST(Smb2Algorithms, EverySigningRowSignsAndNoTwoAlike) {
  size_t count = 0;
  const SigningRow* table = SigningTable(&count);
  uint8_t message[kSmb2HeaderSize + 8] = {0xFE, 'S', 'M', 'B'};
  uint8_t key[16] = {7};
  std::set<std::string> signatures;
  for (size_t i = 0; i < count; ++i) {
    const SigningRow& row = table[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FindSigning(static_cast<uint16_t>(row.id)), &row);
    const ByteRange parts[1] = {{message, sizeof message}};
    uint8_t out[16];
    ASSERT_TRUE(row.sign(key, message, parts, 1, out));
    EXPECT_TRUE(signatures.insert(std::string(reinterpret_cast<char*>(out), sizeof out)).second);
  }
  EXPECT_EQ(FindSigning(0xFFFF), nullptr);
}

}  // namespace
}  // namespace net
