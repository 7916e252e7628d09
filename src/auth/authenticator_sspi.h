// SPDX-License-Identifier: Apache-2.0
// The SSPI logon's name for the server it logs on to (Windows only).
#ifndef KESTRIN_AUTH_AUTHENTICATOR_SSPI_H_
#define KESTRIN_AUTH_AUTHENTICATOR_SSPI_H_

#include <string>

namespace net {

/// The service principal name of the SMB service on `host` (UTF-8, as the
/// connection uses it): "cifs/<host>" in UTF-16. False when `host` is empty
/// or holds a NUL, which no principal name can carry.
bool SmbServiceName(const std::string& host, std::wstring* name);

}  // namespace net

#endif  // KESTRIN_AUTH_AUTHENTICATOR_SSPI_H_
