// SPDX-License-Identifier: Apache-2.0
// A named pipe: TREE_CONNECT + CREATE + IOCTL(first write) as one related
// compound when the credit window covers all three (MS-SMB2 3.2.4.1.4),
// else one request at a time, each carrying the TreeId or FileId the answer
// before it gave; then one IOCTL per write. Pipe I/O is always last in
// its frame: a server answers pipe I/O in the middle of a compound with
// STATUS_INTERNAL_ERROR, yet writes it to the pipe.
#include "smb2/named_pipe.h"

namespace net {
namespace {

/// READs tolerated while one answer comes together.
constexpr int kMaxPipeReads = 64;

/// The requests that open the pipe, in the order they go.
enum OpenStep : size_t { kTreeStep, kCreateStep, kWriteStep, kOpenSteps };

using PipeDecoder = Status (*)(const Smb2Message&, const uint8_t**, size_t*);

/// Appends what an IOCTL or READ answer brought from the pipe to `pending`.
/// STATUS_BUFFER_OVERFLOW only says more is waiting; the data is good.
Status TakePipeData(const Smb2Message& m, PipeDecoder decode, uint32_t max_output,
                    std::vector<uint8_t>* pending) {
  uint32_t status = m.header.status;
  if (status != kStatusSuccess && status != kStatusBufferOverflow) return ServerFailure(m);
  const uint8_t* data = nullptr;
  size_t size = 0;
  Status s = decode(m, &data, &size);
  if (!IsOk(s)) return s;
  if (size > max_output) return Malformed();  // more than we allowed it to send
  pending->insert(pending->end(), data, data + size);
  return OkStatus();
}

/// READs the pipe for the rest of an answer (MS-SMB2 3.2.4.6).
Status ReadPipe(Exchange* x, uint32_t max_output, std::vector<uint8_t>* pending) {
  Smb2Ids ids;
  if (!NextIds(&x->connection, false, &ids)) return Malformed();
  Smb2Frame f;
  StartFrame(&f);
  AppendRead(&f, ids, x->file, max_output);
  Smb2Message m;
  Status s = SendOne(&x->connection, &f, ids, kSmb2Read, &m);
  if (!IsOk(s)) return s;
  size_t before = pending->size();
  s = TakePipeData(m, DecodeReadResponse, max_output, pending);
  // No progress while a PDU is unfinished would only repeat itself.
  if (IsOk(s) && pending->size() == before) return Malformed();
  return s;
}

/// The answer to the pipe IOCTL `ioctl_id`: its output, then READs until the
/// sink says the answer is whole. A pipe READ may return part of a message
/// with STATUS_SUCCESS, so only the sink decides.
Status ReceivePipeAnswer(Exchange* x, uint64_t ioctl_id, const PipeSink& sink) {
  Smb2Message m;
  Status s = ReceiveResponse(&x->connection, ioctl_id, kSmb2Ioctl, &m);
  std::vector<uint8_t> pending;
  if (IsOk(s)) s = TakePipeData(m, DecodeIoctlResponse, sink.max_output, &pending);
  for (int reads = 0; IsOk(s); ++reads) {
    bool done = false;
    s = sink.take(sink.context, &pending, &done);
    if (IsOk(s) && done && !pending.empty()) return Malformed();  // read as the next answer
    if (!IsOk(s) || done) return s;
    if (reads == kMaxPipeReads) return Malformed();
    s = ReadPipe(x, sink.max_output, &pending);
  }
  return s;
}

/// What opens a pipe: where, which, and what goes first.
struct OpenRequest {
  const std::u16string& tree_path;
  const std::u16string& pipe;
  const std::vector<uint8_t>& first_write;
  const PipeSink& sink;
};

/// Appends opening request `step`. Related to the one before it, it takes
/// tree and file from that one; alone, it carries what their answers gave.
void AppendOpenStep(const Exchange& x, size_t step, const Smb2Ids& ids, const OpenRequest& open,
                    Smb2Frame* f) {
  if (step == kTreeStep) return AppendTreeConnect(f, ids, open.tree_path);
  if (step == kCreateStep) return AppendCreatePipe(f, ids, open.pipe);
  // All ones: the file the CREATE before it opened.
  Smb2FileId file = ids.related ? Smb2FileId{~uint64_t{0}, ~uint64_t{0}} : x.file;
  AppendPipeTransceive(f, ids, file, open.first_write.data(), open.first_write.size(),
                       open.sink.max_output);
}

/// The TREE_CONNECT answer: the tree, and whether IPC$ wants encryption.
Status ReceiveTree(Smb2Connection* c, uint64_t id) {
  Smb2Message m;
  Status s = ReceiveResponse(c, id, kSmb2TreeConnect, &m);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  // An async header has no TreeId; the tree would be lost.
  if (m.header.flags & kSmb2FlagAsync) return Malformed();
  uint32_t share_flags = 0;
  s = DecodeTreeConnectResponse(m, &share_flags);
  if (!IsOk(s)) return s;
  c->tree_id = m.header.tree_id;
  if ((share_flags & kSmb2ShareEncrypt) != 0 && !c->encrypt) {
    if (!c->can_encrypt) return SecurityFailure(kNoCipher);
    c->encrypt = true;  // MS-SMB2 3.2.5.5: all on this tree, from now on
  }
  return OkStatus();
}

Status ReceiveOpenStep(Exchange* x, size_t step, uint64_t id, const PipeSink& sink) {
  if (step == kTreeStep) return ReceiveTree(&x->connection, id);
  if (step == kWriteStep) return ReceivePipeAnswer(x, id, sink);
  Smb2Message m;
  Status s = ReceiveResponse(&x->connection, id, kSmb2Create, &m);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  return DecodeCreateResponse(m, &x->file);
}

/// Sends the `n` opening requests from `first` in one frame and takes their
/// answers in turn. When the TREE_CONNECT among them turned encryption on
/// and a request that went with it in clear was refused, the answers left
/// are read and dropped and `*resend` says that CREATE and BIND go again.
Status OpenSteps(Exchange* x, size_t first, size_t n, const OpenRequest& open, bool may_resend,
                 bool* resend) {
  Smb2Connection* c = &x->connection;
  Smb2Ids ids[kOpenSteps];
  Smb2Frame f;
  StartFrame(&f);
  for (size_t i = 0; i < n; ++i) {
    if (!NextIds(c, i > 0, &ids[i])) return Malformed();
    AppendOpenStep(*x, first + i, ids[i], open, &f);
  }
  bool in_clear = !c->encrypt;
  Status s = SendFrame(c, &f);
  size_t answered = 0;  // answers taken, the failing one included
  while (IsOk(s) && answered < n) {
    s = ReceiveOpenStep(x, first + answered, ids[answered].message_id, open.sink);
    ++answered;
  }
  // Refused after the TREE_CONNECT in this frame turned encryption on.
  bool refused_in_clear = s.kind == StatusKind::kNtStatus && first == kTreeStep && answered > 1 &&
                          in_clear && c->encrypt;
  if (IsOk(s) || !refused_in_clear || !may_resend) return s;
  *resend = true;
  for (size_t i = answered; i < n; ++i) {
    Smb2Message dropped;
    uint16_t command = first + i == kWriteStep ? kSmb2Ioctl : kSmb2Create;
    s = ReceiveResponse(c, ids[i].message_id, command, &dropped);
    if (!IsOk(s)) return s;
  }
  return OkStatus();
}

/// VALIDATE_NEGOTIATE_INFO in a frame of its own, for a window of one.
Status ValidateAlone(Exchange* x) {
  Smb2Ids ids;
  if (!NextIds(&x->connection, false, &ids)) return Malformed();
  Smb2Frame f;
  StartFrame(&f);
  AppendValidateNegotiate(&f, ids, x->session.offer);
  Status s = SendFrame(&x->connection, &f);
  if (!IsOk(s)) return s;
  return CheckValidation(&x->connection, x->session, ids.message_id);
}

}  // namespace

Status OpenPipe(Exchange* x, const std::u16string& tree_path, const std::u16string& pipe,
                const std::vector<uint8_t>& first_write, const PipeSink& sink) {
  const OpenRequest open{tree_path, pipe, first_write, sink};
  bool resent = false;
  for (size_t next = kTreeStep; next < kOpenSteps;) {
    size_t n = PlanFrame(x->connection.credits, kOpenSteps - next);
    if (n == 0) return Malformed();  // the server left us no credit
    bool resend = false;
    Status s = OpenSteps(x, next, n, open, !resent, &resend);
    if (!IsOk(s)) return s;
    next = resend ? size_t{kCreateStep} : next + n;
    resent = resent || resend;
  }
  return OkStatus();
}

// The validation goes first in the frame, not related: its outcome must not
// touch the write's. One credit: on its own, just before.
Status TransceivePipe(Exchange* x, const std::vector<uint8_t>& data, const PipeSink& sink) {
  Smb2Connection* c = &x->connection;
  bool validate = !x->negotiation_checked && NeedsValidation(*c, x->session);
  x->negotiation_checked = true;
  if (validate && PlanFrame(c->credits, 2) == 1) {
    Status s = ValidateAlone(x);
    if (!IsOk(s)) return s;
    validate = false;
  }
  Smb2Ids validate_ids, ids;
  if ((validate && !NextIds(c, false, &validate_ids)) || !NextIds(c, false, &ids)) {
    return Malformed();
  }
  Smb2Frame f;
  StartFrame(&f);
  if (validate) AppendValidateNegotiate(&f, validate_ids, x->session.offer);
  AppendPipeTransceive(&f, ids, x->file, data.data(), data.size(), sink.max_output);
  Status s = SendFrame(c, &f);
  if (IsOk(s) && validate) s = CheckValidation(c, x->session, validate_ids.message_id);
  if (!IsOk(s)) return s;
  return ReceivePipeAnswer(x, ids.message_id, sink);
}

}  // namespace net
