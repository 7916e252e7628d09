// SPDX-License-Identifier: Apache-2.0
// SID validity and accessors over the platform's SID layout.
#include "platform/win32_api.h"

BOOL IsValidSid(PSID pSid) {
  if (pSid == NULL) return FALSE;
  const SID* sid = static_cast<const SID*>(pSid);
  return sid->Revision == SID_REVISION && sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid) {
  return &static_cast<SID*>(pSid)->IdentifierAuthority;
}

PUCHAR GetSidSubAuthorityCount(PSID pSid) { return &static_cast<SID*>(pSid)->SubAuthorityCount; }

PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
  // The array is declared with one element and allocated with as many as the
  // count says; index through the base address so the bound is the record's.
  DWORD* first = static_cast<SID*>(pSid)->SubAuthority;
  return first + nSubAuthority;
}
