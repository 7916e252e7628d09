// SPDX-License-Identifier: Apache-2.0
// Setting up the SMB2 session: NEGOTIATE, the logon through an
// Authenticator, the signing key, and the check that nobody altered the
// negotiation (MS-SMB2 3.2.4.2, 3.2.5.2, 3.2.5.3, 3.2.5.14.12).
#ifndef KESTRIN_SMB2_SMB2_SESSION_H_
#define KESTRIN_SMB2_SMB2_SESSION_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "auth/authenticator.h"
#include "smb2/smb2.h"
#include "smb2/smb2_connection.h"
#include "smb2/smb2_signing.h"
#include "base/status.h"

namespace net {

struct Smb2Session {
  Smb2NegotiateOffer offer;
  Smb2NegotiateResult negotiated;
  /// The logon ran with the caller's credentials (not anonymously).
  bool authenticated = false;
  LogonMechanism mechanism = LogonMechanism::kAnonymous;
  PreauthHash preauth;  // 3.1.1, authenticated sessions only
  std::vector<uint8_t> first_token;
};

/// NEGOTIATE, then the logon with `logon` to the end: `c` then knows its
/// session (and signs from here on when the logon gave a key). When the
/// first step of `logon` finds no credential, `logon` is closed and
/// replaced by the anonymous logon. The caller still closes `logon`.
Status SetUpSession(Smb2Connection* c, Authenticator* logon, Smb2Session* session);

/// Whether the negotiation must be validated: 3.0 and 3.0.2 on a signed
/// session (3.1.1 protects it with the preauth hash instead).
bool NeedsValidation(const Smb2Connection& c, const Smb2Session& session);

/// Checks the answer to our VALIDATE_NEGOTIATE_INFO (`id`) against what
/// the NEGOTIATE response said. A server that hangs up instead is taken to
/// have found a mismatch, as MS-SMB2 3.3.5.15.12 has it do.
Status CheckValidation(Smb2Connection* c, const Smb2Session& session, uint64_t id);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_SESSION_H_
