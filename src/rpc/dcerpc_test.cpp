// SPDX-License-Identifier: Apache-2.0
#include "rpc/dcerpc.h"
#include "rpc/lsa.h"

#include <gtest/gtest.h>

#include "testing/test_bytes.h"
#include "base/wire.h"

namespace net {
namespace {

const char kBindHex[] =
    "05 00 0B 03 10 00 00 00 48 00 00 00 01 00 00 00 B8 10 B8 10 00 00 00 00"
    "01 00 00 00 00 00 01 00"
    "78 57 34 12 34 12 CD AB EF 00 01 23 45 67 89 AB 00 00 00 00"
    "04 5D 88 8A EB 1C C9 11 9F E8 08 00 2B 10 48 60 02 00 00 00";

const char kBindAckHex[] =
    "05 00 0C 03 10 00 00 00 44 00 00 00 01 00 00 00 B8 10 B8 10 76 AD 00 00"
    "0C 00 5C 70 69 70 65 5C 6C 73 61 73 73 00 00 00"
    "01 00 00 00 00 00 00 00"
    "04 5D 88 8A EB 1C C9 11 9F E8 08 00 2B 10 48 60 02 00 00 00";

// The LsarOpenPolicy2 RESPONSE of the live capture, call id 2.
const char kResponseHex[] =
    "05 00 02 03 10 00 00 00 30 00 00 00 02 00 00 00 18 00 00 00 00 00 00 00"
    "01 00 00 00 CA 00 B7 31 4E 49 A3 46 BF 03 94 6C 61 DF F3 01 00 00 00 00";

const char kFaultHex[] =
    "05 00 03 03 10 00 00 00 20 00 00 00 03 00 00 00 20 00 00 00 00 00 00 00"
    "1A 00 00 1C 00 00 00 00";

/// A RESPONSE fragment of call 3 with `flags` around `stub`.
std::vector<uint8_t> Fragment(uint8_t flags, const uint8_t* stub, size_t n) {
  std::vector<uint8_t> pdu =
      Hex("05 00 02 00 10 00 00 00 00 00 00 00 03 00 00 00"
          "00 00 00 00 00 00 00 00");
  pdu[3] = flags;
  pdu.insert(pdu.end(), stub, stub + n);
  PatchU16(WireWriter{&pdu}, 8, static_cast<uint16_t>(pdu.size()));
  return pdu;
}

Status Add(const std::vector<uint8_t>& pdu, uint32_t call_id, RpcReply* reply) {
  return AddReplyFragment(pdu.data(), pdu.size(), call_id, reply);
}

Status Bind(const std::vector<uint8_t>& pdu) { return DecodeBindAck(pdu.data(), pdu.size(), 1); }

bool IsMalformed(Status s) { return s.kind == StatusKind::kMalformed; }

TEST(DceRpc, BindIsTheGoldenPdu) {
  std::vector<uint8_t> out;
  EncodeLsaBind(1, &out);
  EXPECT_EQ(out, Hex(kBindHex));
}

TEST(DceRpc, GoldenBindAckIsAcceptance) {
  EXPECT_TRUE(IsOk(Bind(Hex(kBindAckHex))));
  std::vector<uint8_t> ack = Hex(kBindAckHex);
  EXPECT_TRUE(IsMalformed(DecodeBindAck(ack.data(), ack.size(), 2)));  // call id mismatch
}

TEST(DceRpc, BindRejectionsMapToTheirCodes) {
  struct Case {
    uint8_t result, reason;
    uint32_t code;
  } cases[] = {{2, 1, kBindRejectedInterface},
               {2, 2, kBindRejectedTransfer},
               {2, 3, kBindRejectedOther},
               {1, 0, kBindRejectedOther}};
  for (const Case& c : cases) {
    std::vector<uint8_t> ack = Hex(kBindAckHex);
    ack[44] = c.result;
    ack[46] = c.reason;
    Status s = Bind(ack);
    EXPECT_EQ(s.kind, StatusKind::kRpcFault);
    EXPECT_EQ(s.code, c.code);
  }
}

TEST(DceRpc, BindNakIsARejection) {
  // Reason 4 is what a request before any bind gets: a protocol error.
  std::vector<uint8_t> nak =
      Hex("05 00 0D 03 10 00 00 00 15 00 00 00 01 00 00 00"
          "04 00 01 05 00");
  Status s = Bind(nak);
  EXPECT_EQ(s.kind, StatusKind::kRpcFault);
  EXPECT_EQ(s.code, 0x1C01000Bu);
  nak[16] = 0;
  EXPECT_EQ(Bind(nak).code, kBindRejectedOther);
}

TEST(DceRpc, BrokenBindAcksAreMalformed) {
  struct Case {
    size_t offset;
    uint8_t value;
  } cases[] = {
      {0, 4},      // rpc_vers
      {1, 1},      // rpc_vers_minor
      {2, 2},      // a RESPONSE where a BIND_ACK belongs
      {4, 0x00},   // big-endian drep
      {8, 0x45},   // frag_length one past the bytes
      {10, 0x10},  // auth_length
      {24, 0x30},  // sec_addr running past the PDU
      {40, 0},     // no results
      {40, 2},     // a second result that is not there
      {48, 0x05},  // accepted, but not NDR
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> ack = Hex(kBindAckHex);
    ack[c.offset] = c.value;
    EXPECT_TRUE(IsMalformed(Bind(ack))) << "offset " << c.offset;
  }
}

TEST(DceRpc, PduLengthReadsOnlyAGoodHeader) {
  std::vector<uint8_t> ack = Hex(kBindAckHex);
  EXPECT_EQ(PduLength(ack.data(), ack.size()), 68u);
  EXPECT_EQ(PduLength(ack.data(), 16), 68u);  // enough to know how much to read
  EXPECT_EQ(PduLength(ack.data(), 15), 0u);
  EXPECT_EQ(PduLength(nullptr, 0), 0u);
  std::vector<uint8_t> bad = ack;
  bad[0] = 4;
  EXPECT_EQ(PduLength(bad.data(), bad.size()), 0u);
  bad = ack;
  bad[8] = 15;  // shorter than its own header
  bad[9] = 0;
  EXPECT_EQ(PduLength(bad.data(), bad.size()), 0u);
}

TEST(DceRpc, SingleFragmentResponse) {
  std::vector<uint8_t> pdu = Hex(kResponseHex);
  RpcReply reply;
  ASSERT_TRUE(IsOk(Add(pdu, 2, &reply)));
  EXPECT_TRUE(reply.complete);
  EXPECT_EQ(reply.stub, std::vector<uint8_t>(pdu.begin() + 24, pdu.end()));
  // Nothing may follow the last fragment.
  EXPECT_TRUE(IsMalformed(Add(pdu, 2, &reply)));
  RpcReply other;
  EXPECT_TRUE(IsMalformed(Add(pdu, 3, &other)));  // call id mismatch
}

TEST(DceRpc, ThreeFragmentsReassemble) {
  std::vector<uint8_t> stub(80);
  for (size_t i = 0; i < stub.size(); ++i) stub[i] = static_cast<uint8_t>(i);
  RpcReply reply;
  ASSERT_TRUE(IsOk(Add(Fragment(0x01, stub.data(), 32), 3, &reply)));
  ASSERT_TRUE(IsOk(Add(Fragment(0x00, stub.data() + 32, 32), 3, &reply)));
  EXPECT_FALSE(reply.complete);
  ASSERT_TRUE(IsOk(Add(Fragment(0x02, stub.data() + 64, 16), 3, &reply)));
  EXPECT_TRUE(reply.complete);
  EXPECT_EQ(reply.stub, stub);
}

TEST(DceRpc, FragmentsOutOfOrderAreMalformed) {
  uint8_t stub[8] = {};
  RpcReply no_first;
  EXPECT_TRUE(IsMalformed(Add(Fragment(0x02, stub, 8), 3, &no_first)));
  RpcReply twice_first;
  ASSERT_TRUE(IsOk(Add(Fragment(0x01, stub, 8), 3, &twice_first)));
  EXPECT_TRUE(IsMalformed(Add(Fragment(0x03, stub, 8), 3, &twice_first)));
  RpcReply wrong_call;
  ASSERT_TRUE(IsOk(Add(Fragment(0x01, stub, 8), 3, &wrong_call)));
  EXPECT_TRUE(IsMalformed(Add(Fragment(0x02, stub, 8), 4, &wrong_call)));
}

TEST(DceRpc, ReplyPastTheCapIsMalformed) {
  std::vector<uint8_t> stub(4000);
  RpcReply reply;
  Status s = Add(Fragment(0x01, stub.data(), stub.size()), 3, &reply);
  int fragments = 1;
  while (IsOk(s) && fragments < 100) {
    s = Add(Fragment(0x00, stub.data(), stub.size()), 3, &reply);
    ++fragments;
  }
  EXPECT_TRUE(IsMalformed(s));
  EXPECT_EQ(fragments, 17);  // 16 * 4000 fits in 64 KiB, 17 does not
}

TEST(DceRpc, FaultCarriesItsStatus) {
  RpcReply reply;
  Status s = Add(Hex(kFaultHex), 3, &reply);
  EXPECT_EQ(s.kind, StatusKind::kRpcFault);
  EXPECT_EQ(s.code, 0x1C00001Au);
  std::vector<uint8_t> zero = Hex(kFaultHex);
  zero[24] = zero[27] = 0;  // a fault of 0 must not pass for success
  EXPECT_TRUE(IsMalformed(Add(zero, 3, &reply)));
}

TEST(DceRpc, ResponseOnAnotherContextIsMalformed) {
  std::vector<uint8_t> pdu = Hex(kResponseHex);
  pdu[20] = 1;
  RpcReply reply;
  EXPECT_TRUE(IsMalformed(Add(pdu, 2, &reply)));
}

TEST(DceRpc, TruncatedRepliesFailCleanly) {
  std::vector<uint8_t> ack = Hex(kBindAckHex);
  std::vector<uint8_t> response = Hex(kResponseHex);
  std::vector<uint8_t> fault = Hex(kFaultHex);
  for (size_t n = 0; n < ack.size(); ++n) {
    std::vector<uint8_t> cut = Prefix(ack, n);
    EXPECT_FALSE(IsOk(DecodeBindAck(cut.data(), n, 1))) << n;
    EXPECT_EQ(PduLength(cut.data(), n), n < 16 ? 0u : 68u);
  }
  for (const std::vector<uint8_t>* pdu : {&response, &fault}) {
    for (size_t n = 0; n < pdu->size(); ++n) {
      std::vector<uint8_t> cut = Prefix(*pdu, n);
      RpcReply reply;
      EXPECT_TRUE(IsMalformed(AddReplyFragment(cut.data(), n, (*pdu)[12], &reply))) << n;
      EXPECT_TRUE(reply.stub.empty());
    }
  }
}

}  // namespace
}  // namespace net
