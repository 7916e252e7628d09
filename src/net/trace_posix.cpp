// SPDX-License-Identifier: Apache-2.0
// The trace's file on POSIX: KESTRIN_TRACE as a path in the file system's
// own encoding.
#include <stdlib.h>
#include <string.h>

#include "net/trace.h"

namespace net {

void OpenTrace(Trace* trace) {
  *trace = Trace();
  const char* path = getenv("KESTRIN_TRACE");
  if (path == nullptr || path[0] == '\0') return;
  if (strcmp(path, "stderr") == 0) {
    trace->file = stderr;
    return;
  }
  trace->file = fopen(path, "a");
  trace->owned = trace->file != nullptr;
}

}  // namespace net
