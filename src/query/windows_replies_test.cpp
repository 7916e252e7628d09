// SPDX-License-Identifier: Apache-2.0
// Answers recorded from real Windows servers (tests/data/windows/, each file
// says where it came from and what it shows): every one goes through the
// decoder it belongs to, and where it fits the query's own exchange, through
// the whole exchange, its ids and lengths fitted to the conversation.
#include <gtest/gtest.h>
#include <stdint.h>

#include <fstream>
#include <string>
#include <vector>

#include "rpc/dcerpc.h"
#include "query/domain_query.h"
#include "rpc/lsa.h"
#include "auth/ntlmssp.h"
#include "smb2/smb2.h"
#include "smb2/smb2_connection.h"
#include "auth/spnego.h"
#include "testing/test_bytes.h"
#include "testing/test_conversation.h"
#include "base/wire.h"

namespace net {
namespace {

/// The bytes of a recorded answer: its hex lines, "#" lines left out.
Bytes Recorded(const char* name) {
  std::ifstream in(std::string(KESTRIN_TESTDATA) + "/windows/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::string line, hex;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] != '#') hex += line;
  }
  Bytes b;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return b;
}

/// A message recorded as its body alone, under a plain response header.
Bytes WithHeader(uint16_t command, uint32_t status, const Bytes& body) {
  Smb2Header h;
  h.command = command;
  h.status = status;
  h.flags = kSmb2FlagResponse;
  Bytes m;
  EncodeSmb2Header(h, &m);
  m.insert(m.end(), body.begin(), body.end());
  return m;
}

Smb2Message View(const Bytes& message) {
  Smb2Message m;
  size_t pos = 0;
  EXPECT_TRUE(NextMessage(message.data(), message.size(), &pos, &m));
  return m;
}

/// The security token of a SESSION_SETUP answer (inside `message`).
void TokenOf(const Bytes& message, const uint8_t** token, size_t* size) {
  uint16_t flags = 0;
  EXPECT_TRUE(IsOk(DecodeSessionSetupResponse(View(message), &flags, token, size)));
}

/// The stub of the one RESPONSE PDU in a READ answer's data.
Bytes StubOfRead(const Bytes& message, Status* status) {
  const uint8_t* data = nullptr;
  size_t size = 0;
  *status = DecodeReadResponse(View(message), &data, &size);
  RpcReply reply;
  if (IsOk(*status)) *status = AddReplyFragment(data, size, data[12], &reply);
  return reply.stub;
}

TEST(WindowsReplies, NegotiateAnswersWithContextsSambaDoesNotSend) {
  // Compression, RDMA transform and signing contexts, a NEGOEX hint.
  struct {
    Bytes message;
    bool encrypts;
    SigningAlgorithm signing;
  } cases[] = {
      {Recorded("01_negotiate_resp_311_ws2016.hex"), true, SigningAlgorithm::kAesCmac},
      {Recorded("02_negotiate_resp_311_negoex_compression_win10_19041.hex"), true,
       SigningAlgorithm::kAesCmac},
      {WithHeader(kSmb2Negotiate, 0,
                  Recorded("03_negotiate_resp_311_signingcaps_rdma_win11_BODYONLY.hex")),
       true, SigningAlgorithm::kAesGmac},
  };
  for (const auto& c : cases) {
    Smb2NegotiateResult n;
    ASSERT_TRUE(IsOk(DecodeNegotiateResponse(View(c.message), &n)));
    EXPECT_EQ(n.dialect, kSmb2Dialect311);
    EXPECT_EQ(n.can_encrypt, c.encrypts);
    EXPECT_EQ(n.signing, c.signing);
  }
}

TEST(WindowsReplies, NtlmChallengesWithAndWithoutDnsTreeName) {
  for (const Bytes& message :
       {Recorded("05_session_setup_ntlm_challenge_ws2022.hex"),
        WithHeader(kSmb2SessionSetup, kStatusMoreProcessing,
                   Recorded("07_session_setup_ntlm_challenge_win11_BODYONLY.hex"))}) {
    const uint8_t* token = nullptr;
    size_t size = 0;
    TokenOf(message, &token, &size);
    uint32_t challenge_flags = 0;
    EXPECT_TRUE(IsOk(DecodeSpnegoChallenge(token, size, &challenge_flags)));
    EXPECT_NE(challenge_flags, 0u);
  }
  // Sent to a client that spoke raw NTLMSSP, so answered in kind: a sound
  // CHALLENGE, yet no SPNEGO answer to the SPNEGO offer we make.
  Bytes raw = Recorded("04_session_setup_ntlm_challenge_ws2016.hex");
  const uint8_t* token = nullptr;
  size_t size = 0;
  TokenOf(raw, &token, &size);
  uint32_t challenge_flags = 0;
  EXPECT_TRUE(IsOk(DecodeNtlmChallenge(token, size, &challenge_flags)));
  EXPECT_EQ(DecodeSpnegoChallenge(token, size, &challenge_flags).kind, StatusKind::kMalformed);
}

TEST(WindowsReplies, ErrorAnswersCarryTheirStatusAt72BytesAndWithContexts) {
  struct {
    const char* file;
    uint32_t platform;
  } cases[] = {
      {"06_session_setup_error_c0000072_ws2022.hex", 1331},
      {"15_create_error_access_denied.hex", 5},
      {"18_tree_connect_error_bad_network_name_win10.hex", 67},
      {"19_tree_connect_error_share_redirect_errorcontext.hex", 67},
  };
  for (const auto& c : cases) {
    Bytes message = Recorded(c.file);
    EXPECT_TRUE(IsOk(DecodeErrorResponse(View(message)))) << c.file;
    EXPECT_EQ(ToPlatformError(ServerFailure(View(message))), c.platform) << c.file;
  }
  // The error context's bounds: its length past the ByteCount, a count
  // with no context there, ByteCount past the message.
  Bytes redirect = Recorded("19_tree_connect_error_share_redirect_errorcontext.hex");
  Bytes longer = redirect;
  longer[72] += 8;
  Bytes counted = Recorded("18_tree_connect_error_bad_network_name_win10.hex");
  counted[66] = 1;
  Bytes beyond = counted;
  beyond[66] = 0;
  beyond[68] = 2;
  for (const Bytes& broken : {longer, counted, beyond}) {
    EXPECT_EQ(DecodeErrorResponse(View(broken)).kind, StatusKind::kMalformed);
  }
}

TEST(WindowsReplies, TreeAndPipeOpenAnswers) {
  uint32_t share_flags = 0;
  EXPECT_TRUE(IsOk(DecodeTreeConnectResponse(View(Recorded("08_tree_connect_ipc_resp_ws2019.hex")),
                                             &share_flags)));
  Smb2FileId file;
  EXPECT_TRUE(IsOk(DecodeCreateResponse(View(Recorded("09_create_lsarpc_resp.hex")), &file)));
  EXPECT_NE(file.volatile_id, 0u);
}

TEST(WindowsReplies, PipeReadsCarryingRpc) {
  // A bind_ack whose secondary address is \pipe\lsass and whose padding
  // after it is not zero.
  Bytes ack = Recorded("13_read_resp_bind_ack_samr_ndr20_nonzero_pad.hex");
  const uint8_t* data = nullptr;
  size_t size = 0;
  ASSERT_TRUE(IsOk(DecodeReadResponse(View(ack), &data, &size)));
  ASSERT_EQ(PduLength(data, size), size);
  EXPECT_TRUE(IsOk(DecodeBindAck(data, size, data[12])));
  // A handle and STATUS_ACCESS_DENIED: shaped as LsarOpenPolicy2's answer.
  Status s;
  Bytes stub = StubOfRead(Recorded("14_read_resp_samrconnect_access_denied_ndr20.hex"), &s);
  ASSERT_TRUE(IsOk(s));
  PolicyHandle handle;
  EXPECT_EQ(ToPlatformError(DecodeOpenPolicy2(stub.data(), stub.size(), &handle)), 5u);
}

TEST(WindowsReplies, LookupSidsStubIsNoAccountDomainAnswer) {
  // LsarLookupSids' answer, not a call we make: its first union arm is no
  // level-5 policy record, and it is refused as such.
  Bytes stub = Recorded("21_lsar_lookupsids_resp_stub_NDR20_w10ent.hex");
  AccountDomain out;
  EXPECT_EQ(DecodeAccountDomain(stub.data(), stub.size(), &out).kind, StatusKind::kMalformed);
  EXPECT_TRUE(out.name.empty());
}

// The whole exchange with Windows' shapes. The anonymous conversation
// recorded against Samba is rebuilt with the recorded Windows answers in
// place of Samba's where they fit, ids fitted; every pipe IOCTL first
// answered as pending (72 bytes, async, unsigned), then finally in the
// async form, as a busy Windows server answers.
class WindowsExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    Load("samba_sales_lsa.txt");
    ASSERT_EQ(c_.received.size(), 7u);
  }

