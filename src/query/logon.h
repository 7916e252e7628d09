// SPDX-License-Identifier: Apache-2.0
// Which logon the query uses.
#ifndef KESTRIN_QUERY_LOGON_H_
#define KESTRIN_QUERY_LOGON_H_

#include <string>

#include "auth/authenticator.h"
#include "base/status.h"
#include "base/trace.h"

namespace net {

/// The logon to use: the caller's own, or anonymous when the platform has
/// no mechanism at all.
Status OpenLogon(const std::string& host, Authenticator* logon, Trace* trace);

}  // namespace net

#endif  // KESTRIN_QUERY_LOGON_H_
