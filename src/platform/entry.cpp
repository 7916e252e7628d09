// SPDX-License-Identifier: Apache-2.0
// The wide-character start-up: turns the UTF-8 command line into UTF-16 and
// hands it to the program's wide entry, whose result is the exit status.
#include <string.h>

#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/win32_api.h"

int main(int argc, char* argv[]) {
  std::vector<std::u16string> args;
  args.reserve(argc);
  for (int i = 0; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i], strlen(argv[i])));
  std::vector<WCHAR*> wide;
  wide.reserve(argc + 1);
  for (std::u16string& a : args) wide.push_back(&a[0]);
  wide.push_back(NULL);
  int status = wmain(argc, wide.data());
  fflush(stdout);
  return status;
}
