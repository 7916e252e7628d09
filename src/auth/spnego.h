// SPDX-License-Identifier: Apache-2.0
// SPNEGO (RFC 4178) around NTLMSSP for an anonymous SMB2 session setup.
#ifndef KESTRIN_AUTH_SPNEGO_H_
#define KESTRIN_AUTH_SPNEGO_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/status.h"

namespace net {

/// Leg 1: the GSS-framed negTokenInit offering NTLMSSP, with the NTLMSSP
/// NEGOTIATE message as its mechToken.
void EncodeSpnegoInit(std::vector<uint8_t>* out);

/// The server's answer to leg 1: a negTokenResp (accept-incomplete) whose
/// responseToken is an NTLMSSP CHALLENGE. Yields the CHALLENGE's flags.
Status DecodeSpnegoChallenge(const uint8_t* token, size_t size, uint32_t* challenge_flags);

/// Leg 2: a negTokenResp with an anonymous NTLMSSP AUTHENTICATE (no
/// mechListMIC: an anonymous session has no key).
void EncodeSpnegoAnonymousAuth(uint32_t challenge_flags, std::vector<uint8_t>* out);

/// The server's final token: accept-completed (an empty token is accepted
/// too). accept-reject or anything broken is a failure.
Status DecodeSpnegoFinal(const uint8_t* token, size_t size);

}  // namespace net

#endif  // KESTRIN_AUTH_SPNEGO_H_
