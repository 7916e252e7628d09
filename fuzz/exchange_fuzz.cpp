// SPDX-License-Identifier: Apache-2.0
// Runs the whole query against a fake server that answers with the fuzzer's
// input. The input is a list of records, each a 2-byte little-endian length
// and that many bytes: the payload of one server frame (the SMB2 responses,
// without the direct-TCP prefix, which the fake writes from the length). A
// record cut short by the end of the input is served as far as it goes.
// Every send is accepted; once the records are used up, every receive is a
// reply timeout, so no input can make the query wait.
// Each input runs twice: logged on anonymously, and with a stand-in for the
// caller's credentials whose session key is there or not (by the input's
// length), so that the signed and the unsigned authenticated paths are
// both reached.
// fuzz/exchange_corpus/ holds recorded conversations in that form.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "auth/authenticator.h"
#include "query/domain_query.h"
#include "smb2/smb2.h"

namespace {

/// Requests one query can send: four SESSION_SETUP legs and at most nine
/// more frames (NEGOTIATE; on one credit TREE_CONNECT, CREATE and BIND
/// each alone; CREATE and BIND again; the validation alone; the two calls),
/// plus the READs allowed for each of the four pipe answers.
constexpr size_t kMaxSends = 4 + 9 + 4 * 64;

struct FakeServer {
  std::vector<uint8_t> stream;  // every frame, prefixes included
  size_t pos = 0;
  size_t sends = 0;
};

net::Status Send(void* context, const uint8_t* data, size_t size) {
  FakeServer* server = static_cast<FakeServer*>(context);
  // What we send is ours: a well-formed prefix over the whole frame.
  size_t length = size < 4 ? 0 : (size_t{data[1]} << 16) | (size_t{data[2]} << 8) | data[3];
  if (size < 4 || data[0] != 0 || length != size - 4) abort();
  if (++server->sends > kMaxSends) abort();
  return net::OkStatus();
}

net::Status Receive(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  FakeServer* server = static_cast<FakeServer*>(context);
  if (timeout_ms == 0 || size > server->stream.size() - server->pos) {
    return net::TransportFailure(net::kReplyTimeout);
  }
  for (size_t i = 0; i < size; ++i) data[i] = server->stream[server->pos + i];
  server->pos += size;
  return net::OkStatus();
}

/// Turns the records into the byte stream a server would send.
void BuildStream(const uint8_t* data, size_t size, std::vector<uint8_t>* stream) {
  while (size >= 2) {
    size_t length = data[0] | (size_t{data[1]} << 8);
    data += 2;
    size -= 2;
    if (length > size) length = size;
    stream->push_back(0);
    stream->push_back(static_cast<uint8_t>(length >> 16));
    stream->push_back(static_cast<uint8_t>(length >> 8));
    stream->push_back(static_cast<uint8_t>(length));
    stream->insert(stream->end(), data, data + length);
    data += length;
    size -= length;
  }
}

/// A credential logon that says something on every leg and is done when
/// the server's token has an even length.
struct FakeLogon {
  bool with_key;
  bool done = false;
};

net::Status FakeStep(void* state, const uint8_t*, size_t in_size, std::vector<uint8_t>* out,
                     bool* done, net::Trace*) {
  FakeLogon* logon = static_cast<FakeLogon*>(state);
  if (logon->done) abort();  // the exchange never steps a finished logon
  *done = logon->done = in_size > 0 && in_size % 2 == 0;
  if (!*done) out->push_back(0x60);
  return net::OkStatus();
}

void FakeKey(void* state, net::SessionKey* key) {
  FakeLogon* logon = static_cast<FakeLogon*>(state);
  key->size = logon->with_key ? 16 : 0;
  for (size_t i = 0; i < key->size; ++i) key->bytes[i] = static_cast<uint8_t>(i);
}

net::LogonMechanism FakeMechanism(void*) { return net::LogonMechanism::kNtlm; }
void FakeClose(void*) {}

void RunOnce(const uint8_t* data, size_t size, net::Authenticator* logon) {
  FakeServer server;
  BuildStream(data, size, &server.stream);
  net::Transport transport{&server, Send, Receive};
  net::AccountDomain out;
  net::Status s = net::RunDomainQuery(&transport, logon, net::QueryLimits(), &out);
  if (net::IsOk(s)) {
    if (out.sid.sub_count > 15) abort();
  } else {
    // A failed query never reads as success and leaves the answer alone;
    // the only failure the fake transport itself reports is running out of
    // input.
    if (net::ToPlatformError(s) == 0) abort();
    if (!out.name.empty() || out.sid.sub_count != 0) abort();
    if (s.kind == net::StatusKind::kTransport && s.code != net::kReplyTimeout) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunOnce(data, size, nullptr);
  FakeLogon fake{size % 2 == 0};
  net::Authenticator logon;
  logon.state = &fake;
  logon.step = FakeStep;
  logon.session_key = FakeKey;
  logon.mechanism = FakeMechanism;
  logon.close = FakeClose;
  RunOnce(data, size, &logon);
  return 0;
}
