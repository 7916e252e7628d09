// SPDX-License-Identifier: Apache-2.0
// Bounded little-endian reading and writing of wire buffers.
//
// A WireReader never reads outside the bytes it was given: every read checks
// what is left first, and a failed check sets a sticky flag, leaves the
// position where it was and yields zero. Decoders read a whole structure and
// then look at ok() once, so a truncated reply cannot slip through as garbage.
#ifndef KESTRIN_BASE_WIRE_H_
#define KESTRIN_BASE_WIRE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace net {

struct WireReader {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  bool failed = false;
};

inline WireReader MakeReader(const uint8_t* data, size_t size) {
  WireReader r;
  r.data = data;
  r.size = size;
  return r;
}

inline bool ok(const WireReader& r) { return !r.failed; }
inline size_t Remaining(const WireReader& r) { return r.size - r.pos; }

/// True when `n` more bytes are there; otherwise marks the reader failed.
[[nodiscard]] inline bool Need(WireReader& r, size_t n) {
  if (r.failed || n > r.size - r.pos) {
    r.failed = true;
    return false;
  }
  return true;
}

[[nodiscard]] inline uint8_t ReadU8(WireReader& r) {
  if (!Need(r, 1)) return 0;
  return r.data[r.pos++];
}

[[nodiscard]] inline uint16_t ReadU16(WireReader& r) {
  if (!Need(r, 2)) return 0;
  const uint8_t* p = r.data + r.pos;
  r.pos += 2;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

[[nodiscard]] inline uint32_t ReadU32(WireReader& r) {
  if (!Need(r, 4)) return 0;
  const uint8_t* p = r.data + r.pos;
  r.pos += 4;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

[[nodiscard]] inline uint64_t ReadU64(WireReader& r) {
  uint64_t lo = ReadU32(r);
  uint64_t hi = ReadU32(r);
  return lo | (hi << 32);
}

/// Copies `n` bytes out; on failure `out` is zero-filled.
inline bool ReadBytes(WireReader& r, void* out, size_t n) {
  if (!Need(r, n)) {
    for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(out)[i] = 0;
    return false;
  }
  for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(out)[i] = r.data[r.pos + i];
  r.pos += n;
  return true;
}

inline bool Skip(WireReader& r, size_t n) {
  if (!Need(r, n)) return false;
  r.pos += n;
  return true;
}

/// Moves to an absolute offset within the buffer (`off` may equal size).
inline bool Seek(WireReader& r, size_t off) {
  if (r.failed || off > r.size) {
    r.failed = true;
    return false;
  }
  r.pos = off;
  return true;
}

/// Skips to the next multiple of `align` counted from the buffer's start.
inline bool AlignTo(WireReader& r, size_t align) {
  size_t pad = (align - r.pos % align) % align;
  return Skip(r, pad);
}

/// Reads `units` UTF-16LE code units.
inline bool ReadUtf16(WireReader& r, size_t units, std::u16string* out) {
  out->clear();
  if (units > Remaining(r) / 2) {
    r.failed = true;
    return false;
  }
  out->reserve(units);
  for (size_t i = 0; i < units; ++i) out->push_back(static_cast<char16_t>(ReadU16(r)));
  return true;
}

/// Appends little-endian values to a byte vector.
struct WireWriter {
  std::vector<uint8_t>* out;
};

inline void PutU8(WireWriter w, uint8_t v) { w.out->push_back(v); }
inline void PutU16(WireWriter w, uint16_t v) {
  w.out->push_back(static_cast<uint8_t>(v));
  w.out->push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(WireWriter w, uint32_t v) {
  for (int i = 0; i < 4; ++i) w.out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutU64(WireWriter w, uint64_t v) {
  PutU32(w, static_cast<uint32_t>(v));
  PutU32(w, static_cast<uint32_t>(v >> 32));
}
inline void PutBytes(WireWriter w, const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  w.out->insert(w.out->end(), b, b + n);
}
inline void PutZeros(WireWriter w, size_t n) { w.out->insert(w.out->end(), n, 0); }
inline void PutUtf16(WireWriter w, const std::u16string& s) {
  for (char16_t c : s) PutU16(w, static_cast<uint16_t>(c));
}
/// Pads with zeros to a multiple of `align` counted from `base`.
inline void PadTo(WireWriter w, size_t align, size_t base = 0) {
  size_t len = w.out->size() - base;
  PutZeros(w, (align - len % align) % align);
}
/// Overwrites a little-endian value already written at `off`.
inline void PatchU16(WireWriter w, size_t off, uint16_t v) {
  (*w.out)[off] = static_cast<uint8_t>(v);
  (*w.out)[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PatchU32(WireWriter w, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*w.out)[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace net

#endif  // KESTRIN_BASE_WIRE_H_
