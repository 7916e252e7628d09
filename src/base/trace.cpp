// SPDX-License-Identifier: Apache-2.0
#include "base/trace.h"

#include <stdarg.h>

namespace net {

void CloseTrace(Trace* trace) {
  if (trace->owned && trace->file != nullptr) fclose(trace->file);
  *trace = Trace();
}

void EscapeForTrace(const char* text, size_t size, std::string* out) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < size; ++i) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out->push_back(static_cast<char>(c));
    } else {
      out->append({'\\', 'x', kHex[c >> 4], kHex[c & 0x0F]});
    }
  }
}

void WriteHeldLines(Trace* trace, const std::string& lines) {
  if (!Tracing(trace) || lines.empty()) return;
  if (trace->held != nullptr) {
    trace->held->append(lines);
    return;
  }
  fwrite(lines.data(), 1, lines.size(), trace->file);
  fflush(trace->file);
}

// One write and a flush per line: lines of processes that share the file
// stay whole, and a query that is killed leaves what it did behind.
void TraceLine(Trace* trace, const char* format, ...) {
  if (!Tracing(trace)) return;
  char text[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  std::string line = "kestrin: ";
  EscapeForTrace(text, n < static_cast<int>(sizeof text) ? static_cast<size_t>(n) : sizeof text - 1,
                 &line);
  line.push_back('\n');
  WriteHeldLines(trace, line);
}

const char* StatusReason(Status s) {
  size_t count = 0;
  const PlatformErrorRow* table = PlatformErrorTable(&count);
  for (size_t i = 0; i < count; ++i) {
    if (table[i].kind == s.kind && table[i].code == s.code) return table[i].name;
  }
  switch (s.kind) {
    case StatusKind::kOk: return "success";
    case StatusKind::kNtStatus: return "a status of the server's that the table does not know";
    case StatusKind::kRpcFault: return "an RPC fault that the table does not know";
    case StatusKind::kMalformed: return "a reply that breaks the protocol";
    default: return "a failure of our own";
  }
}

}  // namespace net
