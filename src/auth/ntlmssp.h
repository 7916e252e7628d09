// SPDX-License-Identifier: Apache-2.0
// NTLMSSP messages for an anonymous logon (MS-NLMP 2.2.1, 3.1.5.1.2).
#ifndef KESTRIN_AUTH_NTLMSSP_H_
#define KESTRIN_AUTH_NTLMSSP_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/status.h"

namespace net {

/// The flags we offer in NEGOTIATE.
constexpr uint32_t kNtlmNegotiateFlags = 0xA2088205;
/// NTLMSSP_NEGOTIATE_ANONYMOUS.
constexpr uint32_t kNtlmAnonymous = 0x00000800;

/// Appends the 40-byte NEGOTIATE_MESSAGE.
void EncodeNtlmNegotiate(std::vector<uint8_t>* out);
/// Checks a CHALLENGE_MESSAGE (signature, type, field bounds) and yields its flags.
Status DecodeNtlmChallenge(const uint8_t* msg, size_t size, uint32_t* flags);
/// Appends the 88-byte anonymous AUTHENTICATE_MESSAGE: empty responses,
/// flags = (challenge ∩ ours) | ANONYMOUS, never KEY_EXCH.
void EncodeNtlmAnonymousAuthenticate(uint32_t challenge_flags, std::vector<uint8_t>* out);

}  // namespace net

#endif  // KESTRIN_AUTH_NTLMSSP_H_
