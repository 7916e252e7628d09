// SPDX-License-Identifier: Apache-2.0
// Wide text: the platform's formatted write and length.
#include <stdarg.h>

#include "platform/win32_api.h"

namespace {

// The platform's limit for one formatted write, NUL included.
constexpr int kMaxUnits = 1024;

struct Output {
  LPWSTR buffer;
  int used;  // code units written, NUL not counted; always < kMaxUnits
};

void Put(Output* out, WCHAR c) {
  if (out->used < kMaxUnits - 1) out->buffer[out->used++] = c;
}

// `count` copies of `c`, or as many as the limit leaves room for.
void PutRepeated(Output* out, WCHAR c, int count) {
  int room = kMaxUnits - 1 - out->used;
  for (int i = 0; i < count && i < room; ++i) out->buffer[out->used + i] = c;
  out->used += count < room ? count : room;
}

// `count` units, or as many as the limit leaves room for.
void PutUnits(Output* out, const WCHAR* units, int count) {
  int room = kMaxUnits - 1 - out->used;
  if (count > room) count = room;
  WCHAR* to = out->buffer + out->used;
  out->used += count;
  while (count-- > 0) *to++ = *units++;
}

// One converted field, padded to `width` with spaces or zeros on the left
// (zeros after a minus sign).
inline void PutField(Output* out, const WCHAR* digits, int count, bool negative, int width,
                     bool zero_pad) {
  int length = count + (negative ? 1 : 0);
  if (negative && zero_pad) Put(out, u'-');
  if (width > length) PutRepeated(out, zero_pad ? u'0' : u' ', width - length);
  if (negative && !zero_pad) Put(out, u'-');
  PutUnits(out, digits, count);
}

// "00" to "99": decimal digits two at a time halve the divisions.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the digits of `value` so that they end just before `end`; returns
// where they start.
inline WCHAR* Decimal(uint32_t value, WCHAR* end) {
  while (value >= 100) {
    uint32_t pair = (value % 100) * 2;
    value /= 100;
    *--end = static_cast<WCHAR>(kDigitPairs[pair + 1]);
    *--end = static_cast<WCHAR>(kDigitPairs[pair]);
  }
  if (value >= 10) {
    *--end = static_cast<WCHAR>(kDigitPairs[value * 2 + 1]);
    *--end = static_cast<WCHAR>(kDigitPairs[value * 2]);
  } else {
    *--end = static_cast<WCHAR>(u'0' + value);
  }
  return end;
}

WCHAR* Hexadecimal(uint32_t value, bool upper, WCHAR* end) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    *--end = static_cast<WCHAR>(set[value & 15]);
    value >>= 4;
  } while (value != 0);
  return end;
}

void PutNumber(Output* out, uint32_t value, unsigned base, bool upper, bool negative, int width,
               bool zero_pad) {
  WCHAR digits[16];
  WCHAR* end = digits + 16;
  WCHAR* start = base == 10 ? Decimal(value, end) : Hexadecimal(value, upper, end);
  PutField(out, start, static_cast<int>(end - start), negative, width, zero_pad);
}

// Reads one conversion after its '%'; returns the format position after it.
LPCWSTR Convert(Output* out, LPCWSTR f, va_list* args) {
  bool zero_pad = false, left = false;
  for (; *f == u'0' || *f == u'-'; ++f) (*f == u'0' ? zero_pad : left) = true;
  int width = 0;
  for (; *f >= u'0' && *f <= u'9'; ++f) width = width < 1000 ? width * 10 + (*f - u'0') : width;
  bool is_short = false;
  if (*f == u'h')
    is_short = true, ++f;
  else if (*f == u'l')
    ++f;  // long is 32 bits on the platform
  if (left) zero_pad = false;

  int start = out->used;
  switch (*f) {
    case u'd':
    case u'i': {
      int32_t v = va_arg(*args, int32_t);
      if (is_short) v = static_cast<int16_t>(v);
      uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
      PutNumber(out, magnitude, 10, false, v < 0, left ? 0 : width, zero_pad);
      break;
    }
    case u'u':
    case u'x':
    case u'X': {
      uint32_t v = va_arg(*args, uint32_t);
      if (is_short) v = static_cast<uint16_t>(v);
      PutNumber(out, v, *f == u'u' ? 10 : 16, *f == u'X', false, left ? 0 : width, zero_pad);
      break;
    }
    case u'c': {
      WCHAR c = static_cast<WCHAR>(va_arg(*args, int));
      PutField(out, &c, 1, false, left ? 0 : width, false);
      break;
    }
    case u's': {
      LPCWSTR s = va_arg(*args, LPCWSTR);
      if (s == NULL) s = u"(null)";
      PutField(out, s, lstrlenW(s), false, left ? 0 : width, false);
      break;
    }
    case u'%': Put(out, u'%'); break;
    case 0: return f;  // a lone '%' at the end prints nothing
    default:
      Put(out, *f);  // unknown conversions print their letter, as the platform does
      break;
  }
  for (int n = out->used - start; left && n < width; ++n) Put(out, u' ');
  return f + 1;
}

}  // namespace

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  int used = 0;  // kept out of memory on the common paths below
  va_list args;
  va_start(args, format);
  for (LPCWSTR f = format; *f != 0;) {
    if (*f != u'%') {
      // Literal text up to the next conversion, as far as the limit allows.
      if (used < kMaxUnits - 1) buffer[used++] = *f;
      ++f;
    } else if (f[1] == u'l' && f[2] == u'u') {
      // The common case, an unpadded 32-bit unsigned value: straight through.
      WCHAR digits[10];
      WCHAR* end = digits + 10;
      for (WCHAR* d = Decimal(va_arg(args, uint32_t), end); d != end && used < kMaxUnits - 1;)
        buffer[used++] = *d++;
      f += 3;
    } else {
      Output out = {buffer, used};
      f = Convert(&out, f + 1, &args);
      used = out.used;
    }
  }
  va_end(args);
  buffer[used] = 0;
  return used;
}

int lstrlenW(LPCWSTR text) {
  if (text == NULL) return 0;
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}
