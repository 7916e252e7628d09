// SPDX-License-Identifier: Apache-2.0
#include "query/domain_query.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "smb2/smb2.h"
#include "testing/test_conversation.h"
#include "base/wire.h"

namespace net {
namespace {

Status RunPeer(FakePeer* peer, AccountDomain* out, QueryLimits limits = QueryLimits()) {
  Transport t{peer, FakeSend, FakeReceive, FakeRandom};
  return RunDomainQuery(&t, nullptr, limits, out);
}

Status RunFrames(const std::vector<ServerFrame>& frames) {
  FakePeer peer;
  peer.frames = frames;
  AccountDomain out;
  return RunPeer(&peer, &out);
}

bool Is(Status s, StatusKind kind, uint32_t code) { return s.kind == kind && s.code == code; }

class DomainQueryFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = LoadConversation("samba_sales_lsa.txt");
    ASSERT_EQ(c_.received.size(), 7u);
  }
  Conversation c_;
};

TEST_F(DomainQueryFlow, RecordedConversationGivesNameAndSidInSixRoundTrips) {
  FakePeer peer;
  peer.frames = c_.received;
  peer.random = c_.random;
  AccountDomain out;
  ASSERT_TRUE(IsOk(RunPeer(&peer, &out)));
  EXPECT_EQ(out.name, u"SALES");
  EXPECT_EQ(out.sid.revision, 1);
  EXPECT_EQ(out.sid.authority[5], 5);
  ASSERT_EQ(out.sid.sub_count, 4);
  EXPECT_EQ(out.sid.sub[0], 21u);
  EXPECT_EQ(out.sid.sub[1], 100u);
  EXPECT_EQ(out.sid.sub[2], 200u);
  EXPECT_EQ(out.sid.sub[3], 300u);
  EXPECT_EQ(peer.sent.size(), 6u);
  ASSERT_EQ(peer.sent.size(), c_.sent.size());
  // Byte for byte what the server accepted, ids and random bytes included.
  for (size_t i = 0; i < peer.sent.size(); ++i) EXPECT_EQ(peer.sent[i], c_.sent[i]) << i;
  EXPECT_LE(peer.longest_wait, QueryLimits().reply_ms);
}

// The credits the final SESSION_SETUP answer grants decide how the pipe is
// opened: the whole compound, one request alone, or nothing at all when the
// server left no credit (which it must not).
TEST_F(DomainQueryFlow, GrantedCreditsShapeTheNextFrame) {
  for (uint16_t granted : {0, 1, 2, 3}) {
    std::vector<ServerFrame> frames = c_.received;
    frames[2].bytes[4 + 14] = static_cast<uint8_t>(granted);
    frames[2].bytes[4 + 15] = 0;
    FakePeer peer;
    peer.frames = frames;
    peer.random = c_.random;
    AccountDomain out;
    Status s = RunPeer(&peer, &out);
    if (granted == 0) {
      EXPECT_EQ(s.kind, StatusKind::kMalformed);
      EXPECT_EQ(peer.sent.size(), 3u);
      continue;
    }
    ASSERT_GE(peer.sent.size(), 4u) << granted;
    Smb2Header tree = FirstHeader(peer.sent[3]);
    EXPECT_EQ(tree.command, kSmb2TreeConnect);
    EXPECT_EQ(tree.next_command == 0, granted < 3) << granted;
    if (granted == 3) {
      EXPECT_TRUE(IsOk(s));
    }
  }
}

