// SPDX-License-Identifier: Apache-2.0
// The GSSAPI logon's name for the server it logs on to (POSIX only).
#ifndef KESTRIN_AUTH_AUTHENTICATOR_GSSAPI_H_
#define KESTRIN_AUTH_AUTHENTICATOR_GSSAPI_H_

#include <string>

namespace net {

/// The Kerberos principal of the SMB service on `host` (as the connection
/// uses it), in the default realm: "cifs/<host>", '@', '/' and '\' escaped.
std::string KerberosServiceName(const std::string& host);

}  // namespace net

#endif  // KESTRIN_AUTH_AUTHENTICATOR_GSSAPI_H_
