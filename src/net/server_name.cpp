#include "net/server_name.h"

#include <stddef.h>
#include <stdint.h>

#include "platform/utf.h"

namespace net {
namespace {

// The longest DNS name; anything longer cannot resolve.
constexpr size_t kMaxHostBytes = 255;

bool IsControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

}  // namespace

bool ServerHost(const char16_t* server, std::string* host) {
  host->clear();
  if (server == nullptr) server = u"";
  // Only the UNC prefix "\\" is dropped; a lone "\" or a third one stays
  // and is refused below with every other backslash.
  if (server[0] == u'\\' && server[1] == u'\\') server += 2;

  // Check before converting: an unpaired surrogate has no UTF-8 form, and a
  // separator or control character cannot be part of a host name. Four
  // UTF-16 units per byte of the limit is more than any name that fits.
  size_t units = 0;
  for (; server[units] != 0; ++units) {
    char16_t c = server[units];
    if (c >= 0xD800 && c < 0xDC00 && server[units + 1] >= 0xDC00 && server[units + 1] < 0xE000) {
      ++units;
    } else if ((c >= 0xD800 && c < 0xE000) || IsControl(c) || c == u'\\' || c == u'/') {
      return false;
    }
    if (units > 4 * kMaxHostBytes) return false;
  }
  std::string text = Utf16ToUtf8(server, units);

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
