// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2_names.h"

#include <stdio.h>

#include "smb2/smb2.h"

namespace net {

const char* Smb2CommandName(uint16_t command) {
  static const char* const kNames[] = {
      "NEGOTIATE", "SESSION_SETUP", "LOGOFF", "TREE_CONNECT", "TREE_DISCONNECT", "CREATE", "CLOSE",
      "FLUSH",     "READ",          "WRITE",  "LOCK",         "IOCTL",           "CANCEL", "ECHO"};
  return command < sizeof kNames / sizeof kNames[0] ? kNames[command] : "SMB2 command";
}

const char* DialectName(uint16_t dialect, char (&buffer)[16]) {
  switch (dialect) {
    case kSmb2Dialect202: return "2.0.2";
    case kSmb2Dialect210: return "2.1";
    case kSmb2Dialect300: return "3.0";
    case kSmb2Dialect302: return "3.0.2";
    case kSmb2Dialect311: return "3.1.1";
    default: break;
  }
  snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(dialect));
  return buffer;
}

}  // namespace net
