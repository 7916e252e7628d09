// SPDX-License-Identifier: Apache-2.0
#include "smb2/smb2.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/clock.h"
#include "base/wire.h"
#include "smb2/smb2_connection.h"
#include "testing/test_conversation.h"

namespace net {
namespace {

// A whole response message: header, then `body` (offsets count from the header).
std::vector<uint8_t> Response(uint16_t command, const std::vector<uint8_t>& body,
                              uint32_t status = 0) {
  Smb2Header h;
  h.command = command;
  h.status = status;
  h.flags = kSmb2FlagResponse;
  std::vector<uint8_t> m;
  EncodeSmb2Header(h, &m);
  m.insert(m.end(), body.begin(), body.end());
  return m;
}

Smb2Message View(const std::vector<uint8_t>& bytes) {
  Smb2Message m;
  size_t pos = 0;
  EXPECT_TRUE(NextMessage(bytes.data(), bytes.size(), &pos, &m));
  return m;
}

// An IOCTL response body whose output is said to lie at `offset`, `count` long.
std::vector<uint8_t> IoctlBody(uint32_t offset, uint32_t count, size_t actual) {
  std::vector<uint8_t> b;
  WireWriter w{&b};
  PutU16(w, 49);
  PutU16(w, 0);
  PutU32(w, 0x0011C017);
  PutZeros(w, 16 + 8);
  PutU32(w, offset);
  PutU32(w, count);
  PutZeros(w, 8);
  PutZeros(w, actual);
  return b;
}

TEST(Smb2Header, BothFormsRoundTrip) {
  Smb2Header sync;
  sync.credit_charge = 1;
  sync.status = 0xC0000022;
  sync.command = kSmb2Create;
  sync.credits = 64;
  sync.flags = kSmb2FlagResponse | kSmb2FlagRelated;
  sync.next_command = 0x98;
  sync.message_id = 0x0102030405060708ull;
  sync.tree_id = 0xA1B2C3D4;
  sync.session_id = 0x1122334455667788ull;
  Smb2Header async = sync;
  async.flags = kSmb2FlagResponse | kSmb2FlagAsync;
  async.async_id = 0x55;
  async.tree_id = 0;
  for (const Smb2Header& h : {sync, async}) {
    std::vector<uint8_t> b;
    EncodeSmb2Header(h, &b);
    ASSERT_EQ(b.size(), kSmb2HeaderSize);
    Smb2Header d;
    ASSERT_TRUE(DecodeSmb2Header(b.data(), b.size(), &d));
    EXPECT_EQ(d.status, h.status);
    EXPECT_EQ(d.message_id, h.message_id);
    EXPECT_EQ(d.async_id, h.async_id);
    EXPECT_EQ(d.tree_id, h.tree_id);
    EXPECT_EQ(d.session_id, h.session_id);
    EXPECT_EQ(d.next_command, h.next_command);
    EXPECT_FALSE(DecodeSmb2Header(b.data(), b.size() - 1, &d));
    b[0] = 0xFF;  // an SMB1 header
    EXPECT_FALSE(DecodeSmb2Header(b.data(), b.size(), &d));
  }
}

TEST(Smb2Frame, PrefixIsCheckedBeforeAnyLengthIsTrusted) {
  size_t n = 0;
  const uint8_t ok_prefix[4] = {0, 0, 1, 0};
  EXPECT_TRUE(IsOk(DecodeFramePrefix(ok_prefix, &n)));
  EXPECT_EQ(n, 256u);
  const uint8_t negative[4] = {0x83, 0, 0, 1};
  Status s = DecodeFramePrefix(negative, &n);
  EXPECT_EQ(s.kind, StatusKind::kTransport);
  EXPECT_EQ(s.code, kNegativeSession);
  const uint8_t junk[4] = {0x85, 0, 0, 0};
  EXPECT_EQ(DecodeFramePrefix(junk, &n).kind, StatusKind::kMalformed);
  const uint8_t too_short[4] = {0, 0, 0, 63};
  EXPECT_EQ(DecodeFramePrefix(too_short, &n).kind, StatusKind::kMalformed);
  const uint8_t too_long[4] = {0, 0x01, 0x04, 0x01};  // kSmb2MaxFrame + 1
  EXPECT_EQ(DecodeFramePrefix(too_long, &n).kind, StatusKind::kMalformed);
  EXPECT_EQ(n, 0u);
}

TEST(Smb2Request, NegotiateOffersFiveDialectsPreauthEncryptionAndSigning) {
  Smb2NegotiateOffer offer;
  for (int i = 0; i < 16; ++i) offer.client_guid[i] = static_cast<uint8_t>(0xA0 + i);
  for (int i = 0; i < 32; ++i) offer.salt[i] = static_cast<uint8_t>(i);
  Smb2Frame f;
  StartFrame(&f);
  AppendNegotiate(&f, Smb2Ids(), offer);
  ASSERT_TRUE(FinishFrame(&f));
  const std::vector<uint8_t>& b = f.bytes;
  ASSERT_EQ(b.size(), 4u + 0xB8 + 8 + 6);
  EXPECT_EQ(b[3], b.size() - 4);
  const uint8_t* body = b.data() + 4 + 64;
  const uint8_t head[] = {0x24, 0, 5, 0, 1, 0, 0, 0, 0x40, 0, 0, 0};  // Capabilities: encryption
  EXPECT_EQ(std::vector<uint8_t>(body, body + 12), std::vector<uint8_t>(head, head + 12));
  EXPECT_EQ(std::vector<uint8_t>(body + 12, body + 28),
            std::vector<uint8_t>(offer.client_guid, offer.client_guid + 16));
  const uint8_t ctx_fields[] = {0x70, 0, 0, 0, 3, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(body + 28, body + 36),
            std::vector<uint8_t>(ctx_fields, ctx_fields + 8));
  const uint8_t dialects[] = {2, 2, 0x10, 2, 0, 3, 2, 3, 0x11, 3, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(body + 36, body + 48),
            std::vector<uint8_t>(dialects, dialects + 12));
  const uint8_t* ctx = b.data() + 4 + 0x70;
  const uint8_t ctx_head[] = {1, 0, 0x26, 0, 0, 0, 0, 0, 1, 0, 0x20, 0, 1, 0};
  EXPECT_EQ(std::vector<uint8_t>(ctx, ctx + 14), std::vector<uint8_t>(ctx_head, ctx_head + 14));
  EXPECT_EQ(ctx[14 + 31], 31);
  // Eight-aligned after the preauth context: the ciphers, GCM first.
  const uint8_t* ciphers = b.data() + 4 + 0xA0;
  const uint8_t cipher_ctx[] = {2, 0, 10, 0, 0, 0, 0, 0, 4, 0, 2, 0, 1, 0, 4, 0, 3, 0};
  EXPECT_EQ(std::vector<uint8_t>(ciphers, ciphers + 18),
            std::vector<uint8_t>(cipher_ctx, cipher_ctx + 18));
  // Then AES-GMAC first, then AES-CMAC.
  const uint8_t* signing = b.data() + 4 + 0xB8;
  const uint8_t signing_ctx[] = {8, 0, 6, 0, 0, 0, 0, 0, 2, 0, 2, 0, 1, 0};
  EXPECT_EQ(std::vector<uint8_t>(signing, signing + 14),
            std::vector<uint8_t>(signing_ctx, signing_ctx + 14));
}

TEST(Smb2Request, ValidateNegotiateRepeatsTheOffer) {
  Smb2NegotiateOffer offer;
  offer.client_guid[0] = 0x42;
  offer.capabilities = 0x40;
  Smb2Frame f;
  StartFrame(&f);
  AppendValidateNegotiate(&f, Smb2Ids(), offer);
  ASSERT_TRUE(FinishFrame(&f));
  const uint8_t* body = f.bytes.data() + 4 + 64;
  ASSERT_EQ(f.bytes.size(), 4u + 64 + 56 + 24 + 10);
  EXPECT_EQ(body[4], 0x04);  // CtlCode 0x00140204
  EXPECT_EQ(body[5], 0x02);
  EXPECT_EQ(body[6], 0x14);
  EXPECT_EQ(body[24], 0x78);  // InputOffset
  EXPECT_EQ(body[28], 34);    // InputCount: 24 + 2 × 5 dialects
  EXPECT_EQ(body[44], 24);    // MaxOutputResponse
  const uint8_t* input = body + 56;
  EXPECT_EQ(input[0], 0x40);
  EXPECT_EQ(input[4], 0x42);
  EXPECT_EQ(input[20], 1);  // SecurityMode
  EXPECT_EQ(input[22], 5);  // DialectCount
  EXPECT_EQ(input[32], 0x11);
}

TEST(Smb2Request, RelatedCompoundIsChainedAndPadded) {
  Smb2Frame f;
  StartFrame(&f);
  Smb2Ids first;
  first.message_id = 3;
  first.credit_charge = 1;
  first.session_id = 0x99;
  first.tree_id = 7;
  Smb2Ids related = first;
  related.related = true;
  AppendTreeConnect(&f, first, u"\\\\h\\IPC$");
  related.message_id = 4;
  AppendCreatePipe(&f, related, u"lsarpc");
  related.message_id = 5;
  uint8_t pdu[5] = {1, 2, 3, 4, 5};
  AppendPipeTransceive(&f, related, Smb2FileId(), pdu, sizeof(pdu), 4280);
  ASSERT_TRUE(FinishFrame(&f));

  size_t pos = 0;
  const uint8_t* payload = f.bytes.data() + 4;
  size_t size = f.bytes.size() - 4;
  for (uint64_t id = 3; id <= 5; ++id) {
    Smb2Header h;
    ASSERT_TRUE(DecodeSmb2Header(payload + pos, size - pos, &h));
    EXPECT_EQ(h.message_id, id);
    EXPECT_EQ(h.credits, kSmb2CreditRequest);
    bool is_related = id != 3;
    EXPECT_EQ((h.flags & kSmb2FlagRelated) != 0, is_related);
    EXPECT_EQ(h.session_id, is_related ? ~uint64_t{0} : 0x99u);
    EXPECT_EQ(h.tree_id, is_related ? 0xFFFFFFFFu : 7u);
    if (id == 5) {
      EXPECT_EQ(h.next_command, 0u);
      EXPECT_EQ(size - pos, 64u + 56 + sizeof(pdu));  // the last one is not padded
    } else {
      EXPECT_EQ(h.next_command % 8, 0u);
      pos += h.next_command;
    }
  }
}

TEST(Smb2Message, ChainIsCutOnlyAtValidNextCommands) {
  std::vector<uint8_t> a = Response(kSmb2TreeConnect, std::vector<uint8_t>(16));
  std::vector<uint8_t> chain = a;
  PatchU32(WireWriter{&chain}, 20, 80);
  chain.resize(80);
  std::vector<uint8_t> b = Response(kSmb2Create, std::vector<uint8_t>(9));
  chain.insert(chain.end(), b.begin(), b.end());
  size_t pos = 0;
  Smb2Message m;
  ASSERT_TRUE(NextMessage(chain.data(), chain.size(), &pos, &m));
  EXPECT_EQ(m.size, 80u);
  ASSERT_TRUE(NextMessage(chain.data(), chain.size(), &pos, &m));
  EXPECT_EQ(m.header.command, kSmb2Create);
  EXPECT_EQ(pos, chain.size());
  EXPECT_FALSE(NextMessage(chain.data(), chain.size(), &pos, &m));

  for (uint32_t next : {1u, 63u, 84u, static_cast<uint32_t>(chain.size()), 0xFFFFFFF8u}) {
    std::vector<uint8_t> bad = chain;
    PatchU32(WireWriter{&bad}, 20, next);
    pos = 0;
    EXPECT_FALSE(NextMessage(bad.data(), bad.size(), &pos, &m)) << next;
  }
  // Windows may point the last answer's NextCommand at the frame's end.
  std::vector<uint8_t> last(chain.begin(), chain.begin() + 80);
  pos = 0;
  ASSERT_TRUE(NextMessage(last.data(), last.size(), &pos, &m));
  EXPECT_EQ(pos, last.size());
  std::vector<uint8_t> request = a;
  request[16] = 0;  // not flagged as a response
  pos = 0;
  EXPECT_FALSE(NextMessage(request.data(), request.size(), &pos, &m));
}

TEST(Smb2Response, IoctlOutputMustLieInsideTheMessage) {
  const uint8_t* out = nullptr;
  size_t n = 0;
  std::vector<uint8_t> good = Response(kSmb2Ioctl, IoctlBody(0x70, 8, 8));
  ASSERT_TRUE(IsOk(DecodeIoctlResponse(View(good), &out, &n)));
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(out, View(good).data + 0x70);
  // One byte past the end, an offset inside the header, a count that would wrap.
  for (auto [offset, count] : {std::pair<uint32_t, uint32_t>{0x70, 9},
                               {0x71, 8},
                               {0x10, 8},
                               {0x70, 0xFFFFFFFF},
                               {0xFFFFFFFF, 2}}) {
    std::vector<uint8_t> bad = Response(kSmb2Ioctl, IoctlBody(offset, count, 8));
    EXPECT_EQ(DecodeIoctlResponse(View(bad), &out, &n).kind, StatusKind::kMalformed);
  }
  std::vector<uint8_t> other_code = good;
  other_code[64 + 4] = 0x18;
  EXPECT_EQ(DecodeIoctlResponse(View(other_code), &out, &n).kind, StatusKind::kMalformed);
}

TEST(Smb2Response, EveryBodyFailsWhenCutShort) {
  std::vector<uint8_t> tree = {16, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> create(88, 0);
  create[0] = 89;
  std::vector<uint8_t> read = {17, 0, 0x50, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i'};
  std::vector<uint8_t> error = {9, 0, 0, 0, 1, 0, 0, 0, 'e'};
  std::vector<uint8_t> setup = {9, 0, 0, 0, 0x48, 0, 3, 0, 'a', 'b', 'c'};
  for (size_t cut = 0;; ++cut) {
    bool whole = true;
    auto check = [&](uint16_t cmd, const std::vector<uint8_t>& body, auto decode) {
      if (cut > body.size()) return;
      whole = false;
      std::vector<uint8_t> msg =
          Response(cmd, std::vector<uint8_t>(body.begin(), body.end() - cut));
      Status s = decode(View(msg));
      EXPECT_EQ(IsOk(s), cut == 0) << cmd << " cut " << cut;
    };
    const uint8_t* p;
    size_t n;
    Smb2FileId id;
    uint32_t share_flags;
    check(kSmb2TreeConnect, tree,
          [&](const Smb2Message& m) { return DecodeTreeConnectResponse(m, &share_flags); });
    check(kSmb2Create, create, [&](const Smb2Message& m) { return DecodeCreateResponse(m, &id); });
    check(kSmb2Read, read, [&](const Smb2Message& m) { return DecodeReadResponse(m, &p, &n); });
    check(kSmb2Ioctl, error, [](const Smb2Message& m) { return DecodeErrorResponse(m); });
    uint16_t flags;
    check(kSmb2SessionSetup, setup,
          [&](const Smb2Message& m) { return DecodeSessionSetupResponse(m, &flags, &p, &n); });
    if (whole) break;
  }
  tree[2] = 1;  // a disk share where IPC$ was asked for
  uint32_t share_flags = 0;
  EXPECT_FALSE(
      IsOk(DecodeTreeConnectResponse(View(Response(kSmb2TreeConnect, tree)), &share_flags)));
}

/// A negotiate context: type, its data, padded to 8 as the next one needs.
std::vector<uint8_t> Context(uint16_t type, const std::vector<uint8_t>& data, size_t declared) {
  std::vector<uint8_t> b;
  WireWriter w{&b};
  PutU16(w, type);
  PutU16(w, static_cast<uint16_t>(declared));
  PutU32(w, 0);
  PutBytes(w, data.data(), data.size());
  PadTo(w, 8, 0);
  return b;
}

std::vector<uint8_t> Preauth() {
  std::vector<uint8_t> data = {1, 0, 32, 0, 1, 0};
  data.resize(38, 0x5A);
  return Context(1, data, data.size());
}

/// A NEGOTIATE response body for `dialect` with `count` contexts after it.
std::vector<uint8_t> NegotiateBody(uint16_t dialect, uint16_t count,
                                   const std::vector<uint8_t>& contexts) {
  std::vector<uint8_t> b;
  WireWriter w{&b};
  PutU16(w, 65);
  PutU16(w, 3);  // SecurityMode: signing enabled and required
  PutU16(w, dialect);
  PutU16(w, count);
  for (int i = 0; i < 16; ++i) PutU8(w, static_cast<uint8_t>(i + 1));  // ServerGuid
  PutU32(w, 0x47);                                                     // Capabilities
  PutZeros(w, 28);
  PutU16(w, 0x80);  // SecurityBufferOffset
  PutU16(w, 2);
  PutU32(w, 0x88);  // NegotiateContextOffset
  PutBytes(w, "\x60\x00", 2);
  PadTo(w, 8, 0);  // header (64) + body so far: 0x82 -> 0x88
  PutBytes(w, contexts.data(), contexts.size());
  return b;
}

Status Negotiated(uint16_t dialect, uint16_t count, const std::vector<uint8_t>& contexts,
                  Smb2NegotiateResult* out) {
  return DecodeNegotiateResponse(View(Response(0, NegotiateBody(dialect, count, contexts))), out);
}

TEST(Smb2Response, NegotiateDialectAndContextsAreChecked) {
  Smb2NegotiateResult r;
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 1, Preauth(), &r)));
  EXPECT_EQ(r.dialect, 0x0311);
  EXPECT_EQ(r.security_mode, 3);
  EXPECT_EQ(r.capabilities, 0x47u);
  EXPECT_EQ(r.server_guid[15], 16);
  EXPECT_EQ(r.signing, SigningAlgorithm::kAesCmac);  // no signing context: AES-CMAC
  // A context running past the end; a dialect we never offered.
  std::vector<uint8_t> long_ctx = Context(1, {1, 0, 32, 0, 1, 0}, 7);
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 1, long_ctx, &r)));
  EXPECT_FALSE(IsOk(Negotiated(0x02FF, 1, Preauth(), &r)));
  // Contexts are only read for 3.1.1.
  EXPECT_TRUE(IsOk(Negotiated(0x0302, 1, long_ctx, &r)));
  std::vector<uint8_t> token_past_end = Response(0, NegotiateBody(0x0302, 0, {}));
  token_past_end[64 + 58] = 0x20;  // SecurityBufferLength
  EXPECT_FALSE(IsOk(DecodeNegotiateResponse(View(token_past_end), &r)));
}

