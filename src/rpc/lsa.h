// SPDX-License-Identifier: Apache-2.0
// The two LSA calls of the query (MS-LSAD): LsarOpenPolicy2 and
// LsarQueryInformationPolicy at level 5, PolicyAccountDomainInformation.
#ifndef KESTRIN_RPC_LSA_H_
#define KESTRIN_RPC_LSA_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "rpc/dcerpc.h"

namespace net {

/// A SID as the server sent it, at most 15 sub-authorities.
struct DomainSid {
  uint8_t revision = 1;
  uint8_t sub_count = 0;
  uint8_t authority[6] = {};
  uint32_t sub[15] = {};
};

struct AccountDomain {
  std::u16string name;
  DomainSid sid;
};

/// LSA 12345778-1234-ABCD-EF00-0123456789AB v0.0, in wire form.
constexpr RpcSyntax kLsaSyntax = {{0x78, 0x57, 0x34, 0x12, 0x34, 0x12, 0xCD, 0xAB, 0xEF, 0x00,
                                   0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0x00, 0x00, 0x00, 0x00}};

constexpr uint16_t kLsarOpenPolicy2 = 44;
constexpr uint16_t kLsarQueryInformationPolicy = 7;

struct PolicyHandle {
  uint8_t bytes[20];
};

/// Appends a BIND PDU for the LSA interface.
void EncodeLsaBind(uint32_t call_id, std::vector<uint8_t>* out);

/// Appends the LsarOpenPolicy2 request stub (SystemName "\\", QoS, access
/// POLICY_VIEW_LOCAL_INFORMATION).
void EncodeOpenPolicy2(std::vector<uint8_t>* stub);
/// Reads the reply stub: the handle, then the NTSTATUS (checked first; a
/// failing stub may be the status alone).
Status DecodeOpenPolicy2(const uint8_t* stub, size_t size, PolicyHandle* handle);

/// Appends the LsarQueryInformationPolicy request stub for level 5.
void EncodeQueryAccountDomain(const PolicyHandle& handle, std::vector<uint8_t>* stub);
/// Reads the level-5 reply stub into `out`: the NTSTATUS first, then the
/// union, the RPC_UNICODE_STRING and the RPC_SID, every count and offset
/// checked against the stub (a SID's conformant count must equal its
/// SubAuthorityCount and be at most 15; revision must be 1). A name of
/// length 0 is valid; one with a control character (U+0000-U+001F,
/// U+007F-U+009F) or a bidirectional formatting control (U+200E, U+200F,
/// U+202A-U+202E, U+2066-U+2069) is not. `out` is written only on success.
Status DecodeAccountDomain(const uint8_t* stub, size_t size, AccountDomain* out);

}  // namespace net

#endif  // KESTRIN_RPC_LSA_H_
