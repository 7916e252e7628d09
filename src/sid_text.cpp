// SPDX-License-Identifier: Apache-2.0
#include "sid_text.h"

BOOL FormatSidText(PSID sid, LPWSTR text, LPDWORD length) {
  if (!IsValidSid(sid)) return FALSE;

  PSID_IDENTIFIER_AUTHORITY authority = GetSidIdentifierAuthority(sid);
  DWORD count = *GetSidSubAuthorityCount(sid);

  // "S-1-", up to 14 units of authority, up to 11 per sub-authority and the
  // NUL, two bytes each. A missing buffer can only be a size query.
  DWORD required = 24 * count + 56;
  if (*length < required || text == NULL) {
    *length = required;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }

  // "S-1-" (the revision printed is always 1), then the authority at the
  // text's length: hexadecimal only when it does not fit in 32 bits. Each
  // piece goes at the running total of the units written so far.
  int used = wsprintfW(text, TEXT("S-%lu-"), (DWORD)SID_REVISION);
  const BYTE* a = authority->Value;
  if (a[0] != 0 || a[1] != 0) {
    used += wsprintfW(text + used, TEXT("0x%02hx%02hx%02hx%02hx%02hx%02hx"), (unsigned short)a[0],
                      (unsigned short)a[1], (unsigned short)a[2], (unsigned short)a[3],
                      (unsigned short)a[4], (unsigned short)a[5]);
  } else {
    DWORD value = ((DWORD)a[2] << 24) | ((DWORD)a[3] << 16) | ((DWORD)a[4] << 8) | (DWORD)a[5];
    used += wsprintfW(text + used, TEXT("%lu"), value);
  }

  for (DWORD i = 0; i < count; ++i)
    used += wsprintfW(text + used, TEXT("-%lu"), *GetSidSubAuthority(sid, i));
  return TRUE;
}
