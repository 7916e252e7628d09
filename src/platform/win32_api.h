// SPDX-License-Identifier: Apache-2.0
// The platform API the tool is written against: the types and calls of the
// 32-bit Windows platform that the driver and the SID formatter use.
//
// On Windows this is the real thing from <windows.h>. Everywhere else this
// header declares the same names with the same binary layouts, and the files
// beside it (security.cpp, wide_text.cpp, last_error.cpp, console.cpp,
// entry.cpp) implement them.
#ifndef KESTRIN_PLATFORM_WIN32_API_H_
#define KESTRIN_PLATFORM_WIN32_API_H_

#ifdef _WIN32

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#else  // !_WIN32

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint8_t UCHAR;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef UCHAR* PUCHAR;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef void* PVOID;
typedef void* LPVOID;
/// One UTF-16 code unit, the platform's wide character.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

#define TRUE 1
#define FALSE 0

/// Wide text literal: L"" on Windows, UTF-16 u"" here.
#define TEXT(quote) u##quote

#define ERROR_SUCCESS 0L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15

/// The six bytes of a SID's identifier authority, byte 0 the most significant.
typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

/// A security identifier: 8 header bytes, then SubAuthorityCount 32-bit
/// sub-authorities in the machine's byte order.
typedef struct _SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
} SID;
typedef void* PSID;

/// Non-zero when `pSid` is not null, has revision 1 and at most 15
/// sub-authorities.
BOOL IsValidSid(PSID pSid);
PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid);
PUCHAR GetSidSubAuthorityCount(PSID pSid);
PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);

/// The platform's wide formatted write: %[-][0][width][h|l](d|i|u|x|X|c|s), %%.
/// %s takes wide text, %lu a 32-bit value as on the platform. Writes at most
/// 1024 code units including the terminating NUL, which it always writes;
/// returns the count written without the NUL.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
/// Length of a wide text in code units, without the NUL; 0 for null.
int lstrlenW(LPCWSTR text);

/// The calling thread's last-error value.
void SetLastError(DWORD code);
DWORD GetLastError(void);

/// The runtime's formatted print to standard output, where "%S" takes wide
/// text and writes it as UTF-8 (an unpaired surrogate as U+FFFD).
int ConsolePrintf(const char* format, ...);
#define printf ConsolePrintf

#endif  // _WIN32

/// The program's wide entry, called with the command line as UTF-16. The
/// Windows headers do not declare it; the driver's tests call it.
int wmain(int argc, WCHAR* argv[]);

#endif  // KESTRIN_PLATFORM_WIN32_API_H_