  void Load(const char* file) {
    c_ = LoadConversation(file);
    samba_.clear();
    for (const ServerFrame& f : c_.received) {
      std::vector<Bytes> messages;
      size_t pos = 0;
      Smb2Message m;
      while (pos < f.bytes.size() - 4 &&
             NextMessage(f.bytes.data() + 4, f.bytes.size() - 4, &pos, &m)) {
        messages.emplace_back(m.data, m.data + m.size);
      }
      samba_.push_back(messages);
    }
  }

  /// `windows` with the ids, credits and tree of Samba's answer `like`, its
  /// signature taken off (the anonymous session signs nothing).
  static Bytes Fit(const Bytes& windows, const Bytes& like) {
    Smb2Header w, s;
    EXPECT_TRUE(DecodeSmb2Header(windows.data(), windows.size(), &w));
    EXPECT_TRUE(DecodeSmb2Header(like.data(), like.size(), &s));
    w.message_id = s.message_id;
    w.session_id = s.session_id;
    w.tree_id = s.tree_id;
    w.credits = s.credits;
    w.next_command = 0;
    w.flags &= ~(kSmb2FlagSigned | kSmb2FlagRelated);
    w.flags |= s.flags & kSmb2FlagRelated;
    Bytes out;
    EncodeSmb2Header(w, &out);
    out.insert(out.end(), windows.begin() + kSmb2HeaderSize, windows.end());
    return out;
  }