TEST(Smb2Response, NegotiateContextsOfThreeOneOne) {
  Smb2NegotiateResult r;
  auto signing = [](uint16_t count, uint16_t id) {
    return Context(8, {static_cast<uint8_t>(count), 0, static_cast<uint8_t>(id), 0}, 4);
  };
  auto both = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 2, both(Preauth(), signing(1, 2)), &r)));
  EXPECT_EQ(r.signing, SigningAlgorithm::kAesGmac);
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 2, both(signing(1, 1), Preauth()), &r)));
  EXPECT_EQ(r.signing, SigningAlgorithm::kAesCmac);
  // HMAC-SHA256 was not offered; nor an unknown id; the server picks one.
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 2, both(Preauth(), signing(1, 0)), &r)));
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 2, both(Preauth(), signing(1, 7)), &r)));
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 2, both(Preauth(), signing(2, 2)), &r)));
  // The preauth context is required, once, with SHA-512 alone.
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 1, signing(1, 2), &r)));
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 2, both(Preauth(), Preauth()), &r)));
  std::vector<uint8_t> sha256 = Preauth();
  sha256[8 + 4] = 2;
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 1, sha256, &r)));
  std::vector<uint8_t> salt_too_long = Preauth();
  salt_too_long[8 + 2] = 33;
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 1, salt_too_long, &r)));
  // Contexts of other kinds are passed over; the count must hold.
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 2, both(Context(7, {1, 0, 2, 0}, 4), Preauth()), &r)));
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 3, both(Context(7, {1, 0, 2, 0}, 4), Preauth()), &r)));
  // The cipher: one of ours, or 0 for none in common.
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 2, both(Context(2, {1, 0, 4, 0}, 4), Preauth()), &r)));
  EXPECT_TRUE(r.can_encrypt);
  EXPECT_EQ(r.cipher, AeadCipher::kAes256Gcm);
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 2, both(Context(2, {1, 0, 0, 0}, 4), Preauth()), &r)));
  EXPECT_FALSE(r.can_encrypt);
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 2, both(Context(2, {1, 0, 5, 0}, 4), Preauth()), &r)));
  EXPECT_FALSE(IsOk(Negotiated(0x0311, 2, both(Context(2, {2, 0, 1, 0, 2, 0}, 6), Preauth()), &r)));
  ASSERT_TRUE(IsOk(Negotiated(0x0311, 1, Preauth(), &r)));
  EXPECT_FALSE(r.can_encrypt) << "no context: no encryption, whatever Capabilities say";
}

