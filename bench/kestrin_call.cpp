// SPDX-License-Identifier: Apache-2.0
// One call of Kestrin at level 2 against the computer named on the command
// line, for timing the query by itself: prints the status and exits with it.
#include <string.h>

#include <string>

#include "platform/netapi.h"
#include "base/utf.h"

int main(int argc, char** argv) {
  std::u16string server = argc > 1 ? Utf8ToUtf16(argv[1], strlen(argv[1])) : u"";
  LPBYTE record = NULL;
  NET_API_STATUS status = Kestrin(reinterpret_cast<LPCWSTR>(server.c_str()), 2, &record);
  if (record != NULL) NetApiBufferFree(record);
  fprintf(stdout, "%u\n", static_cast<unsigned>(status));
  return status == 0 ? 0 : 1;
}
