#include "net/server_name.h"

#include <stddef.h>
#include <stdint.h>

namespace net {
namespace {

// The longest DNS name; anything longer cannot resolve.
constexpr size_t kMaxHostBytes = 255;

bool IsControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

bool ServerHost(const char16_t* server, std::string* host) {
  host->clear();
  if (server == nullptr) server = u"";
  // Only the UNC prefix "\\" is dropped; a lone "\" or a third one stays
  // and is refused below with every other backslash.
  if (server[0] == u'\\' && server[1] == u'\\') server += 2;

  std::string text;
  // Two more bytes than the limit leave room for the brackets of "[v6]".
  for (const char16_t* p = server; *p != 0; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c < 0xE000) {
      return false;  // an unpaired surrogate
    }
    if (IsControl(c) || c == u'\\' || c == u'/') return false;
    AppendUtf8(c, &text);
    if (text.size() > kMaxHostBytes + 2) return false;
  }

  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
    if (text.empty()) return false;  // "[]" names no address
  } else if (text.empty()) {
    text = "127.0.0.1";  // this computer
  }
  if (text.size() > kMaxHostBytes) return false;
  *host = text;
  return true;
}

}  // namespace net