// Recorded against servers that grant one and two credits at a time: the
// compound goes one request at a time (with two credits: TREE_CONNECT
// alone, then CREATE + BIND), the CREATE with the TreeId the TREE_CONNECT
// answer gave, a lone BIND with the FileId of the CREATE answer.
TEST(DomainQueryCredits, StingyServersGetOneRequestAtATime) {
  for (auto [file, trips] : {std::pair<const char*, size_t>{"samba_sales_credits1.txt", 8},
                             {"samba_sales_credits2.txt", 7}}) {
    SCOPED_TRACE(file);
    Conversation c = LoadConversation(file);
    FakePeer peer;
    peer.frames = c.received;
    peer.random = c.random;
    AccountDomain out;
    ASSERT_TRUE(IsOk(RunPeer(&peer, &out)));
    EXPECT_EQ(out.name, u"SALES");
    ASSERT_EQ(peer.sent.size(), trips);
    ASSERT_EQ(c.sent.size(), trips);
    for (size_t i = 0; i < trips; ++i) EXPECT_EQ(peer.sent[i], c.sent[i]) << i;
    Smb2Header create = FirstHeader(peer.sent[4]);
    EXPECT_EQ(create.command, kSmb2Create);
    EXPECT_EQ(create.flags & kSmb2FlagRelated, 0u);
    EXPECT_EQ(create.tree_id, FirstHeader(c.received[3].bytes).tree_id);
    if (trips == 8) {
      const size_t file_in_create = 4 + 64 + 64, file_in_ioctl = 4 + 64 + 8;
      Bytes opened(c.received[4].bytes.begin() + file_in_create,
                   c.received[4].bytes.begin() + file_in_create + 16);
      Bytes used(peer.sent[5].begin() + file_in_ioctl, peer.sent[5].begin() + file_in_ioctl + 16);
      EXPECT_EQ(used, opened);
    }
  }
}

TEST_F(DomainQueryFlow, FailingEachReceiveFailsCleanly) {
  for (Status fault : {TransportFailure(kClosed), TransportFailure(kReplyTimeout)}) {
    for (size_t n = 0; n < 2 * c_.received.size(); ++n) {
      FakePeer peer;
      peer.frames = c_.received;
      peer.fail_at = n;
      peer.fail_with = fault;
      AccountDomain out;
      Status s = RunPeer(&peer, &out);
      // Closed before NEGOTIATE was answered: most likely an SMB1-only server.
      uint32_t expect = n < 2 && fault.code == kClosed ? kClosedEarly : fault.code;
      EXPECT_TRUE(Is(s, StatusKind::kTransport, expect)) << n;
      EXPECT_TRUE(out.name.empty());
    }
  }
}

TEST_F(DomainQueryFlow, EveryTruncatedReplyIsRejected) {
  for (size_t k = 0; k < c_.received.size(); ++k) {
    const Bytes& whole = c_.received[k].bytes;
    for (size_t len = 0; len + 4 < whole.size(); ++len) {
      std::vector<ServerFrame> frames = c_.received;
      Bytes& b = frames[k].bytes;
      b.resize(4 + len);
      b[1] = static_cast<uint8_t>(len >> 16);
      b[2] = static_cast<uint8_t>(len >> 8);
      b[3] = static_cast<uint8_t>(len);
      Status s = RunFrames(frames);
      ASSERT_FALSE(IsOk(s)) << "frame " << k << " cut to " << len;
      EXPECT_NE(s.kind, StatusKind::kTransport) << "frame " << k << " cut to " << len;
    }
  }
}

TEST_F(DomainQueryFlow, CorruptedBytesNeverCrash) {
  size_t failures = 0;
  for (size_t k = 0; k < c_.received.size(); ++k) {
    for (size_t i = 0; i < c_.received[k].bytes.size(); ++i) {
      std::vector<ServerFrame> frames = c_.received;
      frames[k].bytes[i] ^= 0xFF;
      failures += IsOk(RunFrames(frames)) ? 0 : 1;
    }
  }
  EXPECT_GT(failures, 0u);
}

