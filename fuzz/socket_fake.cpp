// SPDX-License-Identifier: Apache-2.0
// The outside world for in-process fuzzing: a clock that stands still, so a
// loop that only time would end shows up as a fuzzer timeout, and fixed
// "random" bytes, so every run of an input is the same. Nothing connects,
// and nobody has credentials.
#include "auth/authenticator.h"
#include "base/bounded_call.h"
#include "transport/socket.h"

namespace net {

uint64_t MonotonicMs() { return 0; }

bool FillRandom(uint8_t* out, size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 37 + 11);
  return true;
}

Status ConnectTcp(const std::string&, uint16_t, uint32_t, uint64_t, Connection*, Trace*) {
  return TransportFailure(kSocketFailure);
}

Status SendAll(Connection*, const uint8_t*, size_t, uint32_t) {
  return TransportFailure(kSocketFailure);
}

Status ReceiveExact(Connection*, uint8_t*, size_t, uint32_t) {
  return TransportFailure(kSocketFailure);
}

void CloseConnection(Connection*) {}

std::string LocalComputerName() { return "FUZZ"; }

CallOutcome RunBounded(const BoundedCall& call, uint64_t) {
  call.run(call.work);
  return CallOutcome::kFinished;
}

Status OpenCallerLogon(const std::string&, Authenticator*, Trace*) {
  return SecurityFailure(kNoCredential);
}

}  // namespace net
