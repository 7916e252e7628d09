// SPDX-License-Identifier: Apache-2.0
// Prints the status table the program maps its failures with
// (src/base/status.cpp), one row a line, tab-separated: the number as the
// status line shows it, the number's name, the name of what maps to it (an
// NT status, an RPC fault, or a cause of our own) and, for a server's status
// or fault, its value (0xC0000022). Rows that never reach the status line
// are left out. tests/install/install_test.sh compares this with the
// manual page's STATUS NUMBERS.
#include <stdint.h>
#include <stdio.h>

#include "base/status.h"

int main() {
  size_t count = 0;
  const net::PlatformErrorRow* table = net::PlatformErrorTable(&count);
  for (size_t i = 0; i < count; ++i) {
    const net::PlatformErrorRow& row = table[i];
    // No credential for the target is never the answer: the query goes on
    // anonymously.
    if (row.kind == net::StatusKind::kSecurity && row.code == net::kNoCredential) continue;
    const bool from_server =
        row.kind == net::StatusKind::kNtStatus || row.kind == net::StatusKind::kRpcFault;
    printf("%d\t%s\t%s\t", static_cast<int>(static_cast<int32_t>(row.platform)), row.platform_name,
           row.name);
    if (from_server) {
      printf("0x%08X\n", static_cast<unsigned>(row.code));
    } else {
      printf("-\n");
    }
  }
  return 0;
}