TEST_F(DomainQueryFlow, InterimPendingRepliesAreSkippedButBounded) {
  // Before the OpenPolicy2 answer, and chained after CREATE for the BIND.
  std::vector<ServerFrame> frames = c_.received;
  ServerFrame pending{Interim(FirstHeader(c_.received[5].bytes), kShortErrorBody), 5};
  frames.insert(frames.begin() + 5, pending);
  Bytes& compound = frames[3].bytes;
  Bytes bind_interim = Interim(FirstHeader(c_.received[4].bytes));
  size_t create_at = 4 + FirstHeader(compound).next_command;
  PatchU32(WireWriter{&compound}, create_at + 20,
           static_cast<uint32_t>(compound.size() - create_at));
  compound.insert(compound.end(), bind_interim.begin() + 4, bind_interim.end());
  size_t len = compound.size() - 4;
  compound[2] = static_cast<uint8_t>(len >> 8);
  compound[3] = static_cast<uint8_t>(len);
  AccountDomain out;
  FakePeer peer;
  peer.frames = frames;
  ASSERT_TRUE(IsOk(RunPeer(&peer, &out)));
  EXPECT_EQ(out.name, u"SALES");
  EXPECT_EQ(peer.sent.size(), 6u);

  // A peer that never stops saying "pending".
  frames = c_.received;
  frames.insert(frames.begin() + 5, 20, pending);
  EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed);
  // STATUS_PENDING without the async flag is no interim answer.
  frames = c_.received;
  Smb2Header h = FirstHeader(c_.received[5].bytes);
  h.status = 0x103;
  frames.insert(frames.begin() + 5, {Frame(h, kErrorBody), 5});
  EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed);
}

Bytes ReadFrame(Smb2Header h, uint64_t id, const Bytes& data) {
  h.command = kSmb2Read;
  h.message_id = id;
  Bytes body = {17, 0, 0x50, 0};
  WireWriter w{&body};
  PutU32(w, static_cast<uint32_t>(data.size()));
  PutZeros(w, 8);
  PutBytes(w, data.data(), data.size());
  return Frame(h, body);
}

TEST_F(DomainQueryFlow, FragmentedReplyIsReadUntilTheLastFragment) {
  const Bytes& recorded = c_.received[6].bytes;
  Smb2Header h = FirstHeader(recorded);
  size_t pdu_at = 4 + recorded[4 + 96];  // OutputOffset, below 256 here
  Bytes stub(recorded.begin() + pdu_at + 24, recorded.end());
  Bytes first = RpcFragment(1, Bytes(stub.begin(), stub.begin() + 40));
  Bytes last = RpcFragment(2, Bytes(stub.begin() + 40, stub.end()));
  // The IOCTL overflows with the first fragment and a bit of the last; two
  // READs bring the rest, the first one with STATUS_SUCCESS though partial.
  Bytes output = first;
  output.insert(output.end(), last.begin(), last.begin() + 10);
  std::vector<ServerFrame> frames(c_.received.begin(), c_.received.end() - 1);
  frames.push_back({IoctlFrame(h, 0x80000005, output), 6});
  frames.push_back({ReadFrame(h, 8, Bytes(last.begin() + 10, last.begin() + 30)), 7});
  frames.push_back({ReadFrame(h, 9, Bytes(last.begin() + 30, last.end())), 8});
  FakePeer peer;
  peer.frames = frames;
  AccountDomain out;
  ASSERT_TRUE(IsOk(RunPeer(&peer, &out)));
  EXPECT_EQ(out.name, u"SALES");
  EXPECT_EQ(peer.sent.size(), 8u);

  // Bytes after the last fragment would poison the next call.
  Bytes extra = first;
  extra.insert(extra.end(), last.begin(), last.end());
  extra.push_back(0);
  frames.resize(6);
  frames.push_back({IoctlFrame(h, 0, extra), 6});
  EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed);
  // A READ that brings nothing, and one that dribbles a byte at a time.
  frames.back().bytes = IoctlFrame(h, 0x80000005, first);
  frames.push_back({ReadFrame(h, 8, Bytes()), 7});
  EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed);
  frames.pop_back();
  frames.back().bytes = IoctlFrame(h, 0x80000005, Bytes(first.begin(), first.begin() + 10));
  Bytes rest(first.begin() + 10, first.end());
  rest.insert(rest.end(), last.begin(), last.end());
  for (size_t i = 0; i < rest.size(); ++i)
    frames.push_back({ReadFrame(h, 8 + i, {rest[i]}), 7 + i});
  EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed);
}

