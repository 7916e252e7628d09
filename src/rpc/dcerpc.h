// SPDX-License-Identifier: Apache-2.0
// DCE/RPC connection-oriented PDUs over a named pipe: BIND and its answers,
// REQUEST, RESPONSE and FAULT, and the reassembly of fragmented replies.
// (C706 chapter 12, MS-RPCE 2.2.2.)
#ifndef KESTRIN_RPC_DCERPC_H_
#define KESTRIN_RPC_DCERPC_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/status.h"

namespace net {

/// Our receive fragment size: the most a pipe may give us in one answer.
constexpr uint16_t kRpcMaxFrag = 4280;
/// The common PDU header's size.
constexpr size_t kRpcHeaderSize = 16;

/// An interface's syntax id (its UUID and version) in wire form.
struct RpcSyntax {
  uint8_t bytes[20];
};

/// Appends a BIND PDU for `interface` with the NDR transfer syntax, one
/// context, id 0.
void EncodeBind(uint32_t call_id, const RpcSyntax& interface, std::vector<uint8_t>* out);

/// Checks a whole BIND_ACK or BIND_NAK PDU: version, type, call id, lengths,
/// and that the one result is acceptance of NDR. A rejection gives kRpcFault
/// with the status.h bind codes (a BIND_NAK: kBindRejectedOther, or
/// nca_s_proto_error 0x1C01000B for reason 4, "version not supported", which
/// is what a server answers to a PDU it cannot place); a call id other than
/// `call_id` or broken bytes give kMalformed.
Status DecodeBindAck(const uint8_t* pdu, size_t size, uint32_t call_id);

/// Appends a single-fragment REQUEST PDU carrying `stub` for `opnum` on context 0.
void EncodeRequest(uint32_t call_id, uint16_t opnum, const uint8_t* stub, size_t stub_size,
                   std::vector<uint8_t>* out);

/// frag_length of the PDU that starts `data`, or 0 when fewer than 16 bytes
/// are there or the header is not a DCE/RPC 5.0 little-endian header (a
/// frag_length below 16 counts as not a header). With 16 bytes or more, 0
/// therefore means the stream is broken, not that more bytes are needed.
size_t PduLength(const uint8_t* data, size_t size);

/// One reply being reassembled from its fragments.
struct RpcReply {
  std::vector<uint8_t> stub;  // stub bytes of all fragments so far
  bool started = false;       // the FIRST_FRAG fragment has been added
  bool complete = false;      // the LAST_FRAG fragment has been added
};

/// Adds one whole PDU (exactly PduLength bytes) of the reply to `call_id`:
/// RESPONSE fragments append their stub, the one with LAST_FRAG completes
/// it; a FAULT gives kRpcFault with its status; anything else (other type,
/// call id, lengths that do not add up, FIRST_FRAG missing on the first
/// fragment or present on a later one, a fragment after the last, an auth
/// trailer, a reply past our 64 KiB stub cap) kMalformed.
Status AddReplyFragment(const uint8_t* pdu, size_t size, uint32_t call_id, RpcReply* reply);

}  // namespace net

#endif  // KESTRIN_RPC_DCERPC_H_
