// SPDX-License-Identifier: Apache-2.0
// Formatted print to standard output in which "%S" takes wide (UTF-16) text
// and writes it as UTF-8, whatever the locale.
#include <stdarg.h>
#include <string.h>

#include <string>

#include "base/utf.h"
#include "platform/win32_api.h"

#undef printf

namespace {

// One conversion of the narrow kind, handed to snprintf with its argument.
void FormatOne(std::string* out, const std::string& directive, char conv, bool is_long,
               int long_count, va_list* args) {
  char buf[512];
  int n = 0;
  const char* f = directive.c_str();
  switch (conv) {
    case 'd':
    case 'i':
      n = long_count >= 2 ? snprintf(buf, sizeof buf, f, va_arg(*args, long long))
          : is_long       ? snprintf(buf, sizeof buf, f, (long)va_arg(*args, LONG))
                          : snprintf(buf, sizeof buf, f, va_arg(*args, int));
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      n = long_count >= 2 ? snprintf(buf, sizeof buf, f, va_arg(*args, unsigned long long))
          : is_long       ? snprintf(buf, sizeof buf, f, (unsigned long)va_arg(*args, DWORD))
                          : snprintf(buf, sizeof buf, f, va_arg(*args, unsigned));
      break;
    case 'c': n = snprintf(buf, sizeof buf, f, va_arg(*args, int)); break;
    case 'p': n = snprintf(buf, sizeof buf, f, va_arg(*args, void*)); break;
    case 'f':
    case 'g':
    case 'e':
    case 'F':
    case 'G':
    case 'E': n = snprintf(buf, sizeof buf, f, va_arg(*args, double)); break;
    case 's': {
      const char* s = va_arg(*args, const char*);
      out->append(s != NULL ? s : "(null)");
      return;
    }
    default: out->append(directive); return;
  }
  if (n > 0) out->append(buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

}  // namespace

int ConsolePrintf(const char* format, ...) {
  std::string out;
  va_list args;
  va_start(args, format);
  for (const char* p = format; *p != 0;) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out.push_back('%');
      ++p;
      continue;
    }
    p += strspn(p, "-+ #0123456789.");
    int long_count = 0;
    // One 'l' is 32 bits, as long is on the platform (LONG, DWORD); "ll" and
    // 'z' are 64.
    for (; *p == 'l' || *p == 'h' || *p == 'z'; ++p)
      long_count += *p == 'l' ? 1 : *p == 'z' ? 2 : 0;
    char conv = *p;
    if (conv == 0) break;
    ++p;
    if (conv == 'S' || (conv == 's' && long_count == 1 && p[-2] == 'l')) {
      const WCHAR* w = va_arg(args, const WCHAR*);
      if (w == NULL) w = u"(null)";
      out += Utf16ToUtf8(w, static_cast<size_t>(lstrlenW(w)));
      continue;
    }
    FormatOne(&out, std::string(start, p), conv, long_count == 1, long_count, &args);
  }
  va_end(args);
  return static_cast<int>(fwrite(out.data(), 1, out.size(), stdout));
}