TEST_F(DomainQueryFlow, ReplyToAnotherRequestIsMalformed) {
  for (size_t k = 0; k < c_.received.size(); ++k) {
    std::vector<ServerFrame> frames = c_.received;
    frames[k].bytes[4 + 24] ^= 0x01;  // MessageId of its first response
    EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed) << k;
  }
}

TEST_F(DomainQueryFlow, ServerErrorAtEachStepIsReported) {
  // NEGOTIATE, both SESSION_SETUP legs, TREE_CONNECT, the BIND and both calls.
  for (size_t k = 0; k < c_.received.size(); ++k) {
    std::vector<ServerFrame> frames = c_.received;
    Smb2Header h = FirstHeader(frames[k].bytes);
    h.status = 0xC0000022;
    frames[k].bytes = Frame(h, kErrorBody);
    EXPECT_TRUE(Is(RunFrames(frames), StatusKind::kNtStatus, 0xC0000022)) << k;
    // The 72-byte form that newer Windows sends gives the same status.
    frames[k].bytes = Frame(h, kShortErrorBody);
    EXPECT_TRUE(Is(RunFrames(frames), StatusKind::kNtStatus, 0xC0000022)) << k;
    // A warning where only success will do is no error of the server's:
    // it must not pass for one (nor as "more data").
    h.status = 0x80000006;
    frames[k].bytes = Frame(h, kErrorBody);
    EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed) << k;
    // Each status the platform's translation knows comes out as its number,
    // MORE_PROCESSING_REQUIRED included: at each step the same.
    for (auto [status, platform] : {std::pair<uint32_t, uint32_t>{0xC0000001, 31},
                                    {0xC00000D0, 71},
                                    {0xC0000016, 234},
                                    {0xC0000199, 1808}}) {
      h.status = status;
      frames[k].bytes = Frame(h, kErrorBody);
      EXPECT_EQ(ToPlatformError(RunFrames(frames)), platform) << k << " " << status;
    }
  }
  // As recorded from a server that refuses anonymous access to IPC$.
  Conversation denied = LoadConversation("samba_sales_denied.txt");
  ASSERT_EQ(denied.received.size(), 4u);
  FakePeer peer;
  peer.frames = denied.received;
  AccountDomain out;
  EXPECT_TRUE(Is(RunPeer(&peer, &out), StatusKind::kNtStatus, 0xC0000022));
  EXPECT_EQ(peer.sent.size(), 4u);
  // An unexpected success before the challenge: nothing to answer.
  std::vector<ServerFrame> frames = c_.received;
  PatchU32(WireWriter{&frames[1].bytes}, 4 + 8, 0);
  EXPECT_EQ(RunFrames(frames).kind, StatusKind::kMalformed);
}

TEST_F(DomainQueryFlow, PeerThatIsSilentClosesOrRefusesFailsCleanly) {
  std::vector<ServerFrame> frames(c_.received.begin(), c_.received.begin() + 3);
  EXPECT_TRUE(Is(RunFrames(frames), StatusKind::kTransport, kReplyTimeout));
  FakePeer closed;
  closed.at_end = TransportFailure(kClosed);
  AccountDomain out;
  EXPECT_TRUE(Is(RunPeer(&closed, &out), StatusKind::kTransport, kClosedEarly));
  EXPECT_TRUE(
      Is(RunFrames({{{0x83, 0, 0, 1, 0x81}, 1}}), StatusKind::kTransport, kNegativeSession));
  EXPECT_EQ(RunFrames({{Bytes(68, 0x42), 1}}).kind, StatusKind::kMalformed);
  // No time left at all: no wait is started.
  FakePeer peer;
  peer.frames = c_.received;
  QueryLimits none;
  none.total_ms = 0;
  EXPECT_TRUE(Is(RunPeer(&peer, &out, none), StatusKind::kTransport, kReplyTimeout));
  EXPECT_EQ(peer.receives, 0u);
}

}  // namespace
}  // namespace net