  /// `message` in the async form, as the final answer after an interim one:
  /// the credits went with the interim answer (MS-SMB2 3.3.4.3).
  static Bytes Async(const Bytes& message) {
    Smb2Header h;
    EXPECT_TRUE(DecodeSmb2Header(message.data(), message.size(), &h));
    h.flags |= kSmb2FlagAsync;
    h.credits = 0;
    h.async_id = 0x2d;
    h.next_command = 0;
    Bytes out;
    EncodeSmb2Header(h, &out);
    out.insert(out.end(), message.begin() + kSmb2HeaderSize, message.end());
    return out;
  }

  /// The 72-byte interim answer Windows sends for `message`'s request,
  /// with the credits the final answer would have granted.
  static Bytes Pending(const Bytes& message) {
    Bytes frame = Interim(FirstHeader(Concat(Bytes(4), message)), kShortErrorBody);
    return Bytes(frame.begin() + 4, frame.end());
  }

  /// One frame of `messages`, chained: each but the last padded to 8.
  static Bytes Chain(std::vector<Bytes> messages) {
    Smb2Frame f;
    StartFrame(&f);
    for (size_t i = 0; i < messages.size(); ++i) {
      Bytes& m = messages[i];
      bool last = i + 1 == messages.size();
      if (!last) m.resize((m.size() + 7) / 8 * 8);
      PatchU32(WireWriter{&m}, 20, last ? 0 : static_cast<uint32_t>(m.size()));
      f.bytes.insert(f.bytes.end(), m.begin(), m.end());
    }
    EXPECT_TRUE(FinishFrame(&f));
    return f.bytes;
  }

