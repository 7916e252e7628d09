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
  // is refused below with anything else that is not a regular file. What
  // is checked is the file opened, not the path, so nothing can be swapped
  // in between: it must be this user's, and have no other name (a hard
  // link planted at the path sends the lines to a file someone else chose,
  // which O_NOFOLLOW cannot see).
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink > 1 ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return;
  }
  trace->file = fdopen(fd, "a");
  if (trace->file == nullptr) close(fd);
  trace->owned = trace->file != nullptr;
}

}  // namespace net