TEST(Smb2Response, ValidateNegotiateAnswer) {
  std::vector<uint8_t> body = {49, 0, 0, 0, 0x04, 0x02, 0x14, 0};
  WireWriter w{&body};
  PutZeros(w, 24);
  PutU32(w, 0x70);  // OutputOffset
  PutU32(w, 24);
  PutZeros(w, 8);
  PutU32(w, 0x47);
  for (int i = 0; i < 16; ++i) PutU8(w, static_cast<uint8_t>(i));
  PutU16(w, 1);
  PutU16(w, 0x0302);
  Smb2NegotiateResult r;
  ASSERT_TRUE(IsOk(DecodeValidateNegotiateResponse(View(Response(kSmb2Ioctl, body)), &r)));
  EXPECT_EQ(r.capabilities, 0x47u);
  EXPECT_EQ(r.server_guid[15], 15);
  EXPECT_EQ(r.security_mode, 1);
  EXPECT_EQ(r.dialect, 0x0302);
  // One byte more or less than the 24, or another FSCTL's answer.
  std::vector<uint8_t> longer = body;
  longer.push_back(0);
  longer[8 + 28] = 25;
  EXPECT_FALSE(IsOk(DecodeValidateNegotiateResponse(View(Response(kSmb2Ioctl, longer)), &r)));
  std::vector<uint8_t> shorter = body;
  shorter[8 + 28] = 23;
  EXPECT_FALSE(IsOk(DecodeValidateNegotiateResponse(View(Response(kSmb2Ioctl, shorter)), &r)));
  std::vector<uint8_t> pipe = body;
  pipe[4] = 0x17;
  EXPECT_FALSE(IsOk(DecodeValidateNegotiateResponse(View(Response(kSmb2Ioctl, pipe)), &r)));
}

