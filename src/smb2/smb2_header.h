// SPDX-License-Identifier: Apache-2.0
// The SMB2 header's layout and the values in it that more than one file
// reads (MS-SMB2 2.2.1).
#ifndef KESTRIN_SMB2_SMB2_HEADER_H_
#define KESTRIN_SMB2_SMB2_HEADER_H_

#include <stddef.h>
#include <stdint.h>

namespace net {

constexpr size_t kSmb2HeaderSize = 64;
/// The 4-byte direct-TCP prefix.
constexpr size_t kSmb2FramePrefix = 4;
/// The largest frame we accept: our replies are a few KiB at most.
constexpr size_t kSmb2MaxFrame = 65536 + 1024;

enum Smb2Command : uint16_t {
  kSmb2Negotiate = 0,
  kSmb2SessionSetup = 1,
  kSmb2TreeConnect = 3,
  kSmb2Create = 5,
  kSmb2Read = 8,
  kSmb2Ioctl = 11,
  kSmb2Cancel = 12,
};

constexpr uint32_t kSmb2FlagResponse = 0x1;
constexpr uint32_t kSmb2FlagAsync = 0x2;
constexpr uint32_t kSmb2FlagRelated = 0x4;

/// Where fields sit in the header.
constexpr size_t kSmb2CommandOffset = 12;
constexpr size_t kSmb2FlagsOffset = 16;
constexpr size_t kSmb2MessageIdOffset = 24;

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_HEADER_H_