  /// Samba's conversation with `edit` applied to its answers (one list of
  /// messages per request frame), each pipe IOCTL (and `async_also_`)
  /// answered as a busy Windows server does.
  template <typename Edit>
  Status Run(Edit edit, AccountDomain* out, FakePeer* peer) {
    std::vector<std::vector<Bytes>> answers = samba_;
    edit(&answers);
    for (size_t k = 0; k < answers.size(); ++k) {
      std::vector<Bytes>& messages = answers[k];
      size_t after = c_.received[k].after_sends;
      Bytes& last = messages.back();
      uint16_t command = last[12];
      bool goes_async = (command == kSmb2Ioctl || command == async_also_) &&
                        FirstHeader(Concat(Bytes(4), last)).status == 0;
      if (!goes_async) {
        peer->frames.push_back({Chain(messages), after});
        continue;
      }
      Bytes final_answer = Async(last);
      last = Pending(last);
      // Samba answers the BIND of the opening compound in a frame of its
      // own; Windows chains its interim answer to the others.
      bool chained = messages.size() == 1 && k > 0 && c_.received[k - 1].after_sends == after;
      if (chained) {
        std::vector<Bytes> compound = answers[k - 1];
        compound.push_back(last);
        peer->frames.back().bytes = Chain(compound);
      } else {
        peer->frames.push_back({Chain(messages), after});
      }
      peer->frames.push_back({Chain({final_answer}), after});
    }
    peer->random = c_.random;
    Transport t{peer, FakeSend, FakeReceive, FakeRandom};
    return RunDomainQuery(&t, nullptr, QueryLimits(), out);
  }

  template <typename Edit>
  Status Run(Edit edit) {
    FakePeer peer;
    AccountDomain out;
    return Run(edit, &out, &peer);
  }

  Conversation c_;
  std::vector<std::vector<Bytes>> samba_;  // Samba's answers, message by message
  uint16_t async_also_ = kSmb2Ioctl;       // a command answered as pending besides IOCTL
};

TEST_F(WindowsExchange, AnswersInWindowsShapesGiveTheDomainInSixRoundTrips) {
  Bytes negotiates[] = {
      Recorded("01_negotiate_resp_311_ws2016.hex"),
      Recorded("02_negotiate_resp_311_negoex_compression_win10_19041.hex"),
      WithHeader(kSmb2Negotiate, 0,
                 Recorded("03_negotiate_resp_311_signingcaps_rdma_win11_BODYONLY.hex"))};
  Bytes challenges[] = {Recorded("05_session_setup_ntlm_challenge_ws2022.hex"),
                        WithHeader(kSmb2SessionSetup, kStatusMoreProcessing,
                                   Recorded("07_session_setup_ntlm_challenge_win11_BODYONLY.hex"))};
  Bytes tree = Recorded("08_tree_connect_ipc_resp_ws2019.hex");
  Bytes create = Recorded("09_create_lsarpc_resp.hex");
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    FakePeer peer;
    AccountDomain out;
    Status s = Run(
        [&](std::vector<std::vector<Bytes>>* a) {
          (*a)[0][0] = Fit(negotiates[i], (*a)[0][0]);
          (*a)[1][0] = Fit(challenges[i % 2], (*a)[1][0]);
          (*a)[3][0] = Fit(tree, (*a)[3][0]);
          (*a)[3][1] = Fit(create, (*a)[3][1]);
        },
        &out, &peer);
    ASSERT_TRUE(IsOk(s)) << ToPlatformError(s);
    EXPECT_EQ(out.name, u"SALES");
    EXPECT_EQ(out.sid.sub[3], 300u);
    EXPECT_EQ(peer.sent.size(), 6u);
  }
}

// A server that grants one credit at a time grants it with the interim
// answer; the final one grants none. The window must not run dry.
TEST_F(WindowsExchange, CreditsOfInterimAnswersCountOnceTheFinalAnswerCame) {
  Load("samba_sales_credits1.txt");
  FakePeer peer;
  AccountDomain out;
  ASSERT_TRUE(IsOk(Run([](std::vector<std::vector<Bytes>>*) {}, &out, &peer)));
  EXPECT_EQ(out.name, u"SALES");
  EXPECT_EQ(peer.sent.size(), 8u);
}

// A CREATE that waits (Windows: an oplock break or a sharing conflict,
// <240> 3.3.4.2) answered as pending, then finally in the async form.
TEST_F(WindowsExchange, PendingCreate) {
  Load("samba_sales_credits1.txt");
  async_also_ = kSmb2Create;
  FakePeer peer;
  AccountDomain out;
  ASSERT_TRUE(IsOk(Run([](std::vector<std::vector<Bytes>>*) {}, &out, &peer)));
  EXPECT_EQ(out.name, u"SALES");
  EXPECT_EQ(peer.frames.size(), 8u + 4u);  // an interim answer before each of four
}

