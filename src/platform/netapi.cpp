// SPDX-License-Identifier: Apache-2.0
// Kestrin and NetApiBufferFree over our own account-domain query.
#include "platform/netapi.h"

#include <stdlib.h>
#include <string.h>

#include "base/bounded_call.h"
#include "query/domain_query.h"

namespace {

/// After a query that left a logon step behind on its worker (its deadline
/// passed while a Kerberos or SSPI library waited), the process must not run
/// the libraries' shutdown under it: once the driver has printed its lines,
/// the process ends here instead. Such a query has failed, so the driver's
/// status is the one it gives a failed query.
void EndWithoutShutdown() { net::EndProcessNow(2); }

// One block: the record, then the SID (4-aligned after the two pointers),
// then the NUL-terminated name.
LPBYTE PackRecord(const net::AccountDomain& domain) {
  const net::DomainSid& s = domain.sid;
  size_t sid_size = 8 + 4 * static_cast<size_t>(s.sub_count);
  size_t name_size = 2 * (domain.name.size() + 1);
  size_t sid_offset = sizeof(USER_MODALS_INFO_2);
  LPBYTE block = static_cast<LPBYTE>(malloc(sid_offset + sid_size + name_size));
  if (block == NULL) return NULL;

  SID* sid = reinterpret_cast<SID*>(block + sid_offset);
  sid->Revision = s.revision;
  sid->SubAuthorityCount = s.sub_count;
  memcpy(sid->IdentifierAuthority.Value, s.authority, 6);
  memcpy(block + sid_offset + 8, s.sub, 4 * static_cast<size_t>(s.sub_count));

  WCHAR* name = reinterpret_cast<WCHAR*>(block + sid_offset + sid_size);
  if (!domain.name.empty()) memcpy(name, domain.name.data(), 2 * domain.name.size());
  name[domain.name.size()] = 0;

  USER_MODALS_INFO_2* record = reinterpret_cast<USER_MODALS_INFO_2*>(block);
  record->usrmod2_domain_name = name;
  record->usrmod2_domain_id = sid;
  return block;
}

}  // namespace

NET_API_STATUS Kestrin(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  if (bufptr == NULL) return 87;  // ERROR_INVALID_PARAMETER
  *bufptr = NULL;
  if (level != 2) return ERROR_INVALID_LEVEL;

  static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is one UTF-16 code unit");
  const char16_t* server = reinterpret_cast<const char16_t*>(servername);
  net::AccountDomain domain;
  net::Status status =
      net::QueryAccountDomain(server != nullptr ? server : u"", net::QueryLimits(), &domain);
  if (!net::IsOk(status)) {
    if (net::LeftCallsBehind()) atexit(EndWithoutShutdown);
    return net::ToPlatformError(status);
  }

  *bufptr = PackRecord(domain);
  return *bufptr != NULL ? 0 : 8;  // ERROR_NOT_ENOUGH_MEMORY
}

NET_API_STATUS NetApiBufferFree(LPVOID buffer) {
  free(buffer);
  return 0;
}
