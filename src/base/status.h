// SPDX-License-Identifier: Apache-2.0
// What went wrong in a query, carried as a number from the layer that saw it
// to the edge, and the one mapping from it to the platform's error numbers.
#ifndef KESTRIN_BASE_STATUS_H_
#define KESTRIN_BASE_STATUS_H_

#include <stddef.h>
#include <stdint.h>

namespace net {

enum class StatusKind : uint8_t {
  kOk,
  kNtStatus,   // code: the NTSTATUS a server sent (SMB2 header or RPC stub)
  kRpcFault,   // code: the status of a FAULT PDU, or a bind rejection (see below)
  kTransport,  // code: a TransportError
  kMalformed,  // code: unused; the reply broke the protocol's rules
  kSecurity,   // code: a SecurityError, seen by our side of the logon or signing
};

/// Failures seen on the socket rather than sent by the server, and failures
/// of the system under it on our own side.
enum TransportError : uint32_t {
  kResolveFailed = 1,  // the name does not resolve
  kConnectRefused,     // no listener (RST)
  kUnreachable,        // host or network unreachable
  kConnectTimeout,     // no answer to the connection attempt in time
  kReplyTimeout,       // connected, but a reply did not come in time
  kClosedEarly,        // closed before answering NEGOTIATE: not SMB2
  kClosed,             // closed or reset later on
  kSocketFailure,      // any other socket error
  kNegativeSession,    // a NetBIOS negative session response (access refused)
  kNoResources,        // our side: no memory, no thread, no socket to be had
  kOutOfTime,          // the query's time ran out before, or during, a step of ours
};

/// Failures of the logon or of message integrity on our own side.
enum SecurityError : uint32_t {
  kNoCredential = 1,   // no credential for this target: the query goes on anonymously
  kLogonFailed,        // our mechanism failed after tokens had gone out
  kMutualAuthFailed,   // the server's final logon token did not prove it
  kBadSignature,       // a signed answer's signature is missing or wrong
  kDowngradeDetected,  // the server's view of the negotiation differs from ours
  kNoSessionKey,       // signing is needed but the mechanism gives no session key
  kGuestSession,       // logged on with credentials, but made a guest or null session
  kCryptoUnavailable,  // the cryptographic library could not be used
  kDecryptFailed,      // an encrypted answer did not decrypt and authenticate
  kNotEncrypted,       // an answer came in clear where encryption is in force
  kNoCipher,           // encryption is required but no cipher was agreed on
  kNoAuthority,        // the KDC could not be reached or did not answer in time
  kTargetUnknown,      // the KDC has no principal for the server's name
  kContextExpired,     // the caller's ticket has expired
  kKerberosFailed,     // any other Kerberos failure: the KDC refused, or gave no ticket
};

/// Bind rejections, reported as kRpcFault with these codes.
constexpr uint32_t kBindRejectedInterface = 0x1C010003;  // nca_s_unk_if
constexpr uint32_t kBindRejectedTransfer = 0xE0000002;   // our own marker
constexpr uint32_t kBindRejectedOther = 0x1C000009;      // nca_unspec_reject

struct Status {
  StatusKind kind = StatusKind::kOk;
  uint32_t code = 0;
};

inline Status OkStatus() { return Status{}; }
inline Status NtFailure(uint32_t nt) { return Status{StatusKind::kNtStatus, nt}; }
/// A server's non-success status where only success would do: an error
/// stands for itself; a warning or informational status (the top two bits
/// not both set) in its place is a reply that breaks the protocol.
inline Status ServerRefusal(uint32_t nt) {
  return (nt >> 30) == 3 ? NtFailure(nt) : Status{StatusKind::kMalformed, 0};
}
inline Status RpcFailure(uint32_t fault) { return Status{StatusKind::kRpcFault, fault}; }
inline Status TransportFailure(TransportError e) { return Status{StatusKind::kTransport, e}; }
inline Status Malformed() { return Status{StatusKind::kMalformed, 0}; }
inline Status SecurityFailure(SecurityError e) { return Status{StatusKind::kSecurity, e}; }
inline bool IsSecurity(Status s, SecurityError e) {
  return s.kind == StatusKind::kSecurity && s.code == e;
}
inline bool IsOk(Status s) { return s.kind == StatusKind::kOk; }

/// The platform error number a caller sees for `s` (0 for success). A server
/// status or fault that the table does not know is returned unchanged, so the
/// caller can still recover it (an NTSTATUS prints as a negative number).
uint32_t ToPlatformError(Status s);

/// One row of the table ToPlatformError applies.
struct PlatformErrorRow {
  StatusKind kind;
  uint32_t code;              // the NTSTATUS, fault, TransportError; 0 for kMalformed
  uint32_t platform;          // the platform's error number
  const char* name;           // what `code` is called
  const char* platform_name;  // what `platform` is called
};

/// The whole table, in the order a reader would want it listed.
const PlatformErrorRow* PlatformErrorTable(size_t* count);

}  // namespace net

#endif  // KESTRIN_BASE_STATUS_H_
