// SPDX-License-Identifier: Apache-2.0
// Conversions between UTF-8 and UTF-16 for the console and the command line,
// and what counts as a control character in either.
#ifndef KESTRIN_BASE_UTF_H_
#define KESTRIN_BASE_UTF_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

/// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t units);

/// UTF-8 to UTF-16; each byte that does not start or continue a well-formed
/// sequence (overlong forms, surrogates and values past U+10FFFF included)
/// becomes U+FFFD.
std::u16string Utf8ToUtf16(const char* text, size_t bytes);

/// A C0 or C1 control character, DEL or NUL: no name holds one, and printed
/// it could forge lines or drive the terminal.
inline bool IsControlCharacter(uint32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

#endif  // KESTRIN_BASE_UTF_H_
