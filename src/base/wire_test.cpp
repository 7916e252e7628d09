// SPDX-License-Identifier: Apache-2.0
#include "base/wire.h"

#include <gtest/gtest.h>

namespace net {
namespace {

const uint8_t kBytes[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};

TEST(Wire, FailedReadKeepsPositionAndSticks) {
  WireReader r = MakeReader(kBytes, sizeof kBytes);
  EXPECT_EQ(ReadU32(r), 0x04030201u);
  EXPECT_EQ(ReadU32(r), 0u);  // only two bytes left
  EXPECT_FALSE(ok(r));
  EXPECT_EQ(r.pos, 4u);
  // Sticky: even a read that would fit now fails.
  EXPECT_EQ(ReadU8(r), 0u);
  EXPECT_EQ(r.pos, 4u);
  uint8_t out[2] = {9, 9};
  EXPECT_FALSE(ReadBytes(r, out, 2));
  EXPECT_EQ(out[0], 0);
  EXPECT_FALSE(Seek(r, 0));
}

TEST(Wire, SeekAndAlign) {
  WireReader r = MakeReader(kBytes, sizeof kBytes);
  EXPECT_TRUE(Seek(r, sizeof kBytes));  // the end itself is a position
  EXPECT_EQ(Remaining(r), 0u);
  EXPECT_EQ(ReadU8(r), 0u);
  EXPECT_FALSE(ok(r));

  r = MakeReader(kBytes, sizeof kBytes);
  EXPECT_TRUE(AlignTo(r, 4));  // already aligned: no move
  EXPECT_EQ(r.pos, 0u);
  (void)ReadU8(r);
  EXPECT_TRUE(AlignTo(r, 4));
  EXPECT_EQ(r.pos, 4u);
  EXPECT_FALSE(AlignTo(r, 8));  // the pad would run past the end
  EXPECT_EQ(r.pos, 4u);
}

TEST(Wire, Utf16CountIsCheckedBeforeUse) {
  WireReader r = MakeReader(kBytes, sizeof kBytes);
  std::u16string s = u"old";
  EXPECT_FALSE(ReadUtf16(r, SIZE_MAX, &s));  // no overflow into a small count
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(r.pos, 0u);
}

TEST(Wire, WriterPadsAndPatches) {
  std::vector<uint8_t> out;
  WireWriter w{&out};
  PutU8(w, 0xAA);
  PadTo(w, 4);
  PutU16(w, 0);
  PatchU16(w, 4, 0x1234);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xAA, 0, 0, 0, 0x34, 0x12}));
}

}  // namespace
}  // namespace net
