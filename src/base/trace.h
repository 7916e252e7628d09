// SPDX-License-Identifier: Apache-2.0
// The query's trace: when KESTRIN_TRACE names a file (or is "stderr"), one
// line per step, so that a user can see why a query failed. Never a
// password, ticket, key or token. Unset or empty, nothing is opened and
// every call here returns at once.
#ifndef KESTRIN_BASE_TRACE_H_
#define KESTRIN_BASE_TRACE_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "base/status.h"

namespace net {

struct Trace {
  FILE* file = nullptr;         // null: no trace, unless lines are held
  bool owned = false;           // a file of ours to close (not stderr)
  std::string* held = nullptr;  // lines kept here instead (a worker's), for the file later
};

/// Opens the trace that KESTRIN_TRACE names, appending: a regular file,
/// made with mode 0600 when it does not exist, and never through a
/// symbolic link (or, on Windows, a reparse point) at its last component,
/// nor one with another name (a hard link), nor, on POSIX, one that
/// another user owns.
/// A path that cannot be opened so is no trace, and the query goes on as
/// without one. trace_posix.cpp and trace_win32.cpp implement it.
void OpenTrace(Trace* trace);
void CloseTrace(Trace* trace);

inline bool Tracing(const Trace* trace) {
  return trace != nullptr && (trace->file != nullptr || trace->held != nullptr);
}

/// Writes "kestrin: " and the formatted text as one line (no-op without a
/// trace). Every byte that is not printable ASCII, and '\', is written as
/// \xNN: text from outside (a library's message, a server's name, a KDC's
/// e-text) can neither forge a line nor reach the terminal.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void TraceLine(Trace* trace, const char* format, ...);

/// Appends `text` (`size` bytes) to `out` escaped as TraceLine writes it.
void EscapeForTrace(const char* text, size_t size, std::string* out);

/// Writes lines that a trace held (already whole and escaped) to `trace`.
void WriteHeldLines(Trace* trace, const std::string& lines);

/// What the platform's number for `s` stands for, for the trace's last line.
const char* StatusReason(Status s);

}  // namespace net

#endif  // KESTRIN_BASE_TRACE_H_
