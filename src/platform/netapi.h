// SPDX-License-Identifier: Apache-2.0
// The platform's network-management query, ours on every platform: asks a
// computer over the network for its account domain's name and SID.
#ifndef KESTRIN_PLATFORM_NETAPI_H_
#define KESTRIN_PLATFORM_NETAPI_H_

#include "platform/win32_api.h"

#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124L
#endif

typedef DWORD NET_API_STATUS;

/// Level 2 of the user-modals information: the account domain.
typedef struct _USER_MODALS_INFO_2 {
  LPWSTR usrmod2_domain_name;
  PSID usrmod2_domain_id;
} USER_MODALS_INFO_2, *PUSER_MODALS_INFO_2, *LPUSER_MODALS_INFO_2;

/// Asks `servername` (as typed; a leading "\\" is optional, empty or null
/// means this computer) for its account domain. Level 2 only. On success
/// returns 0 and stores in `*bufptr` one block that holds the
/// USER_MODALS_INFO_2, the name and the SID; release it with
/// NetApiBufferFree. On failure returns a non-zero status and stores null.
NET_API_STATUS Kestrin(LPCWSTR servername, DWORD level, LPBYTE* bufptr);

/// Releases a block that Kestrin returned; null is allowed.
NET_API_STATUS NetApiBufferFree(LPVOID buffer);

#endif  // KESTRIN_PLATFORM_NETAPI_H_
