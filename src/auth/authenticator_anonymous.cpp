// SPDX-License-Identifier: Apache-2.0
// The anonymous logon as an Authenticator: SPNEGO around NTLMSSP, two legs,
// no session key (MS-NLMP 3.1.5.1.2).
#include <new>

#include "auth/authenticator.h"
#include "base/ntstatus.h"
#include "auth/spnego.h"

namespace net {
namespace {

struct AnonymousLogon {
  int legs = 0;  // tokens handed out so far
  bool done = false;
};

Status Step(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out, bool* done,
            Trace*) {
  AnonymousLogon* logon = static_cast<AnonymousLogon*>(state);
  *done = false;
  if (logon->done) return Malformed();  // nothing is left to answer
  if (logon->legs == 0) {
    EncodeSpnegoInit(out);
  } else if (logon->legs == 1) {
    uint32_t challenge_flags = 0;
    Status s = DecodeSpnegoChallenge(in, in_size, &challenge_flags);
    if (!IsOk(s)) return s;
    EncodeSpnegoAnonymousAuth(challenge_flags, out);
  } else {
    Status s = DecodeSpnegoFinal(in, in_size);
    if (!IsOk(s)) return s;
    logon->done = *done = true;
    return OkStatus();
  }
  ++logon->legs;
  return OkStatus();
}

void NoSessionKey(void*, SessionKey* key) { key->size = 0; }

LogonMechanism Anonymous(void*) { return LogonMechanism::kAnonymous; }

void Close(void* state) { delete static_cast<AnonymousLogon*>(state); }

}  // namespace

Status OpenAnonymousLogon(Authenticator* out) {
  AnonymousLogon* logon = new (std::nothrow) AnonymousLogon();
  if (logon == nullptr) return NtFailure(kStatusNoMemory);
  *out = Authenticator{logon, Step, NoSessionKey, Anonymous, Close};
  return OkStatus();
}

}  // namespace net
