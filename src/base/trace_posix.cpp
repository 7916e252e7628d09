// SPDX-License-Identifier: Apache-2.0
// The trace's file on POSIX: KESTRIN_TRACE as a path in the file system's
// own encoding.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/trace.h"

namespace net {

void OpenTrace(Trace* trace) {
  *trace = Trace();
  const char* path = getenv("KESTRIN_TRACE");
  if (path == nullptr || path[0] == '\0') return;
  if (strcmp(path, "stderr") == 0) {
    trace->file = stderr;
    return;
  }
  // O_NOFOLLOW: a link planted at the path cannot send the lines elsewhere.
  // O_NONBLOCK while opening: a FIFO there must not hold the query up; it
  // is refused below with anything else that is not a regular file.
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return;
  }
  trace->file = fdopen(fd, "a");
  if (trace->file == nullptr) close(fd);
  trace->owned = trace->file != nullptr;
}

}  // namespace net
