// SPDX-License-Identifier: Apache-2.0
#include "query/logon.h"

namespace net {

Status OpenLogon(const std::string& host, Authenticator* logon, Trace* trace) {
  Status s = OpenCallerLogon(host, logon, trace);
  if (IsSecurity(s, kNoCredential)) {
    CloseLogon(logon);
    s = OpenAnonymousLogon(logon);
  }
  return s;
}

}  // namespace net
