// The caller's own logon through GSSAPI.
#include "net/authenticator.h"

namespace net {

Status OpenCallerLogon(const std::string&, Authenticator*) {
  return SecurityFailure(kNoCredential);
}

}  // namespace net
