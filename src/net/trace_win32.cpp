// SPDX-License-Identifier: Apache-2.0
// The trace's file on Windows: KESTRIN_TRACE read and opened as UTF-16, so
// that any path the user can name works.
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "net/trace.h"

namespace net {

void OpenTrace(Trace* trace) {
  *trace = Trace();
  const wchar_t* path = _wgetenv(L"KESTRIN_TRACE");
  if (path == nullptr || path[0] == L'\0') return;
  if (wcscmp(path, L"stderr") == 0) {
    trace->file = stderr;
    return;
  }
  trace->file = _wfopen(path, L"ab");
  trace->owned = trace->file != nullptr;
}

}  // namespace net
