// SPDX-License-Identifier: Apache-2.0
#include "rpc/lsa.h"

#include <utility>

#include "base/wire.h"
#include "base/utf.h"

namespace net {
namespace {

/// POLICY_VIEW_LOCAL_INFORMATION: all that level 5 needs (MS-LSAD 3.1.4.4.3).
constexpr uint32_t kPolicyViewLocalInformation = 0x00000001;
/// POLICY_INFORMATION_CLASS PolicyAccountDomainInformation.
constexpr uint16_t kPolicyAccountDomainInformation = 5;
/// Embedded unique pointers: any non-zero referent will do; these are the
/// numbers servers use themselves.
constexpr uint32_t kReferent0 = 0x00020000;
constexpr uint32_t kReferent1 = 0x00020004;
constexpr size_t kMaxSubAuthorities = 15;

/// The NTSTATUS that ends every reply stub, read before anything else: a
/// failing reply may still carry pointers to dummy content.
bool TrailingStatus(const uint8_t* stub, size_t size, uint32_t* status) {
  WireReader r = MakeReader(stub, size);
  if (size < 4 || !Seek(r, size - 4)) return false;
  *status = ReadU32(r);
  return ok(r);
}

/// The bidirectional formatting controls: LRM, RLM, the embeddings and
/// overrides (U+202A to U+202E) and the isolates (U+2066 to U+2069).
bool IsBidiControl(char16_t c) {
  return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

/// Whether `text` holds a control character or a bidirectional formatting
/// control: no NetBIOS or DNS domain name does, and printed the first could
/// forge lines or terminal escapes, the second reorder what is shown.
bool HasControl(const std::u16string& text) {
  for (char16_t c : text) {
    if (IsControlCharacter(c) || IsBidiControl(c)) return true;
  }
  return false;
}

// MS-DTYP 2.3.10 RPC_UNICODE_STRING, deferred part: max_count, offset,
// actual_count and the characters (no NUL), then the pad to 4.
bool ReadNameBody(WireReader& r, uint16_t length, std::u16string* name) {
  uint32_t max_count = ReadU32(r);
  uint32_t offset = ReadU32(r);
  uint32_t actual_count = ReadU32(r);
  if (!ok(r) || offset != 0 || actual_count > max_count || actual_count != length / 2u) {
    return false;
  }
  return ReadUtf16(r, actual_count, name) && !HasControl(*name) && AlignTo(r, 4);
}

// MS-DTYP 2.4.2.3 RPC_SID: the conformance first, then Revision,
// SubAuthorityCount, the big-endian IdentifierAuthority and the
// sub-authorities. The count is checked before it sizes anything.
bool ReadSid(WireReader& r, DomainSid* sid) {
  uint32_t conformance = ReadU32(r);
  sid->revision = ReadU8(r);
  sid->sub_count = ReadU8(r);
  ReadBytes(r, sid->authority, sizeof sid->authority);
  if (!ok(r) || sid->revision != 1 || conformance != sid->sub_count ||
      sid->sub_count > kMaxSubAuthorities) {
    return false;
  }
  for (size_t i = 0; i < sid->sub_count; ++i) sid->sub[i] = ReadU32(r);
  return ok(r);
}

}  // namespace

// MS-LSAD 3.1.4.4.1
// NTSTATUS LsarOpenPolicy2(
//   [in, unique, string] wchar_t* SystemName,
//   [in] PLSAPR_OBJECT_ATTRIBUTES ObjectAttributes,
//   [in] ACCESS_MASK DesiredAccess,
//   [out] LSAPR_HANDLE* PolicyHandle);
void EncodeOpenPolicy2(std::vector<uint8_t>* stub) {
  WireWriter w{stub};
  size_t start = stub->size();
  // SystemName: a [string] carries its NUL; the server ignores the content.
  PutU32(w, kReferent0);
  PutU32(w, 3);  // max_count
  PutU32(w, 0);  // offset
  PutU32(w, 3);  // actual_count
  PutUtf16(w, u"\\\\");
  PutU16(w, 0);
  PadTo(w, 4, start);
  // LSAPR_OBJECT_ATTRIBUTES: Length (ignored), RootDirectory, ObjectName,
  // Attributes, SecurityDescriptor all NULL or 0, then the QoS pointer.
  PutU32(w, 24);
  PutZeros(w, 16);
  PutU32(w, kReferent1);
  // SECURITY_QUALITY_OF_SERVICE: Length, SecurityImpersonation,
  // dynamic tracking, not effective-only.
  PutU32(w, 12);
  PutU16(w, 2);
  PutU8(w, 1);
  PutU8(w, 0);
  PutU32(w, kPolicyViewLocalInformation);
}

Status DecodeOpenPolicy2(const uint8_t* stub, size_t size, PolicyHandle* handle) {
  uint32_t status = 0;
  if (!TrailingStatus(stub, size, &status)) return Malformed();
  if (status != 0) return ServerRefusal(status);
  WireReader r = MakeReader(stub, size);
  if (size != sizeof handle->bytes + 4) return Malformed();
  ReadBytes(r, handle->bytes, sizeof handle->bytes);
  return ok(r) ? OkStatus() : Malformed();
}

// MS-LSAD 3.1.4.4.4
// NTSTATUS LsarQueryInformationPolicy(
//   [in] LSAPR_HANDLE PolicyHandle,
//   [in] POLICY_INFORMATION_CLASS InformationClass,
//   [out, switch_is(InformationClass)] PLSAPR_POLICY_INFORMATION* PolicyInformation);
void EncodeQueryAccountDomain(const PolicyHandle& handle, std::vector<uint8_t>* stub) {
  WireWriter w{stub};
  PutBytes(w, handle.bytes, sizeof handle.bytes);
  PutU16(w, kPolicyAccountDomainInformation);
}

// MS-LSAD 2.2.4.5 LSAPR_POLICY_ACCOUNT_DOM_INFO behind a unique pointer and
// the u16 union discriminant: { RPC_UNICODE_STRING DomainName; PRPC_SID DomainSid; }
// then the deferred name characters and SID, then the NTSTATUS.
Status DecodeAccountDomain(const uint8_t* stub, size_t size, AccountDomain* out) {
  uint32_t status = 0;
  if (!TrailingStatus(stub, size, &status)) return Malformed();
  if (status != 0) return ServerRefusal(status);
  WireReader r = MakeReader(stub, size - 4);
  uint32_t info_referent = ReadU32(r);
  uint16_t level = ReadU16(r);
  (void)AlignTo(r, 4);
  uint16_t length = ReadU16(r);
  uint16_t maximum_length = ReadU16(r);
  uint32_t name_referent = ReadU32(r);
  uint32_t sid_referent = ReadU32(r);
  if (!ok(r) || info_referent == 0 || level != kPolicyAccountDomainInformation || length % 2 != 0 ||
      length > maximum_length || sid_referent == 0 || (name_referent == 0 && length != 0)) {
    return Malformed();
  }
  AccountDomain domain;
  if (name_referent != 0 && !ReadNameBody(r, length, &domain.name)) return Malformed();
  // The SID must end exactly where the status begins.
  if (!ReadSid(r, &domain.sid) || Remaining(r) != 0) return Malformed();
  *out = std::move(domain);
  return OkStatus();
}

void EncodeLsaBind(uint32_t call_id, std::vector<uint8_t>* out) {
  EncodeBind(call_id, kLsaSyntax, out);
}

}  // namespace net
