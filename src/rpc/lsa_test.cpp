// SPDX-License-Identifier: Apache-2.0
#include "rpc/lsa.h"

#include <string.h>

#include <gtest/gtest.h>

#include "rpc/dcerpc.h"
#include "testing/test_bytes.h"
#include "base/wire.h"

namespace net {
namespace {

// The live capture's LsarOpenPolicy2 request, with our DesiredAccess
// POLICY_VIEW_LOCAL_INFORMATION in place of the capture's MAXIMUM_ALLOWED.
const char kOpenPolicy2RequestHex[] =
    "05 00 00 03 10 00 00 00 54 00 00 00 02 00 00 00 3C 00 00 00 00 00 2C 00"
    "00 00 02 00 03 00 00 00 00 00 00 00 03 00 00 00 5C 00 5C 00 00 00 00 00"
    "18 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 04 00 02 00"
    "0C 00 00 00 02 00 01 00 01 00 00 00";

const char kHandleHex[] = "01 00 00 00 CA 00 B7 31 4E 49 A3 46 BF 03 94 6C 61 DF F3 01";

const char kQueryRequestHex[] =
    "05 00 00 03 10 00 00 00 2E 00 00 00 03 00 00 00 16 00 00 00 00 00 07 00"
    "01 00 00 00 CA 00 B7 31 4E 49 A3 46 BF 03 94 6C 61 DF F3 01 05 00";

// The level-5 reply stub (the RESPONSE PDU without its 24-byte header).
const char kAccountDomainHex[] =
    "00 00 02 00 05 00 00 00 0E 00 10 00 04 00 02 00 08 00 02 00"
    "08 00 00 00 00 00 00 00 07 00 00 00"
    "54 00 45 00 53 00 54 00 42 00 4F 00 58 00 00 00"
    "04 00 00 00 01 04 00 00 00 00 00 05"
    "15 00 00 00 0F 42 82 00 90 39 3B 35 54 95 66 78 00 00 00 00";

/// A level-5 reply stub, field by field; the defaults are the golden reply.
struct DomainStub {
  uint32_t info_referent = 0x00020000;
  uint16_t level = 5;
  uint16_t length = 14, maximum_length = 16;
  uint32_t name_referent = 0x00020004, sid_referent = 0x00020008;
  uint32_t max_count = 8, offset = 0, actual_count = 7;
  std::u16string chars = u"TESTBOX";
  uint32_t conformance = 4;
  uint8_t revision = 1, sub_count = 4;
  std::vector<uint32_t> sub = {21, 8536591, 893073808, 2019988820};
  uint32_t status = 0;
};

std::vector<uint8_t> Build(const DomainStub& d) {
  std::vector<uint8_t> out;
  WireWriter w{&out};
  PutU32(w, d.info_referent);
  PutU16(w, d.level);
  PadTo(w, 4);
  PutU16(w, d.length);
  PutU16(w, d.maximum_length);
  PutU32(w, d.name_referent);
  PutU32(w, d.sid_referent);
  if (d.name_referent != 0) {
    PutU32(w, d.max_count);
    PutU32(w, d.offset);
    PutU32(w, d.actual_count);
    PutUtf16(w, d.chars);
    PadTo(w, 4);
  }
  PutU32(w, d.conformance);
  PutU8(w, d.revision);
  PutU8(w, d.sub_count);
  PutBytes(w, "\0\0\0\0\0\5", 6);
  for (uint32_t s : d.sub) PutU32(w, s);
  PutU32(w, d.status);
  return out;
}

Status Decode(const std::vector<uint8_t>& stub, AccountDomain* out) {
  return DecodeAccountDomain(stub.data(), stub.size(), out);
}

bool IsMalformed(Status s) { return s.kind == StatusKind::kMalformed; }

TEST(Lsa, OpenPolicy2RequestIsTheGoldenPdu) {
  std::vector<uint8_t> stub, pdu;
  EncodeOpenPolicy2(&stub);
  EXPECT_EQ(stub.size(), 60u);
  EncodeRequest(2, kLsarOpenPolicy2, stub.data(), stub.size(), &pdu);
  EXPECT_EQ(pdu, Hex(kOpenPolicy2RequestHex));
}

TEST(Lsa, QueryRequestIsTheGoldenPdu) {
  PolicyHandle handle;
  std::vector<uint8_t> h = Hex(kHandleHex), stub, pdu;
  memcpy(handle.bytes, h.data(), sizeof handle.bytes);
  EncodeQueryAccountDomain(handle, &stub);
  EncodeRequest(3, kLsarQueryInformationPolicy, stub.data(), stub.size(), &pdu);
  EXPECT_EQ(pdu, Hex(kQueryRequestHex));
}

TEST(Lsa, OpenPolicy2Reply) {
  std::vector<uint8_t> stub = Concat(Hex(kHandleHex), Hex("00 00 00 00"));
  PolicyHandle handle;
  ASSERT_TRUE(IsOk(DecodeOpenPolicy2(stub.data(), stub.size(), &handle)));
  EXPECT_EQ(0, memcmp(handle.bytes, stub.data(), 20));

  // A denial: zero handle, or only the status; either way the status counts.
  for (size_t skip : {0u, 20u}) {
    std::vector<uint8_t> denied = Concat(std::vector<uint8_t>(20), Hex("22 00 00 C0"));
    Status s = DecodeOpenPolicy2(denied.data() + skip, denied.size() - skip, &handle);
    EXPECT_EQ(s.kind, StatusKind::kNtStatus);
    EXPECT_EQ(s.code, 0xC0000022u);
  }
  // A success-class status other than 0 is no refusal, and no handle either.
  std::vector<uint8_t> odd = Concat(Hex(kHandleHex), Hex("05 01 00 00"));
  EXPECT_TRUE(IsMalformed(DecodeOpenPolicy2(odd.data(), odd.size(), &handle)));
  stub.insert(stub.begin(), 0);  // success, but not a handle's size
  EXPECT_TRUE(IsMalformed(DecodeOpenPolicy2(stub.data(), stub.size(), &handle)));
}

TEST(Lsa, GoldenAccountDomainReply) {
  ASSERT_EQ(Build(DomainStub()), Hex(kAccountDomainHex));
  AccountDomain d;
  ASSERT_TRUE(IsOk(Decode(Hex(kAccountDomainHex), &d)));
  EXPECT_EQ(d.name, u"TESTBOX");
  EXPECT_EQ(d.sid.revision, 1);
  ASSERT_EQ(d.sid.sub_count, 4);
  const uint8_t nt_authority[6] = {0, 0, 0, 0, 0, 5};
  EXPECT_EQ(0, memcmp(d.sid.authority, nt_authority, 6));
  EXPECT_EQ(d.sid.sub[0], 21u);
  EXPECT_EQ(d.sid.sub[1], 8536591u);
  EXPECT_EQ(d.sid.sub[2], 893073808u);
  EXPECT_EQ(d.sid.sub[3], 2019988820u);
  // Windows may leave no room for a NUL: MaximumLength equal to Length.
  DomainStub tight;
  tight.maximum_length = tight.length;
  tight.max_count = tight.actual_count;
  ASSERT_TRUE(IsOk(Decode(Build(tight), &d)));
  EXPECT_EQ(d.name, u"TESTBOX");
}

TEST(Lsa, FailureStatusComesFirst) {
  AccountDomain d;
  d.name = u"untouched";
  Status s = Decode(Hex("00 00 00 00 22 00 00 C0"), &d);
  EXPECT_EQ(s.kind, StatusKind::kNtStatus);
  EXPECT_EQ(s.code, 0xC0000022u);
  // Dummy content beside a failure is never read, however broken.
  DomainStub dummy;
  dummy.conformance = 99;
  dummy.status = 0xC0000003;
  EXPECT_EQ(Decode(Build(dummy), &d).code, 0xC0000003u);
  EXPECT_EQ(d.name, u"untouched");
}

TEST(Lsa, EmptyNameIsValid) {
  DomainStub present;  // a buffer with no characters
  present.length = 0;
  present.maximum_length = 2;
  present.max_count = 1;
  present.actual_count = 0;
  present.chars = u"";
  DomainStub null_buffer = present;
  null_buffer.name_referent = 0;
  for (const DomainStub& stub : {present, null_buffer}) {
    AccountDomain d;
    d.name = u"old";
    ASSERT_TRUE(IsOk(Decode(Build(stub), &d)));
    EXPECT_EQ(d.name, u"");
    EXPECT_EQ(d.sid.sub_count, 4);
  }
}

TEST(Lsa, FifteenSubAuthoritiesAreTheMost) {
  DomainStub d;
  d.conformance = d.sub_count = 15;
  d.sub.assign(15, 7);
  AccountDomain out;
  ASSERT_TRUE(IsOk(Decode(Build(d), &out)));
  EXPECT_EQ(out.sid.sub[14], 7u);
  d.conformance = d.sub_count = 16;
  d.sub.push_back(7);
  EXPECT_TRUE(IsMalformed(Decode(Build(d), &out)));
}

TEST(Lsa, HostileRepliesAreMalformed) {
  struct Case {
    const char* what;
    void (*edit)(DomainStub*);
  } cases[] = {
      {"NULL info with success", [](DomainStub* d) { d->info_referent = 0; }},
      {"other level", [](DomainStub* d) { d->level = 3; }},
      {"odd Length", [](DomainStub* d) { d->length = 13; }},
      {"Length above MaximumLength", [](DomainStub* d) { d->maximum_length = 12; }},
      {"NULL buffer, Length 14", [](DomainStub* d) { d->name_referent = 0; }},
      {"NULL SID", [](DomainStub* d) { d->sid_referent = 0; }},
      {"offset not 0", [](DomainStub* d) { d->offset = 1; }},
      {"actual above max", [](DomainStub* d) { d->max_count = 6; }},
      {"actual not Length/2", [](DomainStub* d) { d->actual_count = 6; }},
      {"actual past the end",
       [](DomainStub* d) {
         d->length = d->maximum_length = 0xFFFE, d->max_count = d->actual_count = 0x7FFF;
       }},
      {"conformance above count", [](DomainStub* d) { d->conformance = 5; }},
      {"conformance below count", [](DomainStub* d) { d->conformance = 3; }},
      {"count above 15 with matching conformance",
       [](DomainStub* d) { d->conformance = d->sub_count = 200; }},
      {"sub-authorities past the end", [](DomainStub* d) { d->conformance = d->sub_count = 6; }},
      {"revision 2", [](DomainStub* d) { d->revision = 2; }},
      {"trailing bytes", [](DomainStub* d) { d->sub.push_back(0); }},
  };
  for (const Case& c : cases) {
    DomainStub stub;
    c.edit(&stub);
    AccountDomain d;
    d.name = u"untouched";
    EXPECT_TRUE(IsMalformed(Decode(Build(stub), &d))) << c.what;
    EXPECT_EQ(d.name, u"untouched") << c.what;
  }
}

// A name that would print as a forged line, a terminal escape or in
// another order than it came: every C0 and C1 control, DEL and NUL, and
// every bidirectional formatting control, anywhere in the name. The
// characters just outside each of those ranges, and letters beyond the
// BMP, are names.
TEST(Lsa, ControlCharactersInTheNameAreMalformed) {
  auto with = [](char16_t c, size_t at) {
    DomainStub d;
    d.chars[at] = c;
    return Build(d);
  };
  const char16_t refused[][2] = {
      {0x0000, 0x001F}, {0x007F, 0x009F}, {0x200E, 0x200F}, {0x202A, 0x202E}, {0x2066, 0x2069}};
  for (const auto& range : refused) {
    for (char16_t c = range[0]; c <= range[1]; ++c) {
      for (size_t at : {0, 3, 6}) {
        AccountDomain d;
        d.name = u"untouched";
        EXPECT_TRUE(IsMalformed(Decode(with(c, at), &d))) << int(c) << " at " << at;
        EXPECT_EQ(d.name, u"untouched");
      }
    }
  }
  for (char16_t c : {u' ', u'~', u'\xA0', u'\xFF', u'\x200D', u'\x2010', u'\x2029', u'\x202F',
                     u'\x2065', u'\x206A', u'\x2028', u'\xD83D'}) {
    AccountDomain d;
    EXPECT_TRUE(IsOk(Decode(with(c, 3), &d))) << int(c);
    EXPECT_EQ(d.name[3], c);
  }
}

TEST(Lsa, TruncatedRepliesFailCleanly) {
  std::vector<uint8_t> domain = Hex(kAccountDomainHex);
  for (size_t n = 0; n < domain.size(); ++n) {
    std::vector<uint8_t> cut = Prefix(domain, n);
    AccountDomain d;
    EXPECT_FALSE(IsOk(DecodeAccountDomain(cut.data(), n, &d))) << n;
  }
  std::vector<uint8_t> open = Concat(Hex(kHandleHex), Hex("00 00 00 00"));
  for (size_t n = 0; n < open.size(); ++n) {
    std::vector<uint8_t> cut = Prefix(open, n);
    PolicyHandle h;
    EXPECT_FALSE(IsOk(DecodeOpenPolicy2(cut.data(), n, &h))) << n;
  }
}

}  // namespace
}  // namespace net
