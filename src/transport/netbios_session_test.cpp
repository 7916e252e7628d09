// SPDX-License-Identifier: Apache-2.0
#include "transport/netbios_session.h"

#include <gtest/gtest.h>

#include <string>

#include "transport/socket.h"
#include <vector>

namespace net {
namespace {

using Bytes = std::vector<uint8_t>;

/// A peer that answers with `answer`, then closes; what it was sent is kept.
struct ScriptedPeer {
  Bytes answer;
  size_t at = 0;
  Bytes sent;
  uint32_t last_timeout = 0;
  uint32_t delay_ms = 0;  // how long each piece of the answer takes to come
};

Status PeerSend(void* context, const uint8_t* data, size_t size) {
  ScriptedPeer* p = static_cast<ScriptedPeer*>(context);
  p->sent.insert(p->sent.end(), data, data + size);
  return OkStatus();
}

Status PeerReceive(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  ScriptedPeer* p = static_cast<ScriptedPeer*>(context);
  p->last_timeout = timeout_ms;
  if (p->delay_ms > timeout_ms) return TransportFailure(kReplyTimeout);
  for (uint64_t until = MonotonicMs() + p->delay_ms; MonotonicMs() < until;) {
  }
  if (p->answer.size() - p->at < size) return TransportFailure(kClosed);
  for (size_t i = 0; i < size; ++i) data[i] = p->answer[p->at++];
  return OkStatus();
}

Status Request(ScriptedPeer* peer, uint8_t* error) {
  Transport t{peer, PeerSend, PeerReceive};
  return RequestSession(&t, "SALES", "CLIENT", MonotonicMs() + 700, error);
}

bool IsTransport(Status s, TransportError e) {
  return s.kind == StatusKind::kTransport && s.code == e;
}

TEST(NetbiosSession, NamesAsThePlatformsClientDerivesThem) {
  EXPECT_EQ(NetbiosCalledName("fileserver.example.com"), "FILESERVER");
  EXPECT_EQ(NetbiosCalledName("Sales"), "SALES");
  EXPECT_EQ(NetbiosCalledName("build_host-2"), "BUILD_HOST-2");
  EXPECT_EQ(NetbiosCalledName("a-rather-long-host-name.lan"), "A-RATHER-LONG-H");
  for (const char* address : {"127.0.0.1", "10.1.2.3", "::1", "fe80::1%eth0", "2001:db8::5"}) {
    EXPECT_EQ(NetbiosCalledName(address), "*SMBSERVER") << address;
  }
  // Nothing the name service could hold as given.
  for (const char* odd : {"", ".example", "m\xc3\xbcller", "a b", "*SMBSERVER"}) {
    EXPECT_EQ(NetbiosCalledName(odd), "*SMBSERVER") << odd;
  }
  EXPECT_EQ(NetbiosCallingName("workstation.example.com"), "WORKSTATION");
  EXPECT_EQ(NetbiosCallingName(""), "KESTRIN");
  EXPECT_EQ(NetbiosCallingName("192.0.2.1"), "KESTRIN");
}

TEST(NetbiosSession, RequestIsFirstLevelEncoded) {
  Bytes request;
  EncodeSessionRequest("FRED", "*SMBSERVER", &request);
  ASSERT_EQ(request.size(), 72u);
  EXPECT_EQ(Bytes(request.begin(), request.begin() + 5), (Bytes{0x81, 0, 0, 68, 32}));
  // RFC 1001 14.1's own example, with the file server suffix 0x20 ("CA").
  EXPECT_EQ(std::string(request.begin() + 5, request.begin() + 37),
            "EGFCEFEECACACACACACACACACACACACA");
  EXPECT_EQ(request[37], 0);
  EXPECT_EQ(request[38], 32);
  // '*' 'S' 'M' 'B' ..., and the workstation suffix 0x00 ("AA") last.
  EXPECT_EQ(std::string(request.begin() + 39, request.begin() + 47), "CKFDENEC");
  EXPECT_EQ(std::string(request.begin() + 67, request.begin() + 71), "CAAA");
  EXPECT_EQ(request[71], 0);
}

TEST(NetbiosSession, AnswersAndTheirLengths) {
  uint8_t error = 9;
  EXPECT_TRUE(IsOk(DecodeSessionResponse(0x82, nullptr, 0, &error)));
  EXPECT_EQ(error, 0);
  const uint8_t refusal[1] = {kCalledNameNotPresent};
  EXPECT_TRUE(IsTransport(DecodeSessionResponse(0x83, refusal, 1, &error), kNegativeSession));
  EXPECT_EQ(error, kCalledNameNotPresent);
  const uint8_t elsewhere[6] = {192, 0, 2, 1, 0, 139};
  EXPECT_TRUE(IsTransport(DecodeSessionResponse(0x84, elsewhere, 6, &error), kNegativeSession));
  EXPECT_EQ(error, 0);

  const uint8_t extra[7] = {};
  EXPECT_EQ(DecodeSessionResponse(0x82, extra, 1, &error).kind, StatusKind::kMalformed);
  EXPECT_EQ(DecodeSessionResponse(0x83, nullptr, 0, &error).kind, StatusKind::kMalformed);
  EXPECT_EQ(DecodeSessionResponse(0x83, extra, 2, &error).kind, StatusKind::kMalformed);
  EXPECT_EQ(DecodeSessionResponse(0x84, extra, 5, &error).kind, StatusKind::kMalformed);
  // A session message (an SMB2 frame) or a request is no answer.
  EXPECT_EQ(DecodeSessionResponse(0x00, nullptr, 0, &error).kind, StatusKind::kMalformed);
  EXPECT_EQ(DecodeSessionResponse(0x81, extra, 7, &error).kind, StatusKind::kMalformed);

  uint8_t type = 0;
  size_t length = 0;
  const uint8_t long_header[4] = {0x00, 0x01, 0x00, 0x02};
  ASSERT_TRUE(IsOk(DecodeSessionHeader(long_header, &type, &length)));
  EXPECT_EQ(length, 0x10002u);
  const uint8_t reserved[4] = {0x82, 0x02, 0x00, 0x00};
  EXPECT_EQ(DecodeSessionHeader(reserved, &type, &length).kind, StatusKind::kMalformed);
}

TEST(NetbiosSession, ExchangeOverATransport) {
  ScriptedPeer positive;
  positive.answer = {0x85, 0, 0, 0, 0x85, 0, 0, 0, 0x82, 0, 0, 0};  // keep-alives first
  uint8_t error = 0;
  ASSERT_TRUE(IsOk(Request(&positive, &error)));
  EXPECT_EQ(positive.at, positive.answer.size());
  EXPECT_EQ(positive.sent.size(), 72u);
  EXPECT_LE(positive.last_timeout, 700u);  // what is left of the one limit
  EXPECT_GT(positive.last_timeout, 500u);

  ScriptedPeer negative;  // what Samba sends for "hosts deny"
  negative.answer = {0x83, 0, 0, 1, kNotListeningForCallingName};
  EXPECT_TRUE(IsTransport(Request(&negative, &error), kNegativeSession));
  EXPECT_EQ(error, kNotListeningForCallingName);

  ScriptedPeer chatty;  // keep-alives without end are no answer
  for (int i = 0; i < 5; ++i) chatty.answer.insert(chatty.answer.end(), {0x85, 0, 0, 0});
  chatty.answer.insert(chatty.answer.end(), {0x82, 0, 0, 0});
  EXPECT_EQ(Request(&chatty, &error).kind, StatusKind::kMalformed);

  ScriptedPeer slow;  // keep-alives that come slowly do not stretch the wait
  slow.answer = {0x85, 0, 0, 0, 0x85, 0, 0, 0, 0x85, 0, 0, 0, 0x82, 0, 0, 0};
  slow.delay_ms = 300;  // the answer would come after 1200 ms of the 700
  EXPECT_TRUE(IsTransport(Request(&slow, &error), kReplyTimeout));
  EXPECT_LT(slow.at, slow.answer.size());

  ScriptedPeer late_body;  // the body has what the header left of the limit, no more
  late_body.answer = {0x83, 0, 0, 1, kCalledNameNotPresent};
  late_body.delay_ms = 400;  // header after 400 ms, body after 800 ms of the 700
  EXPECT_TRUE(IsTransport(Request(&late_body, &error), kReplyTimeout));
  EXPECT_EQ(late_body.at, 4u);
  EXPECT_LE(late_body.last_timeout, 300u);

  ScriptedPeer huge;  // a length no answer has is not read
  huge.answer = {0x83, 0x01, 0xFF, 0xFF};
  EXPECT_EQ(Request(&huge, &error).kind, StatusKind::kMalformed);
  EXPECT_EQ(huge.at, 4u);
}

TEST(NetbiosSession, TruncatedAnswersFailCleanly) {
  const Bytes answers[] = {
      {0x82, 0, 0, 0},
      {0x83, 0, 0, 1, kCalledNameNotPresent},
      {0x84, 0, 0, 6, 127, 0, 0, 1, 0, 139},
      {0x85, 0, 0, 0, 0x82, 0, 0, 0},
  };
  for (const Bytes& whole : answers) {
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      ScriptedPeer peer;
      peer.answer.assign(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut));
      uint8_t error = 0;
      // A server that hangs up instead of answering is no session service.
      EXPECT_TRUE(IsTransport(Request(&peer, &error), kClosedEarly)) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace net
