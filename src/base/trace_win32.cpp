// SPDX-License-Identifier: Apache-2.0
// The trace's file on Windows: KESTRIN_TRACE read and opened as UTF-16, so
// that any path the user can name works.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "base/trace.h"

namespace net {
namespace {

/// A security descriptor for a new file that only this process's user may
/// open: a DACL of one entry, protected, so that nothing the folder would
/// pass on is added (what 0600 is on POSIX).
struct OwnerOnly {
  SECURITY_DESCRIPTOR descriptor;
  DWORD user[32];  // TOKEN_USER and the SID it points to
  DWORD acl[32];
};

bool MakeOwnerOnly(OwnerOnly* o) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  BOOL got = GetTokenInformation(token, TokenUser, o->user, sizeof o->user, &size);
  CloseHandle(token);
  if (!got) return false;
  PSID sid = reinterpret_cast<TOKEN_USER*>(o->user)->User.Sid;
  ACL* acl = reinterpret_cast<ACL*>(o->acl);
  return InitializeAcl(acl, sizeof o->acl, ACL_REVISION) &&
         AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
         InitializeSecurityDescriptor(&o->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&o->descriptor, TRUE, acl, FALSE) &&
         SetSecurityDescriptorControl(&o->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

/// The file at `path`, opened for appending, made if missing (for this
/// user only); never a reparse point (a symbolic link or junction) at the
/// last component: FILE_FLAG_OPEN_REPARSE_POINT opens the point itself,
/// which is then refused, as is anything that is not a file on a disk or
/// that has another name (a hard link to a file someone else chose).
HANDLE OpenAppending(const wchar_t* path) {
  OwnerOnly owner_only;
  if (!MakeOwnerOnly(&owner_only)) return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &owner_only.descriptor, FALSE};
  HANDLE h =
      CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks > 1) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

void OpenTrace(Trace* trace) {
  *trace = Trace();
  const wchar_t* path = _wgetenv(L"KESTRIN_TRACE");
  if (path == nullptr || path[0] == L'\0') return;
  if (wcscmp(path, L"stderr") == 0) {
    trace->file = stderr;
    return;
  }
  HANDLE h = OpenAppending(path);
  if (h == INVALID_HANDLE_VALUE) return;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return;
  }
  trace->file = _fdopen(fd, "ab");
  if (trace->file == nullptr) _close(fd);
  trace->owned = trace->file != nullptr;
}

}  // namespace net
