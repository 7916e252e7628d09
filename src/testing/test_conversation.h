// SPDX-License-Identifier: Apache-2.0
// Recorded conversations for the exchange's tests, and a scripted peer and
// logon that replay them. The recordings (tests/data/*.txt) are made by
// kestrin_query_probe --record against real servers:
//   "> HEX"  a frame the client sent      "< HEX"  a frame the server sent
//   "r HEX"  random bytes the query used  "t HEX"  a token of the logon
//   "k HEX"  the logon's session key      "m NAME" the mechanism that ran
// Frames keep their 4-byte direct-TCP prefix; "#" lines are notes.
#ifndef KESTRIN_TESTING_TEST_CONVERSATION_H_
#define KESTRIN_TESTING_TEST_CONVERSATION_H_

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <fstream>
#include <string>
#include <vector>

#include "auth/authenticator.h"
#include "query/domain_query.h"
#include "smb2/smb2.h"
#include "base/clock.h"
#include "base/status.h"
#include "base/wire.h"

namespace net {

using Bytes = std::vector<uint8_t>;

/// A server frame and how many client frames must have gone out before it.
struct ServerFrame {
  Bytes bytes;
  size_t after_sends = 0;
};

struct Conversation {
  std::vector<Bytes> sent;
  std::vector<ServerFrame> received;
  std::vector<Bytes> random;
  std::vector<Bytes> tokens;
  Bytes key;
  std::string mechanism;
};

inline Bytes HexLine(const std::string& line) {
  Bytes b;
  for (size_t i = 2; i + 1 < line.size(); i += 2) {
    b.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
  }
  return b;
}

inline Conversation LoadConversation(const char* name) {
  Conversation c;
  std::ifstream in(std::string(KESTRIN_TESTDATA) + "/" + name);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 3 || line[0] == '#') continue;
    switch (line[0]) {
      case '>': c.sent.push_back(HexLine(line)); break;
      case '<': c.received.push_back({HexLine(line), c.sent.size()}); break;
      case 'r': c.random.push_back(HexLine(line)); break;
      case 't': c.tokens.push_back(HexLine(line)); break;
      case 'k': c.key = HexLine(line); break;
      case 'm': c.mechanism = line.substr(2); break;
    }
  }
  return c;
}

/// A scripted peer: serves the frames as one byte stream, each only once the
/// client has sent what it answers; then `at_end` (a silent peer by default).
/// Random bytes come from `random` in order, as recorded.
struct FakePeer {
  std::vector<ServerFrame> frames;
  size_t frame = 0;
  size_t offset = 0;
  std::vector<Bytes> sent;
  size_t receives = 0;
  size_t fail_at = SIZE_MAX;
  Status fail_with = TransportFailure(kClosed);
  Status at_end = TransportFailure(kReplyTimeout);
  uint32_t longest_wait = 0;
  std::vector<Bytes> random;
  size_t next_random = 0;
  /// The answer that follows the `late_after_sends`th frame sent comes only
  /// at `late_until` (a MonotonicMs time), as from a slow server.
  size_t late_after_sends = SIZE_MAX;
  uint64_t late_until = 0;
};

inline void SleepMs(uint32_t ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  usleep(ms * 1000);
#endif
}

inline Status FakeSend(void* context, const uint8_t* data, size_t size) {
  static_cast<FakePeer*>(context)->sent.emplace_back(data, data + size);
  return OkStatus();
}

inline Status FakeReceive(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  FakePeer* p = static_cast<FakePeer*>(context);
  if (timeout_ms > p->longest_wait) p->longest_wait = timeout_ms;
  if (p->receives++ == p->fail_at) return p->fail_with;
  if (p->sent.size() == p->late_after_sends) {
    p->late_after_sends = SIZE_MAX;
    uint64_t now = MonotonicMs();
    if (now < p->late_until) SleepMs(static_cast<uint32_t>(p->late_until - now));
  }
  for (size_t i = 0; i < size; ++i) {
    while (p->frame < p->frames.size() && p->offset == p->frames[p->frame].bytes.size()) {
      ++p->frame;
      p->offset = 0;
    }
    if (p->frame == p->frames.size()) return p->at_end;
    if (p->frames[p->frame].after_sends > p->sent.size()) return TransportFailure(kReplyTimeout);
    data[i] = p->frames[p->frame].bytes[p->offset++];
  }
  return OkStatus();
}

/// The recorded random bytes while they last, then a fixed pattern.
inline bool FakeRandom(void* context, uint8_t* out, size_t size) {
  FakePeer* p = static_cast<FakePeer*>(context);
  const Bytes* next = p->next_random < p->random.size() ? &p->random[p->next_random++] : nullptr;
  for (size_t i = 0; i < size; ++i) {
    out[i] = next != nullptr && i < next->size() ? (*next)[i] : static_cast<uint8_t>(i);
  }
  return true;
}