TEST(Smb2Credits, MessageIdsStayInsideTheGrantedWindow) {
  Smb2Credits c;
  uint64_t id = 99;
  ASSERT_TRUE(TakeMessageIds(&c, 1, &id));
  EXPECT_EQ(id, 0u);
  EXPECT_FALSE(TakeMessageIds(&c, 1, &id));  // NEGOTIATE's answer not in yet
  GrantCredits(&c, 1);
  EXPECT_FALSE(TakeMessageIds(&c, 2, &id));  // no compound on one credit
  ASSERT_TRUE(TakeMessageIds(&c, 1, &id));
  EXPECT_EQ(id, 1u);
  GrantCredits(&c, 64);
  ASSERT_TRUE(TakeMessageIds(&c, 3, &id));
  EXPECT_EQ(id, 2u);
  EXPECT_FALSE(TakeMessageIds(&c, ~uint64_t{0}, &id));
  for (int i = 0; i < 4; ++i) GrantCredits(&c, 0xFFFF);
  ASSERT_TRUE(TakeMessageIds(&c, 1, &id));
  EXPECT_EQ(id, 5u);
}

// A compound goes whole when the window covers it, else one request at a
// time; never a request the window has no room for.
TEST(Smb2Credits, FramePlanFollowsTheWindow) {
  struct Case {
    uint64_t next_id, limit;
    size_t wanted, planned;
  } cases[] = {
      {3, 3, 3, 0},   // nothing left: a server must not do this
      {3, 4, 3, 1},   // one credit: one at a time
      {3, 5, 3, 1},   // two: not enough for the chain; the first alone
      {4, 6, 2, 2},   // ... then the two left fit
      {3, 6, 3, 3},   // exactly enough
      {3, 67, 3, 3},  // plenty
      {5, 6, 2, 1},   // validation and the call on one credit
      {3, 67, 0, 0},  // nothing wanted
      {9, 4, 1, 0},   // ids past the window (cannot happen) are no credit
  };
  for (const Case& k : cases) {
    Smb2Credits c;
    c.next_id = k.next_id;
    c.limit = k.limit;
    EXPECT_EQ(PlanFrame(c, k.wanted), k.planned) << k.next_id << "/" << k.limit << " " << k.wanted;
    uint64_t first = 0;
    if (k.planned > 0) {
      EXPECT_TRUE(TakeMessageIds(&c, k.planned, &first));
    }
  }
}

