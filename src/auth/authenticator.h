// SPDX-License-Identifier: Apache-2.0
// The logon seam: what the SMB2 session setup needs of a security mechanism.
// A mechanism turns the server's tokens into ours until it is done, and then
// yields the session key, or none. The session setup does not know which
// mechanism runs behind it:
//   authenticator_anonymous.cpp  the anonymous NTLMSSP logon (every platform)
//   authenticator_gssapi.cpp     the caller's credentials through GSSAPI (POSIX)
//   authenticator_sspi.cpp       the caller's credentials through SSPI (Windows)
#ifndef KESTRIN_AUTH_AUTHENTICATOR_H_
#define KESTRIN_AUTH_AUTHENTICATOR_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "base/trace.h"

namespace net {

/// Which logon ran, for callers that report it; the exchange never asks.
enum class LogonMechanism : uint8_t {
  kAnonymous,
  kKerberos,
  kNtlm,
  kOther,  // a mechanism the caller's library chose that we do not name
};

/// The longest session key we keep: a Kerberos AES-256 key is 32 bytes.
constexpr size_t kMaxSessionKey = 32;

/// A session key; size 0 when the mechanism has none. Wiped by its holder.
struct SessionKey {
  uint8_t bytes[kMaxSessionKey] = {};
  size_t size = 0;
};

/// One logon in progress. All four calls are set by the Open functions;
/// `close` must be called once on every opened authenticator.
struct Authenticator {
  void* state = nullptr;
  /// Takes the server's latest token (none on the first call: `in` null,
  /// `in_size` 0) and appends the next token for the server to `out` (nothing
  /// when there is none). `*done` once the mechanism has finished. The first
  /// call may fail with kNoCredential: the caller has no credential that can
  /// apply to this target, as decided on this computer alone before anything
  /// that could reach another computer (a KDC) ran, and nothing was sent.
  /// No other call and no other point gives kNoCredential. Once a credential
  /// applies, every failure is the logon's answer, whatever a server or KDC
  /// said: kNoAuthority, kTargetUnknown, kContextExpired or kKerberosFailed
  /// when Kerberos could not get a ticket; after a token went out,
  /// kMutualAuthFailed when the server's token does not prove the server,
  /// Malformed when it is broken, kLogonFailed otherwise. Why goes to
  /// `trace` (none of it secret).
  Status (*step)(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out,
                 bool* done, Trace* trace) = nullptr;
  /// Once done: the session key (at most kMaxSessionKey bytes), or size 0.
  void (*session_key)(void* state, SessionKey* key) = nullptr;
  /// The mechanism that ran; kOther while the library has not said.
  /// kAnonymous from the anonymous logon only, at every point.
  LogonMechanism (*mechanism)(void* state) = nullptr;
  /// Releases the state, secrets wiped.
  void (*close)(void* state) = nullptr;
  /// The steps may wait on servers of their own (a KDC, its DNS records)
  /// with waits that know nothing of the query's deadline: they then run on
  /// a thread of their own, and the query stops waiting at its deadline.
  bool may_wait = false;
  /// The first step may ask a KDC (a ticket for a name); later steps, and
  /// every step of a logon to an address, wait on nobody.
  bool first_step_asks_kdc = false;
};

/// Closes `a` if it is open and leaves it empty.
inline void CloseLogon(Authenticator* a) {
  if (a->close != nullptr) a->close(a->state);
  *a = Authenticator();
}

/// The anonymous NTLMSSP logon in SPNEGO; two legs, no session key.
Status OpenAnonymousLogon(Authenticator* out);

/// A logon with the caller's own credentials, by the platform's conventions,
/// to the SMB service of `host` (a DNS name or an address literal, as the
/// connection uses it). Nothing is decided yet: the first step tells whether
/// a credential applies (kNoCredential), so that the libraries load while
/// the server works on the NEGOTIATE. Why a credential was or was not taken
/// goes to `trace` (none of it secret).
Status OpenCallerLogon(const std::string& host, Authenticator* out, Trace* trace = nullptr);

}  // namespace net

#endif  // KESTRIN_AUTH_AUTHENTICATOR_H_