/// A logon that says what a recorded one said: its tokens in turn, then
/// done, then its key. It does not look at the server's tokens.
struct ReplayLogon {
  const Conversation* c = nullptr;
  size_t step = 0;
  int closes = 0;
  bool no_credential = false;  // the first step finds none
};

inline Status ReplayStep(void* state, const uint8_t*, size_t, std::vector<uint8_t>* out, bool* done,
                         Trace*) {
  ReplayLogon* r = static_cast<ReplayLogon*>(state);
  if (r->no_credential && r->step == 0) return SecurityFailure(kNoCredential);
  *done = r->step >= r->c->tokens.size();
  if (!*done) out->insert(out->end(), r->c->tokens[r->step].begin(), r->c->tokens[r->step].end());
  ++r->step;
  return OkStatus();
}

inline void ReplayKey(void* state, SessionKey* key) {
  const Bytes& k = static_cast<ReplayLogon*>(state)->c->key;
  key->size = k.size() < kMaxSessionKey ? k.size() : kMaxSessionKey;
  if (key->size > 0) memcpy(key->bytes, k.data(), key->size);
}

inline LogonMechanism ReplayMechanism(void* state) {
  const std::string& m = static_cast<ReplayLogon*>(state)->c->mechanism;
  return m == "kerberos" ? LogonMechanism::kKerberos
         : m == "ntlm"   ? LogonMechanism::kNtlm
                         : LogonMechanism::kOther;
}

inline void ReplayClose(void* state) { ++static_cast<ReplayLogon*>(state)->closes; }

inline Authenticator ReplayAuthenticator(ReplayLogon* r) {
  return Authenticator{r, ReplayStep, ReplayKey, ReplayMechanism, ReplayClose};
}

/// The header of the first message in a frame (prefix included).
inline Smb2Header FirstHeader(const Bytes& frame) {
  Smb2Header h;
  EXPECT_TRUE(DecodeSmb2Header(frame.data() + 4, frame.size() - 4, &h));
  return h;
}

/// A frame holding one response message: `h` (NextCommand cleared), then `body`.
inline Bytes Frame(Smb2Header h, const Bytes& body) {
  h.next_command = 0;
  Smb2Frame f;
  StartFrame(&f);
  EncodeSmb2Header(h, &f.bytes);
  f.bytes.insert(f.bytes.end(), body.begin(), body.end());
  EXPECT_TRUE(FinishFrame(&f));
  return f.bytes;
}

/// An error body as servers before 3.1.1 send it: ByteCount 0 and the one
/// ErrorData byte the structure counts (73-byte answers).
const Bytes kErrorBody = {9, 0, 0, 0, 0, 0, 0, 0, 0x21};
/// The same as newer Windows sends it, without that byte (72-byte answers).
const Bytes kShortErrorBody = {9, 0, 0, 0, 0, 0, 0, 0};

/// An interim STATUS_PENDING answer to the request answered by `h`.
inline Bytes Interim(Smb2Header h, const Bytes& body = kErrorBody) {
  h.status = 0x103;
  h.flags = kSmb2FlagResponse | kSmb2FlagAsync;
  h.async_id = 9;
  return Frame(h, body);
}

/// A DCE/RPC RESPONSE fragment for `call_id`.
inline Bytes RpcFragment(uint8_t flags, const Bytes& stub, uint32_t call_id = 3) {
  Bytes b = {5, 0, 2, flags, 0x10, 0, 0, 0};
  WireWriter w{&b};
  PutU16(w, static_cast<uint16_t>(24 + stub.size()));
  PutU16(w, 0);
  PutU32(w, call_id);
  PutU32(w, static_cast<uint32_t>(stub.size()));
  PutU32(w, 0);
  PutBytes(w, stub.data(), stub.size());
  return b;
}

/// A pipe IOCTL answer (`h` from a recording) carrying `output`.
inline Bytes IoctlFrame(Smb2Header h, uint32_t status, const Bytes& output) {
  h.status = status;
  Bytes body = {49, 0, 0, 0, 0x17, 0xC0, 0x11, 0};
  WireWriter w{&body};
  PutZeros(w, 24);
  PutU32(w, 0x70);
  PutU32(w, static_cast<uint32_t>(output.size()));
  PutZeros(w, 8);
  PutBytes(w, output.data(), output.size());
  return Frame(h, body);
}

}  // namespace net

#endif  // KESTRIN_TESTING_TEST_CONVERSATION_H_