// An interim answer comes unsigned, so anyone on the path can write its
// CreditResponse: whatever it says, it counts for no more than the request
// asked for (and only once the final answer came), however many interim
// answers there are. Every value of the field, alone and after another.
TEST(Smb2Connection, InterimCreditsCountNoMoreThanTheRequestAsked) {
  for (uint32_t granted = 0; granted <= 0xFFFF; ++granted) {
    Smb2Header h;
    h.command = kSmb2Read;
    h.flags = kSmb2FlagResponse;
    h.message_id = 0;
    h.credits = static_cast<uint16_t>(granted);
    Smb2Header earlier = h;
    earlier.credits = static_cast<uint16_t>(granted % 3);
    Smb2Header final_answer = h;
    final_answer.credits = 1;
    FakePeer peer;
    peer.frames = {{Interim(earlier), 0}, {Interim(h), 0}, {Frame(final_answer, kErrorBody), 0}};
    Transport t{&peer, FakeSend, FakeReceive, FakeRandom};
    Smb2Connection c;
    c.transport = &t;
    c.reply_ms = 1000;
    c.deadline = MonotonicMs() + 60000;
    Smb2Message m;
    ASSERT_TRUE(IsOk(ReceiveResponse(&c, 0, kSmb2Read, &m))) << granted;
    uint64_t most = granted < kSmb2CreditRequest ? granted : kSmb2CreditRequest;
    ASSERT_EQ(c.credits.limit, 1u + 1u + most) << granted;
  }
}

}  // namespace
}  // namespace net
