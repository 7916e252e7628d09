// SPDX-License-Identifier: Apache-2.0
#include "rpc/dcerpc.h"

#include "base/wire.h"

namespace net {
namespace {

// PTYPE values (C706 12.6.4.1).
constexpr uint8_t kPtypeRequest = 0;
constexpr uint8_t kPtypeResponse = 2;
constexpr uint8_t kPtypeFault = 3;
constexpr uint8_t kPtypeBind = 11;
constexpr uint8_t kPtypeBindAck = 12;
constexpr uint8_t kPtypeBindNak = 13;

constexpr uint8_t kFirstFrag = 0x01;
constexpr uint8_t kLastFrag = 0x02;
/// packed_drep byte 0: little-endian integers, ASCII characters.
constexpr uint8_t kDrepLittleEndian = 0x10;
/// REQUEST and RESPONSE: the common header, alloc_hint, p_cont_id, opnum or cancel_count.
constexpr size_t kStubOffset = 24;
/// Our replies are about a hundred bytes; anything near this is not an answer to us.
constexpr size_t kMaxReplyStub = 64 * 1024;
/// BIND_NAK provider_reject_reason "protocol version not supported" (C706 12.6.3.3).
constexpr uint16_t kNakVersionNotSupported = 4;
/// nca_s_proto_error (C706 appendix N).
constexpr uint32_t kNcaProtoError = 0x1C01000B;

/// NDR 8A885D04-1CEB-11C9-9FE8-08002B104860 v2.0, in wire form.
constexpr uint8_t kNdrSyntax[20] = {0x04, 0x5D, 0x88, 0x8A, 0xEB, 0x1C, 0xC9, 0x11, 0x9F, 0xE8,
                                    0x08, 0x00, 0x2B, 0x10, 0x48, 0x60, 0x02, 0x00, 0x00, 0x00};

struct PduHeader {
  uint8_t ptype = 0;
  uint8_t flags = 0;
  uint32_t call_id = 0;
};

// C706 12.6.1: the common header, single fragment; frag_length is patched
// by the caller once the body is written.
void PutHeader(WireWriter w, uint8_t ptype, uint32_t call_id) {
  PutU8(w, 5);
  PutU8(w, 0);
  PutU8(w, ptype);
  PutU8(w, kFirstFrag | kLastFrag);
  PutU8(w, kDrepLittleEndian);
  PutZeros(w, 3);
  PutU16(w, 0);  // frag_length
  PutU16(w, 0);  // auth_length
  PutU32(w, call_id);
}

void PatchFragLength(WireWriter w, size_t start) {
  PatchU16(w, start + 8, static_cast<uint16_t>(w.out->size() - start));
}

// C706 12.6.1: reads the common header of one whole PDU and leaves `r` after
// it. Over a named pipe there is no RPC-level authentication, so an auth
// trailer is refused rather than subtracted.
bool ReadHeader(WireReader& r, PduHeader* h) {
  uint8_t vers = ReadU8(r);
  uint8_t vers_minor = ReadU8(r);
  h->ptype = ReadU8(r);
  h->flags = ReadU8(r);
  uint8_t drep = ReadU8(r);
  (void)Skip(r, 3);  // the rest of packed_drep: float and reserved
  uint16_t frag_length = ReadU16(r);
  uint16_t auth_length = ReadU16(r);
  h->call_id = ReadU32(r);
  return ok(r) && vers == 5 && vers_minor == 0 && drep == kDrepLittleEndian &&
         frag_length == r.size && auth_length == 0;
}

// C706 12.6.4.5: a BIND_NAK carries only provider_reject_reason (and the
// versions we could use). "Version not supported" is what a server says to
// a PDU it cannot place at all (a request before any bind), so it is
// reported as a protocol error; any other reason as an unspecified reject.
Status DecodeBindNak(WireReader& r) {
  uint16_t reason = ReadU16(r);
  if (!ok(r)) return Malformed();
  return RpcFailure(reason == kNakVersionNotSupported ? kNcaProtoError : kBindRejectedOther);
}

// C706 12.6.4.4 p_result_t: our one context's verdict.
Status CheckBindResult(uint16_t result, uint16_t reason, const uint8_t* syntax) {
  if (result == 0) {
    for (size_t i = 0; i < sizeof kNdrSyntax; ++i) {
      if (syntax[i] != kNdrSyntax[i]) return Malformed();
    }
    return OkStatus();
  }
  if (result == 2 && reason == 1) return RpcFailure(kBindRejectedInterface);
  if (result == 2 && reason == 2) return RpcFailure(kBindRejectedTransfer);
  return RpcFailure(kBindRejectedOther);
}

}  // namespace

// C706 12.6.4.3, MS-RPCE 2.2.2.13: bind to the interface with NDR, one context.
void EncodeBind(uint32_t call_id, const RpcSyntax& interface, std::vector<uint8_t>* out) {
  WireWriter w{out};
  size_t start = out->size();
  PutHeader(w, kPtypeBind, call_id);
  PutU16(w, kRpcMaxFrag);  // max_xmit_frag
  PutU16(w, kRpcMaxFrag);  // max_recv_frag
  PutU32(w, 0);            // assoc_group_id
  PutU8(w, 1);             // n_context_elem
  PutZeros(w, 3);
  PutU16(w, 0);  // p_cont_id
  PutU8(w, 1);   // n_transfer_syn
  PutU8(w, 0);
  PutBytes(w, interface.bytes, sizeof interface.bytes);
  PutBytes(w, kNdrSyntax, sizeof kNdrSyntax);
  PatchFragLength(w, start);
}

// C706 12.6.4.4 (bind_ack), 12.6.4.5 (bind_nak).
Status DecodeBindAck(const uint8_t* pdu, size_t size, uint32_t call_id) {
  WireReader r = MakeReader(pdu, size);
  PduHeader h;
  if (!ReadHeader(r, &h) || h.call_id != call_id) return Malformed();
  if (h.ptype == kPtypeBindNak) return DecodeBindNak(r);
  if (h.ptype != kPtypeBindAck) return Malformed();
  (void)Skip(r, 8);  // max_xmit_frag, max_recv_frag, assoc_group_id
  uint16_t sec_addr_length = ReadU16(r);
  (void)Skip(r, sec_addr_length);
  (void)AlignTo(r, 4);
  uint8_t n_results = ReadU8(r);
  (void)Skip(r, 3);
  uint16_t result = ReadU16(r);
  uint16_t reason = ReadU16(r);
  uint8_t syntax[20];
  ReadBytes(r, syntax, sizeof syntax);
  if (n_results == 0) return Malformed();
  // The other results (there should be none: we offered one context) must fit too.
  (void)Skip(r, (n_results - 1u) * 24u);
  if (!ok(r)) return Malformed();
  return CheckBindResult(result, reason, syntax);
}

// C706 12.6.4.9: one fragment, alloc_hint = the whole stub.
void EncodeRequest(uint32_t call_id, uint16_t opnum, const uint8_t* stub, size_t stub_size,
                   std::vector<uint8_t>* out) {
  WireWriter w{out};
  size_t start = out->size();
  PutHeader(w, kPtypeRequest, call_id);
  PutU32(w, static_cast<uint32_t>(stub_size));  // alloc_hint
  PutU16(w, 0);                                 // p_cont_id
  PutU16(w, opnum);
  PutBytes(w, stub, stub_size);
  PatchFragLength(w, start);
}

size_t PduLength(const uint8_t* data, size_t size) {
  if (size < kRpcHeaderSize) return 0;
  WireReader r = MakeReader(data, size);
  uint8_t vers = ReadU8(r);
  uint8_t vers_minor = ReadU8(r);
  (void)Skip(r, 2);
  uint8_t drep = ReadU8(r);
  (void)Skip(r, 3);
  uint16_t frag_length = ReadU16(r);
  if (!ok(r) || vers != 5 || vers_minor != 0 || drep != kDrepLittleEndian) return 0;
  return frag_length < kRpcHeaderSize ? 0 : frag_length;
}

// C706 12.6.4.10 (response), 12.6.4.7 (fault), MS-RPCE 2.2.2.8.
Status AddReplyFragment(const uint8_t* pdu, size_t size, uint32_t call_id, RpcReply* reply) {
  WireReader r = MakeReader(pdu, size);
  PduHeader h;
  if (!ReadHeader(r, &h) || h.call_id != call_id || reply->complete) return Malformed();
  (void)Skip(r, 4);  // alloc_hint: only a hint
  uint16_t context_id = ReadU16(r);
  (void)Skip(r, 2);  // cancel_count, reserved
  if (h.ptype == kPtypeFault) {
    uint32_t fault = ReadU32(r);
    // A fault of 0 would read as success further up.
    if (!ok(r) || fault == 0) return Malformed();
    return RpcFailure(fault);
  }
  if (h.ptype != kPtypeResponse || !ok(r) || context_id != 0) return Malformed();
  // FIRST_FRAG marks the first fragment, and only that one.
  bool first = (h.flags & kFirstFrag) != 0;
  if (first == reply->started) return Malformed();
  size_t n = Remaining(r);
  if (n > kMaxReplyStub - reply->stub.size()) return Malformed();
  reply->stub.insert(reply->stub.end(), pdu + kStubOffset, pdu + size);
  reply->started = true;
  reply->complete = (h.flags & kLastFrag) != 0;
  return OkStatus();
}

}  // namespace net