TEST_F(WindowsExchange, BindAckWithAnotherSecondaryAddressAndDirtyPadding) {
  Bytes read = Recorded("13_read_resp_bind_ack_samr_ndr20_nonzero_pad.hex");
  const uint8_t* data = nullptr;
  size_t size = 0;
  ASSERT_TRUE(IsOk(DecodeReadResponse(View(read), &data, &size)));
  Bytes ack(data, data + size);
  ack[12] = 1;  // our BIND's call id
  EXPECT_TRUE(IsOk(Run([&](std::vector<std::vector<Bytes>>* a) {
    Bytes& bind = (*a)[4][0];
    Bytes frame = IoctlFrame(FirstHeader(Concat(Bytes(4), bind)), 0, ack);
    bind.assign(frame.begin() + 4, frame.end());
  })));
}

TEST_F(WindowsExchange, RefusalsInWindowsShapesGiveThePlatformsNumbers) {
  auto replace = [this](size_t frame, size_t message, const char* file) {
    Bytes windows = Recorded(file);
    return [=](std::vector<std::vector<Bytes>>* a) {
      (*a)[frame][message] = Fit(windows, (*a)[frame][message]);
      (*a)[frame].resize(message + 1);  // the server stops at the failing one
    };
  };
  EXPECT_EQ(ToPlatformError(Run(replace(2, 0, "06_session_setup_error_c0000072_ws2022.hex"))),
            1331u);
  EXPECT_EQ(ToPlatformError(Run(replace(3, 0, "18_tree_connect_error_bad_network_name_win10.hex"))),
            67u);
  EXPECT_EQ(
      ToPlatformError(Run(replace(3, 0, "19_tree_connect_error_share_redirect_errorcontext.hex"))),
      67u);
  EXPECT_EQ(ToPlatformError(Run(replace(3, 1, "15_create_error_access_denied.hex"))), 5u);
  // LsarOpenPolicy2 (call 2) refused inside a good RPC answer.
  Status s;
  Bytes stub = StubOfRead(Recorded("14_read_resp_samrconnect_access_denied_ndr20.hex"), &s);
  ASSERT_TRUE(IsOk(s));
  EXPECT_EQ(ToPlatformError(Run([&](std::vector<std::vector<Bytes>>* a) {
              Bytes& open = (*a)[5][0];
              Bytes frame =
                  IoctlFrame(FirstHeader(Concat(Bytes(4), open)), 0, RpcFragment(3, stub, 2));
              open.assign(frame.begin() + 4, frame.end());
            })),
            5u);
}

// A FAULT in place of each LSA answer, with each status an LSA call fails
// with on Windows: the platform's number, as its own call gives it.
TEST_F(WindowsExchange, FaultsOfLsaCallsGiveThePlatformsNumbers) {
  struct {
    uint32_t fault;
    uint32_t platform;
  } cases[] = {
      {0x00000005, 5},                         // refused by the interface's security callback
      {0x1C010002, 1745},                      // nca_s_op_rng_error
      {0x1C00001A, 6},                         // nca_s_fault_context_mismatch: a stale handle
      {0x000006F7, 1783},                      // RPC_X_BAD_STUB_DATA
      {0xC0000022, 5},                         // an NTSTATUS raised by the routine
      {0xC000009A, 1450}, {0x1C000012, 1726},  // nca_s_fault_unspec
  };
  for (size_t call : {size_t{5}, size_t{6}}) {
    for (const auto& c : cases) {
      Bytes fault = {5, 0, 3, 3, 0x10, 0, 0, 0, 32, 0, 0, 0};
      WireWriter w{&fault};
      PutU32(w, static_cast<uint32_t>(call - 3));  // call ids 2 and 3
      PutU32(w, 32);                               // alloc_hint
      PutU32(w, 0);                                // context id, cancel count
      PutU32(w, c.fault);
      PutU32(w, 0);
      Status s = Run([&](std::vector<std::vector<Bytes>>* a) {
        Bytes& answer = (*a)[call][0];
        Bytes frame = IoctlFrame(FirstHeader(Concat(Bytes(4), answer)), 0, fault);
        answer.assign(frame.begin() + 4, frame.end());
      });
      EXPECT_EQ(s.kind, StatusKind::kRpcFault);
      EXPECT_EQ(ToPlatformError(s), c.platform) << call << " " << c.fault;
    }
  }
}

}  // namespace
}  // namespace net
