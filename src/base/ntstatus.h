// SPDX-License-Identifier: Apache-2.0
// The NTSTATUS values the code tests for by name, and the names of those the
// status table knows (status.cpp holds the table: value, name, platform
// number).
#ifndef KESTRIN_BASE_NTSTATUS_H_
#define KESTRIN_BASE_NTSTATUS_H_

#include <stdint.h>

namespace net {

constexpr uint32_t kStatusSuccess = 0x00000000;
constexpr uint32_t kStatusPending = 0x00000103;
constexpr uint32_t kStatusBufferOverflow = 0x80000005;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010;
constexpr uint32_t kStatusMoreProcessing = 0xC0000016;
constexpr uint32_t kStatusNoMemory = 0xC0000017;
constexpr uint32_t kStatusLogonFailure = 0xC000006D;
constexpr uint32_t kStatusNotSupported = 0xC00000BB;
constexpr uint32_t kStatusFileClosed = 0xC0000128;

/// The name of an NTSTATUS the table knows, else its hex in `buffer`.
const char* NtStatusName(uint32_t status, char (&buffer)[16]);

}  // namespace net

#endif  // KESTRIN_BASE_NTSTATUS_H_
