// SPDX-License-Identifier: Apache-2.0
// The two LSA calls of the query (MS-LSAD): LsarOpenPolicy2 and
// LsarQueryInformationPolicy at level 5, PolicyAccountDomainInformation.
#ifndef KESTRIN_NET_LSA_H_
#define KESTRIN_NET_LSA_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "query/domain_query.h"
#include "base/status.h"

namespace net {

constexpr uint16_t kLsarOpenPolicy2 = 44;
constexpr uint16_t kLsarQueryInformationPolicy = 7;

struct PolicyHandle {
  uint8_t bytes[20];
};

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
/// U+007F-U+009F) is not. `out` is written only on success.
Status DecodeAccountDomain(const uint8_t* stub, size_t size, AccountDomain* out);

}  // namespace net

#endif  // KESTRIN_NET_LSA_H_
