// SPDX-License-Identifier: Apache-2.0
// Only frag_length says where a PDU ends: a pipe READ may return part of a
// message with STATUS_SUCCESS.
#include "rpc/rpc_pipe.h"

namespace net {
namespace {

/// The answer being awaited: a BIND_ACK, or the reply to a call.
struct PduSink {
  uint32_t call_id = 0;
  bool bind = false;
  RpcReply* reply = nullptr;
};

/// Moves whole PDUs from `pending` to the reply (or checks the BIND_ACK);
/// `*done` once the answer is complete.
Status TakePdus(void* context, std::vector<uint8_t>* pending, bool* done) {
  PduSink* sink = static_cast<PduSink*>(context);
  *done = false;
  while (pending->size() >= kRpcHeaderSize) {
    size_t length = PduLength(pending->data(), pending->size());
    if (length < kRpcHeaderSize || length > kRpcMaxFrag) return Malformed();
    if (pending->size() < length) return OkStatus();
    Status s = sink->bind ? DecodeBindAck(pending->data(), length, sink->call_id)
                          : AddReplyFragment(pending->data(), length, sink->call_id, sink->reply);
    if (!IsOk(s)) return s;
    pending->erase(pending->begin(), pending->begin() + static_cast<ptrdiff_t>(length));
    if (sink->bind || sink->reply->complete) {
      *done = true;
      return OkStatus();
    }
  }
  return OkStatus();
}

}  // namespace

Status BindPipe(Exchange* x, const std::u16string& tree_path, const std::u16string& pipe,
                const RpcSyntax& interface, uint32_t bind_call_id) {
  std::vector<uint8_t> bind;
  EncodeBind(bind_call_id, interface, &bind);
  PduSink answer{bind_call_id, true, nullptr};
  return OpenPipe(x, tree_path, pipe, bind, PipeSink{&answer, TakePdus, kRpcMaxFrag});
}

Status CallPipe(Exchange* x, uint32_t call_id, uint16_t opnum, const std::vector<uint8_t>& stub,
                RpcReply* reply) {
  std::vector<uint8_t> pdu;
  EncodeRequest(call_id, opnum, stub.data(), stub.size(), &pdu);
  PduSink answer{call_id, false, reply};
  return TransceivePipe(x, pdu, PipeSink{&answer, TakePdus, kRpcMaxFrag});
}

}  // namespace net
