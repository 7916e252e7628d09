// The account-domain query: NEGOTIATE, the logon (anonymous: two
// SESSION_SETUP legs; Kerberos one; NTLM two), TREE_CONNECT + CREATE +
// IOCTL(BIND) as a related compound, then one IOCTL per LSA call; on a
// signed 3.0.x session the negotiation's validation rides along with the
// first call. Six round trips anonymously, five with Kerberos. The
// connection is simply closed at the end: the server needs no teardown.
#include "net/domain_query.h"

#include <string>
#include <vector>

#include "net/dcerpc.h"
#include "net/lsa.h"
#include "net/netbios_session.h"
#include "net/server_name.h"
#include "net/smb2.h"
#include "net/smb2_connection.h"
#include "net/smb2_session.h"
#include "net/socket.h"

namespace net {
namespace {

/// READs tolerated while reassembling one RPC reply.
constexpr int kMaxPipeReads = 64;
/// The longest server name we put into the tree path.
constexpr size_t kMaxServerUnits = 255;
constexpr uint32_t kBindCallId = 1;
constexpr uint32_t kOpenPolicyCallId = 2;
constexpr uint32_t kQueryCallId = 3;

/// One query's state on its connection.
struct Exchange {
  Smb2Connection connection;
  Smb2Session session;
  Smb2FileId file;
};

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
  if (!NextIds(&x->connection, false, &ids)) return Malformed();
  Smb2Frame f;
  StartFrame(&f);
  AppendRead(&f, ids, x->file, kRpcMaxFrag);
  Smb2Message m;
  Status s = SendOne(&x->connection, &f, ids, kSmb2Read, &m);
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
  Status s = ReceiveResponse(&x->connection, ioctl_id, kSmb2Ioctl, &m);
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

/// The answers to a CREATE of lsarpc (`create`) and the BIND after it.
Status ReceiveCreateAndBind(Exchange* x, uint64_t create, uint64_t bind) {
  Smb2Message m;
  Status s = ReceiveResponse(&x->connection, create, kSmb2Create, &m);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  s = DecodeCreateResponse(m, &x->file);
  if (!IsOk(s)) return s;
  RpcReply unused;
  return ReceivePipeAnswer(x, bind, kBindCallId, true, &unused);
}

/// Appends CREATE lsarpc and the BIND related to it.
void AppendCreateAndBind(Smb2Frame* f, const Smb2Ids& create_ids, const Smb2Ids& bind_ids) {
  std::vector<uint8_t> bind;
  EncodeLsaBind(kBindCallId, &bind);
  Smb2FileId from_create;  // all ones: the file the CREATE before it opened
  from_create.persistent = ~uint64_t{0};
  from_create.volatile_id = ~uint64_t{0};
  AppendCreatePipe(f, create_ids, u"lsarpc");
  AppendPipeTransceive(f, bind_ids, from_create, bind.data(), bind.size());
}

/// CREATE and BIND again, encrypted, after the server said with its
/// TREE_CONNECT answer that IPC$ wants encryption: the first two went out
/// in clear before it could (MS-SMB2 3.2.5.5). Their answers, refusals most
/// likely, are read and dropped first. One more round trip, only here.
Status RetryEncrypted(Exchange* x, Status first, uint64_t bind) {
  if (first.kind != StatusKind::kNtStatus) return first;
  Smb2Message m;
  Status s = ReceiveResponse(&x->connection, bind, kSmb2Ioctl, &m);
  if (!IsOk(s)) return s;
  Smb2Ids create_ids, bind_ids;
  if (!NextIds(&x->connection, false, &create_ids) || !NextIds(&x->connection, true, &bind_ids)) {
    return Malformed();
  }
  Smb2Frame f;
  StartFrame(&f);
  AppendCreateAndBind(&f, create_ids, bind_ids);
  s = SendFrame(&x->connection, &f);
  if (!IsOk(s)) return s;
  return ReceiveCreateAndBind(x, create_ids.message_id, bind_ids.message_id);
}

/// TREE_CONNECT IPC$, CREATE lsarpc and the BIND, as one related compound.
Status OpenLsaPipe(Exchange* x, const std::u16string& tree_path) {
  Smb2Connection* c = &x->connection;
  Smb2Ids tree_ids, create_ids, bind_ids;
  if (!NextIds(c, false, &tree_ids) || !NextIds(c, true, &create_ids) ||
      !NextIds(c, true, &bind_ids)) {
    return Malformed();
  }
  Smb2Frame f;
  StartFrame(&f);
  AppendTreeConnect(&f, tree_ids, tree_path);
  AppendCreateAndBind(&f, create_ids, bind_ids);
  Smb2Message m;
  Status s = SendOne(c, &f, tree_ids, kSmb2TreeConnect, &m);
  if (!IsOk(s)) return s;
  if (m.header.status != kStatusSuccess) return ServerFailure(m);
  // An async header has no TreeId; the tree would be lost.
  if (m.header.flags & kSmb2FlagAsync) return Malformed();
  uint32_t share_flags = 0;
  s = DecodeTreeConnectResponse(m, &share_flags);
  if (!IsOk(s)) return s;
  c->tree_id = m.header.tree_id;
  bool newly_encrypted = (share_flags & kSmb2ShareEncrypt) != 0 && !c->encrypt;
  if (newly_encrypted) {
    if (!c->can_encrypt) return SecurityFailure(kNoCipher);
    c->encrypt = true;  // MS-SMB2 3.2.5.5: all on this tree, from now on
  }
  s = ReceiveCreateAndBind(x, create_ids.message_id, bind_ids.message_id);
  if (newly_encrypted && !IsOk(s)) s = RetryEncrypted(x, s, bind_ids.message_id);
  return s;
}

/// One LSA call: REQUEST in an IOCTL, the reassembled reply stub out. When
/// the negotiation is still to be validated, its FSCTL goes first in the
/// same frame (not related: its outcome must not touch the call's) and is
/// checked before anything of the call's answer is used.
Status CallLsa(Exchange* x, uint32_t call_id, uint16_t opnum, const std::vector<uint8_t>& stub,
               RpcReply* reply) {
  Smb2Connection* c = &x->connection;
  bool validate = call_id == kOpenPolicyCallId && NeedsValidation(*c, x->session);
  Smb2Ids validate_ids, ids;
  if ((validate && !NextIds(c, false, &validate_ids)) || !NextIds(c, false, &ids)) {
    return Malformed();
  }
  std::vector<uint8_t> pdu;
  EncodeRequest(call_id, opnum, stub.data(), stub.size(), &pdu);
  Smb2Frame f;
  StartFrame(&f);
  if (validate) AppendValidateNegotiate(&f, validate_ids, x->session.offer);
  AppendPipeTransceive(&f, ids, x->file, pdu.data(), pdu.size());
  Status s = SendFrame(c, &f);
  if (IsOk(s) && validate) s = CheckValidation(c, x->session, validate_ids.message_id);
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

/// The whole exchange with `logon` (which it closes), keys wiped at the end.
Status RunQuery(Transport* transport, Authenticator* logon, const std::u16string& tree_path,
                uint32_t reply_ms, uint64_t deadline, AccountDomain* out, QueryReport* report,
                Trace* trace = nullptr) {
  Exchange x;
  x.connection.trace = trace;
  x.connection.transport = transport;
  x.connection.reply_ms = reply_ms;
  x.connection.deadline = deadline;
  Status s = SetUpSession(&x.connection, logon, &x.session);
  CloseLogon(logon);
  if (IsOk(s)) s = OpenLsaPipe(&x, tree_path);
  AccountDomain domain;
  if (IsOk(s)) s = QueryPolicy(&x, &domain);
  if (IsOk(s)) *out = domain;
  if (report != nullptr) {
    report->mechanism = x.session.mechanism;
    report->dialect = x.session.negotiated.dialect;
    report->signed_session = x.connection.signing;
    report->encrypted_session = x.connection.encrypt;
    report->round_trips = x.connection.frames_sent;
  }
  WipeSigningKey(&x.connection.signing_key);
  WipeCipherKeys(&x.connection.cipher_keys);
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
  uint64_t now = MonotonicMs();
  if (now >= link->deadline) return TransportFailure(kReplyTimeout);
  uint64_t left = link->deadline - now;
  return SendAll(link->connection, data, size,
                 left < link->reply_ms ? static_cast<uint32_t>(left) : link->reply_ms);
}

Status ReceiveOnSocket(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  SocketLink* link = static_cast<SocketLink*>(context);
  return ReceiveExact(link->connection, data, size, timeout_ms);
}

/// Whether a failure to connect means nothing answered on the port (rather
/// than that the name is unknown or our side failed).
bool NothingAnswered(Status s) {
  return s.kind == StatusKind::kTransport &&
         (s.code == kConnectRefused || s.code == kUnreachable || s.code == kConnectTimeout);
}

/// Connects to `port` on `host`, noted in `trace`.
Status ConnectTraced(const std::string& host, uint16_t port, const QueryLimits& limits,
                     uint64_t deadline, Connection* connection, Trace* trace) {
  uint64_t start = MonotonicMs();
  Status s = ConnectTcp(host, port, limits.connect_ms, deadline, connection);
  TraceLine(trace, "connect %s port %u: %s %u ms", host.c_str(), static_cast<unsigned>(port),
            IsOk(s) ? "ok" : StatusReason(s), static_cast<unsigned>(MonotonicMs() - start));
  return s;
}

/// A NetBIOS session with `host` on port 139, called by its name as the
/// platform's client derives it; a server that does not go by that name is
/// called again as "*SMBSERVER", the name every server answers to.
Status OpenNetbiosSession(const std::string& host, const QueryLimits& limits, uint64_t deadline,
                          Connection* connection, Trace* trace) {
  std::string called = NetbiosCalledName(host);
  const std::string calling = NetbiosCallingName(LocalComputerName());
  for (;;) {
    Status s = ConnectTraced(host, kNetbiosSessionPort, limits, deadline, connection, trace);
    if (!IsOk(s)) return s;
    SocketLink link{connection, limits.reply_ms, deadline};
    Transport transport{&link, SendOnSocket, ReceiveOnSocket};
    uint64_t now = MonotonicMs();
    uint64_t left = now < deadline ? deadline - now : 0;
    uint8_t refusal = 0;
    s = RequestSession(&transport, called, calling,
                       left < limits.reply_ms ? static_cast<uint32_t>(left) : limits.reply_ms,
                       &refusal);
    TraceLine(trace, "NetBIOS session, called %s, calling %s: %s (refusal 0x%02X)", called.c_str(),
              calling.c_str(), IsOk(s) ? "ok" : StatusReason(s), refusal);
    if (IsOk(s)) return s;
    CloseConnection(connection);
    if (refusal != kCalledNameNotPresent || called == kAnyServerName) return s;
    called = kAnyServerName;
  }
}

/// A connection for the exchange: to port 445, or, when nothing answers
/// there, a NetBIOS session on port 139 (never once a server has spoken on
/// 445). When 139 does not answer either, the failure on 445 stands.
Status ConnectToServer(const std::string& host, const QueryLimits& limits, uint64_t deadline,
                       Connection* connection, uint16_t* port, Trace* trace) {
  *port = 445;
  Status direct = ConnectTraced(host, 445, limits, deadline, connection, trace);
  if (!NothingAnswered(direct)) return direct;
  *port = kNetbiosSessionPort;
  Status session = OpenNetbiosSession(host, limits, deadline, connection, trace);
  return NothingAnswered(session) ? direct : session;
}

/// The logon to use: the caller's own, or anonymous when the platform has
/// no mechanism at all.
Status OpenLogon(const std::string& host, Authenticator* logon, Trace* trace) {
  Status s = OpenCallerLogon(host, logon, trace);
  if (IsSecurity(s, kNoCredential)) {
    CloseLogon(logon);
    s = OpenAnonymousLogon(logon);
  }
  return s;
}

}  // namespace

Status RunDomainQuery(Transport* transport, Authenticator* logon, const QueryLimits& limits,
                      AccountDomain* out, QueryReport* report, Trace* trace) {
  Authenticator anonymous;
  if (logon == nullptr) {
    Status s = OpenAnonymousLogon(&anonymous);
    if (!IsOk(s)) return s;
    logon = &anonymous;
  }
  return RunQuery(transport, logon, u"\\\\127.0.0.1\\IPC$", limits.reply_ms,
                  MonotonicMs() + limits.total_ms, out, report, trace);
}

namespace {

/// The query proper, with what it does noted in `trace`.
Status QueryTraced(const char16_t* server, const QueryLimits& limits, AccountDomain* out,
                   QueryReport* report, Trace* trace) {
  uint64_t deadline = MonotonicMs() + limits.total_ms;
  std::string host;
  if (server == nullptr || !ServerHost(server, &host)) return TransportFailure(kResolveFailed);
  std::u16string tree_path = TreePath(server, host);
  if (tree_path.size() > kMaxServerUnits + 7) return TransportFailure(kResolveFailed);
  TraceLine(trace, "host %s", host.c_str());

  Connection connection;
  uint16_t port = 0;
  Status s = ConnectToServer(host, limits, deadline, &connection, &port, trace);
  if (report != nullptr) report->port = port;
  Authenticator logon;
  if (IsOk(s)) s = OpenLogon(host, &logon, trace);
  if (IsOk(s)) {
    SocketLink link{&connection, limits.reply_ms, deadline};
    Transport transport{&link, SendOnSocket, ReceiveOnSocket};
    s = RunQuery(&transport, &logon, tree_path, limits.reply_ms, deadline, out, report, trace);
  }
  CloseLogon(&logon);
  CloseConnection(&connection);
  return s;
}

}  // namespace

Status QueryAccountDomain(const char16_t* server, const QueryLimits& limits, AccountDomain* out,
                          QueryReport* report) {
  Trace trace;
  OpenTrace(&trace);
  Status s = QueryTraced(server, limits, out, report, &trace);
  TraceLine(&trace, "status %u: %s", static_cast<unsigned>(ToPlatformError(s)), StatusReason(s));
  CloseTrace(&trace);
  return s;
}

}  // namespace net
