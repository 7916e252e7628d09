// Runs one account-domain query and prints what came back, for the
// integration tests to run inside a server's network namespace:
//
//   kestrin_query_probe [--connect-ms N] [--reply-ms N] [--total-ms N] SERVER
//
// prints "status=<platform error> kind=<k> code=<c> ms=<elapsed>" and, on
// success, " name=<UTF-8> sid=<S-1-...>". Exit status 0 when it printed.
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "net/domain_query.h"
#include "net/socket.h"
#include "platform/utf.h"

namespace {

/// The SID's text; an authority past 32 bits in hexadecimal.
std::string SidText(const net::DomainSid& sid) {
  uint64_t authority = 0;
  for (uint8_t byte : sid.authority) authority = authority << 8 | byte;
  char part[32];
  if (authority >> 32 != 0) {
    snprintf(part, sizeof part, "S-%u-0x%012" PRIX64, sid.revision, authority);
  } else {
    snprintf(part, sizeof part, "S-%u-%" PRIu64, sid.revision, authority);
  }
  std::string text = part;
  for (int i = 0; i < sid.sub_count && i < 15; ++i) {
    snprintf(part, sizeof part, "-%u", static_cast<unsigned>(sid.sub[i]));
    text += part;
  }
  return text;
}

bool ParseMs(const char* text, uint32_t* out) {
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 10);
  if (end == text || *end != 0 || value > 600000) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  net::QueryLimits limits;
  const char* server = nullptr;
  for (int i = 1; i < argc; ++i) {
    uint32_t* limit = strcmp(argv[i], "--connect-ms") == 0 ? &limits.connect_ms
                      : strcmp(argv[i], "--reply-ms") == 0 ? &limits.reply_ms
                      : strcmp(argv[i], "--total-ms") == 0 ? &limits.total_ms
                                                           : nullptr;
    if (limit == nullptr && server == nullptr) {
      server = argv[i];
    } else if (limit == nullptr || i + 1 == argc || !ParseMs(argv[++i], limit)) {
      fprintf(stderr, "usage: %s [--connect-ms N] [--reply-ms N] [--total-ms N] SERVER\n", argv[0]);
      return 2;
    }
  }
  std::u16string name = Utf8ToUtf16(server != nullptr ? server : "", server ? strlen(server) : 0);
  net::AccountDomain domain;
  uint64_t start = net::MonotonicMs();
  net::Status s = net::QueryAccountDomain(name.c_str(), limits, &domain);
  uint64_t elapsed = net::MonotonicMs() - start;
  printf("status=%u kind=%u code=0x%x ms=%" PRIu64, net::ToPlatformError(s),
         static_cast<unsigned>(s.kind), static_cast<unsigned>(s.code), elapsed);
  if (net::IsOk(s)) {
    std::string utf8 = Utf16ToUtf8(domain.name.data(), domain.name.size());
    printf(" name=%s sid=%s", utf8.c_str(), SidText(domain.sid).c_str());
  }
  printf("\n");
  return 0;
}
