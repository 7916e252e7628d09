// SPDX-License-Identifier: Apache-2.0
// The NetBIOS session service on TCP port 139 (RFC 1001, RFC 1002): where a
// server does not listen on 445, a session request naming it comes first,
// then the same SMB2 exchange, framed alike.
#ifndef KESTRIN_TRANSPORT_NETBIOS_SESSION_H_
#define KESTRIN_TRANSPORT_NETBIOS_SESSION_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "transport/transport.h"

namespace net {

constexpr uint16_t kNetbiosSessionPort = 139;
/// The called name every server answers to, for a host known by address.
constexpr const char* kAnyServerName = "*SMBSERVER";
/// NEGATIVE SESSION RESPONSE error codes (RFC 1002 4.3.4).
constexpr uint8_t kNotListeningOnCalledName = 0x80;
constexpr uint8_t kNotListeningForCallingName = 0x81;
constexpr uint8_t kCalledNameNotPresent = 0x82;
constexpr uint8_t kCalledNameInsufficientResources = 0x83;

/// The NetBIOS name of `host` as the platform's client derives it: the
/// first label of a DNS name in upper case, cut to 15 characters; for an
/// IPv4 or IPv6 literal, or a label that is not plain ASCII (letters,
/// digits, '-' and '_'), kAnyServerName.
std::string NetbiosCalledName(const std::string& host);

/// The name we call from: `computer` (this computer's name, as the system
/// gives it) in the same form; a name that has none, "KESTRIN".
std::string NetbiosCallingName(const std::string& computer);

/// RFC 1002 4.3.2: a SESSION REQUEST from `calling` (suffix 0x00, a
/// workstation) to `called` (suffix 0x20, the file server), each a name of
/// at most 15 characters, padded with spaces and first-level encoded
/// (RFC 1001 14.1).
void EncodeSessionRequest(const std::string& called, const std::string& calling,
                          std::vector<uint8_t>* out);

/// RFC 1002 4.3.1: the type and length of a session packet from its 4-byte
/// header; kMalformed when the reserved flag bits are set.
Status DecodeSessionHeader(const uint8_t header[4], uint8_t* type, size_t* length);

/// RFC 1002 4.3.3-4.3.5: the server's answer (`type`, then `size` bytes).
/// POSITIVE: OK. NEGATIVE: kNegativeSession, its error code in `*error`.
/// RETARGET: kNegativeSession as well (another address is not followed).
/// Anything else, or a length that does not fit the type: kMalformed.
Status DecodeSessionResponse(uint8_t type, const uint8_t* body, size_t size, uint8_t* error);

/// Asks for a session over `t` and reads the answer, all of it (keep-alives,
/// header and body) by `until` (a MonotonicMs time); keep-alives before it
/// are skipped. A negative answer leaves its error code in `*error` (else 0).
Status RequestSession(Transport* t, const std::string& called, const std::string& calling,
                      uint64_t until, uint8_t* error);

}  // namespace net

#endif  // KESTRIN_TRANSPORT_NETBIOS_SESSION_H_
