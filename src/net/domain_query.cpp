// The account-domain query as one exchange of six round trips: NEGOTIATE,
// two SESSION_SETUP legs, TREE_CONNECT + CREATE + IOCTL(BIND) as a related
// compound, then one IOCTL per LSA call. The connection is simply closed at
// the end: the server needs no teardown.
#include "net/domain_query.h"

#include <string>
#include <vector>

#include "net/dcerpc.h"
#include "net/lsa.h"
#include "net/server_name.h"
#include "net/smb2.h"
#include "net/socket.h"
#include "net/spnego.h"

namespace net {
namespace {

/// Interim (STATUS_PENDING) replies tolerated before one final reply.
constexpr int kMaxInterim = 8;
/// READs tolerated while reassembling one RPC reply.
constexpr int kMaxPipeReads = 64;
/// The longest server name we put into the tree path.
constexpr size_t kMaxServerUnits = 255;
constexpr uint32_t kBindCallId = 1;
constexpr uint32_t kOpenPolicyCallId = 2;
constexpr uint32_t kQueryCallId = 3;

/// One query's state on its connection.
struct Exchange {
  Transport* transport = nullptr;
  uint32_t reply_ms = 0;
  uint64_t deadline = 0;  // MonotonicMs time the whole query must end by
  Smb2Credits credits;
  uint16_t charge = 0;  // CreditCharge once the dialect is known
  uint64_t session_id = 0;
  uint32_t tree_id = 0;
  Smb2FileId file;
  std::vector<uint8_t> frame;  // payload of the newest frame received
  size_t frame_pos = 0;        // first response in it not yet handed out
};

/// When a reply must have come: `reply_ms` from now, but never after the
/// whole query's `deadline`.
uint64_t ReplyDeadline(uint64_t deadline, uint32_t reply_ms) {
  uint64_t now = MonotonicMs();
  if (now >= deadline) return now;
  return deadline - now < reply_ms ? deadline : now + reply_ms;
}

bool TimeLeft(uint64_t until, uint32_t* timeout_ms) {
  uint64_t now = MonotonicMs();
  if (now >= until) return false;
  *timeout_ms = until - now > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(until - now);
  return true;
}

Status Receive(Exchange* x, uint8_t* data, size_t size, uint64_t until) {
  uint32_t timeout = 0;
  if (!TimeLeft(until, &timeout)) return TransportFailure(kReplyTimeout);
  return x->transport->receive(x->transport->context, data, size, timeout);
}

Status ReceiveFrame(Exchange* x, uint64_t until) {
  uint8_t prefix[kSmb2FramePrefix];
  Status s = Receive(x, prefix, sizeof(prefix), until);
  if (!IsOk(s)) return s;
  size_t length = 0;
  s = DecodeFramePrefix(prefix, &length);
  if (!IsOk(s)) return s;
  x->frame.resize(length);
  x->frame_pos = 0;
  return Receive(x, x->frame.data(), length, until);
}

/// Waits for the final response to `id`, skipping interim STATUS_PENDING
/// answers to it. Anything for another request breaks the exchange.
Status ReceiveResponse(Exchange* x, uint64_t id, uint16_t command, Smb2Message* m) {
  uint64_t until = ReplyDeadline(x->deadline, x->reply_ms);
  for (int interim = 0;;) {
    if (x->frame_pos >= x->frame.size()) {
      Status s = ReceiveFrame(x, until);
      if (!IsOk(s)) return s;
    }
    if (!NextMessage(x->frame.data(), x->frame.size(), &x->frame_pos, m)) return Malformed();
    const Smb2Header& h = m->header;
    if (h.message_id != id || h.command != command) return Malformed();
    GrantCredits(&x->credits, h.credits);
    if (h.status != kStatusPending) return OkStatus();
    if (!(h.flags & kSmb2FlagAsync) || !IsOk(DecodeErrorResponse(*m))) return Malformed();
    if (++interim > kMaxInterim) return Malformed();
    until = ReplyDeadline(x->deadline, x->reply_ms);  // the server has taken the request on
  }
}

/// The failure a response with an unwanted status stands for. The status
/// in the header says it all; the error body adds nothing we use.
Status ServerFailure(const Smb2Message& m) { return ServerRefusal(m.header.status); }

/// Ids for the next request; false when the server left us no credit.
bool NextIds(Exchange* x, bool related, Smb2Ids* ids) {
  *ids = Smb2Ids();
  ids->credit_charge = x->charge;
  ids->session_id = x->session_id;
  ids->tree_id = x->tree_id;
  ids->related = related;
  return TakeMessageIds(&x->credits, 1, &ids->message_id);
}

Status SendFrame(Exchange* x, Smb2Frame* f) {
  if (!FinishFrame(f)) return Malformed();
  return x->transport->send(x->transport->context, f->bytes.data(), f->bytes.size());
}

/// Sends one request and waits for its final response.
Status SendOne(Exchange* x, Smb2Frame* f, const Smb2Ids& ids, uint16_t command,
               Smb2Message* m) {
  Status s = SendFrame(x, f);
  if (!IsOk(s)) return s;
  return ReceiveResponse(x, ids.message_id, command, m);
}

// MS-SMB2 3.2.4.2.2.2: NEGOTIATE offering 2.0.2 to 3.1.1.
Status Negotiate(Exchange* x) {
  uint8_t guid[16];
  uint8_t salt[32];
  if (!FillRandom(guid, sizeof(guid)) || !FillRandom(salt, sizeof(salt))) {
    return TransportFailure(kSocketFailure);
  }
  Smb2Ids ids;
  if (!NextIds(x, false, &ids)) return Malformed();
  ids.credit_charge = 0;
  Smb2Frame f;
  StartFrame(&f);
  AppendNegotiate(&f, ids, guid, salt);
  Smb2Message m;
  Status s = SendOne(x, &f, ids, kSmb2Negotiate, &m);
  // A server that only speaks SMB1 hangs up on an SMB2 NEGOTIATE.
  if (s.kind == StatusKind::kTransport && s.code == kClosed) return TransportFailure(kClosedEarly);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  uint16_t dialect = 0;
  s = DecodeNegotiateResponse(m, &dialect);
  if (!IsOk(s)) return s;
  x->charge = dialect == 0x0202 ? 0 : 1;
  return OkStatus();
}

/// One SESSION_SETUP leg; yields the response, its security buffer inside it.
Status SessionLeg(Exchange* x, const std::vector<uint8_t>& token, Smb2Message* m,
                  const uint8_t** reply, size_t* reply_size) {
  Smb2Ids ids;
  if (!NextIds(x, false, &ids)) return Malformed();
  Smb2Frame f;
  StartFrame(&f);
  AppendSessionSetup(&f, ids, token.data(), token.size());
  Status s = SendOne(x, &f, ids, kSmb2SessionSetup, m);
  if (!IsOk(s)) return s;
  uint32_t status = m->header.status;
  if (status != kStatusSuccess && status != kStatusMoreProcessing) return ServerFailure(*m);
  return DecodeSessionSetupResponse(*m, reply, reply_size);
}

// MS-SMB2 3.2.5.3: SPNEGO around an anonymous NTLMSSP logon, two legs.
Status SetUpSession(Exchange* x) {
  std::vector<uint8_t> token;
  EncodeSpnegoInit(&token);
  Smb2Message m;
  const uint8_t* reply = nullptr;
  size_t reply_size = 0;
  Status s = SessionLeg(x, token, &m, &reply, &reply_size);
  if (!IsOk(s)) return s;
  // Without a challenge there is nothing to answer; a session id of 0 or
  // the related-request placeholder cannot name a session.
  uint64_t id = m.header.session_id;
  if (m.header.status != kStatusMoreProcessing || id == 0 || id == ~uint64_t{0}) {
    return Malformed();
  }
  uint32_t challenge_flags = 0;
  s = DecodeSpnegoChallenge(reply, reply_size, &challenge_flags);
  if (!IsOk(s)) return s;
  x->session_id = id;

  token.clear();
  EncodeSpnegoAnonymousAuth(challenge_flags, &token);
  s = SessionLeg(x, token, &m, &reply, &reply_size);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess || m.header.session_id != x->session_id) {
    return Malformed();
  }
  return DecodeSpnegoFinal(reply, reply_size);
}

/// Moves whole PDUs from `pending` to `reply` (or checks the BIND_ACK when
/// `bind`); `*done` once the answer is complete.
Status TakePdus(std::vector<uint8_t>* pending, uint32_t call_id, bool bind, RpcReply* reply,
                bool* done) {
  *done = false;
  while (pending->size() >= kRpcHeaderSize) {
    size_t length = PduLength(pending->data(), pending->size());
    if (length < kRpcHeaderSize || length > kRpcMaxFrag) return Malformed();
    if (pending->size() < length) return OkStatus();
    Status s = bind ? DecodeBindAck(pending->data(), length, call_id)
                    : AddReplyFragment(pending->data(), length, call_id, reply);
    if (!IsOk(s)) return s;
    pending->erase(pending->begin(), pending->begin() + static_cast<ptrdiff_t>(length));
    if (bind || reply->complete) {
      // Bytes after the answer would be read as the next call's reply.
      if (!pending->empty()) return Malformed();
      *done = true;
      return OkStatus();
    }
  }
  return OkStatus();
}

using PipeDecoder = Status (*)(const Smb2Message&, const uint8_t**, size_t*);

/// Appends what an IOCTL or READ answer brought from the pipe to `pending`.
/// STATUS_BUFFER_OVERFLOW only says more is waiting; the data is good.
Status TakePipeData(const Smb2Message& m, PipeDecoder decode, std::vector<uint8_t>* pending) {
  uint32_t status = m.header.status;
  if (status != kStatusSuccess && status != kStatusBufferOverflow) return ServerFailure(m);
  const uint8_t* data = nullptr;
  size_t size = 0;
  Status s = decode(m, &data, &size);
  if (!IsOk(s)) return s;
  if (size > kRpcMaxFrag) return Malformed();  // more than we allowed it to send
  pending->insert(pending->end(), data, data + size);
  return OkStatus();
}

/// READs the pipe for the rest of an RPC answer (MS-SMB2 3.2.4.6).
Status ReadPipe(Exchange* x, std::vector<uint8_t>* pending) {
  Smb2Ids ids;
  if (!NextIds(x, false, &ids)) return Malformed();
  Smb2Frame f;
  StartFrame(&f);
  AppendRead(&f, ids, x->file, kRpcMaxFrag);
  Smb2Message m;
  Status s = SendOne(x, &f, ids, kSmb2Read, &m);
  if (!IsOk(s)) return s;
  size_t before = pending->size();
  s = TakePipeData(m, DecodeReadResponse, pending);
  // No progress while a PDU is unfinished would only repeat itself.
  if (IsOk(s) && pending->size() == before) return Malformed();
  return s;
}

/// The answer to the pipe IOCTL `ioctl_id`: its output, then READs until the
/// DCE/RPC fragments say the answer is whole. A pipe READ may return part of
/// a message with STATUS_SUCCESS, so only frag_length decides.
Status ReceivePipeAnswer(Exchange* x, uint64_t ioctl_id, uint32_t call_id, bool bind,
                         RpcReply* reply) {
  Smb2Message m;
  Status s = ReceiveResponse(x, ioctl_id, kSmb2Ioctl, &m);
  std::vector<uint8_t> pending;
  if (IsOk(s)) s = TakePipeData(m, DecodeIoctlResponse, &pending);
  for (int reads = 0; IsOk(s); ++reads) {
    bool done = false;
    s = TakePdus(&pending, call_id, bind, reply, &done);
    if (!IsOk(s) || done) return s;
    if (reads == kMaxPipeReads) return Malformed();
    s = ReadPipe(x, &pending);
  }
  return s;
}

/// TREE_CONNECT IPC$, CREATE lsarpc and the BIND, as one related compound.
Status OpenLsaPipe(Exchange* x, const std::u16string& tree_path) {
  Smb2Ids tree_ids, create_ids, bind_ids;
  if (!NextIds(x, false, &tree_ids) || !NextIds(x, true, &create_ids) ||
      !NextIds(x, true, &bind_ids)) {
    return Malformed();
  }
  std::vector<uint8_t> bind;
  EncodeLsaBind(kBindCallId, &bind);
  Smb2FileId from_create;  // all ones: the file the CREATE before it opened
  from_create.persistent = ~uint64_t{0};
  from_create.volatile_id = ~uint64_t{0};
  Smb2Frame f;
  StartFrame(&f);
  AppendTreeConnect(&f, tree_ids, tree_path);
  AppendCreatePipe(&f, create_ids, u"lsarpc");
  AppendPipeTransceive(&f, bind_ids, from_create, bind.data(), bind.size());
  Smb2Message m;
  Status s = SendOne(x, &f, tree_ids, kSmb2TreeConnect, &m);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  // An async header has no TreeId; the tree would be lost.
  if (m.header.flags & kSmb2FlagAsync) return Malformed();
  s = DecodeTreeConnectResponse(m);
  if (!IsOk(s)) return s;
  x->tree_id = m.header.tree_id;
  s = ReceiveResponse(x, create_ids.message_id, kSmb2Create, &m);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  s = DecodeCreateResponse(m, &x->file);
  if (!IsOk(s)) return s;
  RpcReply unused;
  return ReceivePipeAnswer(x, bind_ids.message_id, kBindCallId, true, &unused);
}

/// One LSA call: REQUEST in an IOCTL, the reassembled reply stub out.
Status CallLsa(Exchange* x, uint32_t call_id, uint16_t opnum, const std::vector<uint8_t>& stub,
               RpcReply* reply) {
  Smb2Ids ids;
  if (!NextIds(x, false, &ids)) return Malformed();
  std::vector<uint8_t> pdu;
  EncodeRequest(call_id, opnum, stub.data(), stub.size(), &pdu);
  Smb2Frame f;
  StartFrame(&f);
  AppendPipeTransceive(&f, ids, x->file, pdu.data(), pdu.size());
  Status s = SendFrame(x, &f);
  if (!IsOk(s)) return s;
  return ReceivePipeAnswer(x, ids.message_id, call_id, false, reply);
}

// MS-LSAD 3.1.4.4.1 and 3.1.4.4.4: open the policy, ask for level 5.
Status QueryPolicy(Exchange* x, AccountDomain* out) {
  std::vector<uint8_t> stub;
  EncodeOpenPolicy2(&stub);
  RpcReply open;
  Status s = CallLsa(x, kOpenPolicyCallId, kLsarOpenPolicy2, stub, &open);
  if (!IsOk(s)) return s;
  PolicyHandle handle;
  s = DecodeOpenPolicy2(open.stub.data(), open.stub.size(), &handle);
  if (!IsOk(s)) return s;

  stub.clear();
  EncodeQueryAccountDomain(handle, &stub);
  RpcReply query;
  s = CallLsa(x, kQueryCallId, kLsarQueryInformationPolicy, stub, &query);
  if (!IsOk(s)) return s;
  return DecodeAccountDomain(query.stub.data(), query.stub.size(), out);
}

Status RunQuery(Transport* transport, const std::u16string& tree_path, uint32_t reply_ms,
                uint64_t deadline, AccountDomain* out) {
  Exchange x;
  x.transport = transport;
  x.reply_ms = reply_ms;
  x.deadline = deadline;
  Status s = Negotiate(&x);
  if (IsOk(s)) s = SetUpSession(&x);
  if (IsOk(s)) s = OpenLsaPipe(&x, tree_path);
  AccountDomain domain;
  if (IsOk(s)) s = QueryPolicy(&x, &domain);
  if (IsOk(s)) *out = domain;
  return s;
}

/// `\\server\IPC$`, naming the server as typed (the host when nothing was).
/// Servers do not check the name; it only has to be well formed.
std::u16string TreePath(const char16_t* server, const std::string& host) {
  if (server[0] == u'\\' && server[1] == u'\\') server += 2;  // as ServerHost does
  std::u16string name(server);
  if (name.empty()) name.assign(host.begin(), host.end());  // the loopback literal
  return u"\\\\" + name + u"\\IPC$";
}

/// The connection behind a Transport.
struct SocketLink {
  Connection* connection;
  uint32_t reply_ms;
  uint64_t deadline;
};

Status SendOnSocket(void* context, const uint8_t* data, size_t size) {
  SocketLink* link = static_cast<SocketLink*>(context);
  uint32_t timeout = 0;
  if (!TimeLeft(ReplyDeadline(link->deadline, link->reply_ms), &timeout)) {
    return TransportFailure(kReplyTimeout);
  }
  return SendAll(link->connection, data, size, timeout);
}

Status ReceiveOnSocket(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  SocketLink* link = static_cast<SocketLink*>(context);
  return ReceiveExact(link->connection, data, size, timeout_ms);
}

}  // namespace

Status RunDomainQuery(Transport* transport, const QueryLimits& limits, AccountDomain* out) {
  return RunQuery(transport, u"\\\\127.0.0.1\\IPC$", limits.reply_ms,
                  MonotonicMs() + limits.total_ms, out);
}

Status QueryAccountDomain(const char16_t* server, const QueryLimits& limits,
                          AccountDomain* out) {
  uint64_t deadline = MonotonicMs() + limits.total_ms;
  std::string host;
  if (server == nullptr || !ServerHost(server, &host)) return TransportFailure(kResolveFailed);
  std::u16string tree_path = TreePath(server, host);
  if (tree_path.size() > kMaxServerUnits + 7) return TransportFailure(kResolveFailed);

  Connection connection;
  Status s = ConnectTcp(host, 445, limits.connect_ms, deadline, &connection);
  if (IsOk(s)) {
    SocketLink link{&connection, limits.reply_ms, deadline};
    Transport transport{&link, SendOnSocket, ReceiveOnSocket};
    s = RunQuery(&transport, tree_path, limits.reply_ms, deadline, out);
  }
  CloseConnection(&connection);
  return s;
}

}  // namespace net
