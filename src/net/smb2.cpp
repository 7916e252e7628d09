// SMB2 messages for the query. Requests are written with WireWriter, replies
// read with WireReader; body offsets count from the message's header.
#include "net/smb2.h"

#include "net/dcerpc.h"
#include "net/wire.h"

namespace net {
namespace {

constexpr uint8_t kProtocolId[4] = {0xFE, 'S', 'M', 'B'};
constexpr uint16_t kDialects[] = {0x0202, 0x0210, 0x0300, 0x0302, 0x0311};
constexpr uint16_t kDialect311 = 0x0311;
constexpr uint32_t kFsctlPipeTransceive = 0x0011C017;
constexpr uint8_t kShareTypePipe = 2;
constexpr uint64_t kRelatedSession = 0xFFFFFFFFFFFFFFFFull;
constexpr uint32_t kRelatedTree = 0xFFFFFFFFu;

// Starts a request in `f`: pads the one before it to 8 bytes and points its
// NextCommand here (MS-SMB2 3.2.4.1.4), then writes the header.
void BeginRequest(Smb2Frame* f, const Smb2Ids& ids, Smb2Command command) {
  WireWriter w{&f->bytes};
  if (f->count > 0) {
    PadTo(w, 8, f->last_header);
    PatchU32(w, f->last_header + 20, static_cast<uint32_t>(f->bytes.size() - f->last_header));
  }
  f->last_header = f->bytes.size();
  ++f->count;

  Smb2Header h;
  h.credit_charge = ids.credit_charge;
  h.command = command;
  h.credits = kSmb2CreditRequest;
  h.message_id = ids.message_id;
  h.flags = ids.related ? kSmb2FlagRelated : 0;
  h.session_id = ids.related ? kRelatedSession : ids.session_id;
  h.tree_id = ids.related ? kRelatedTree : ids.tree_id;
  EncodeSmb2Header(h, &f->bytes);
}

void PutFileId(WireWriter w, const Smb2FileId& file) {
  PutU64(w, file.persistent);
  PutU64(w, file.volatile_id);
}

// True when [off, off + len) lies in a message of `size` bytes and, when it
// is not empty, after the header.
bool InMessage(size_t size, size_t off, size_t len) {
  if (len == 0) return true;
  return off >= kSmb2HeaderSize && off <= size && len <= size - off;
}

// A reader over the body, its StructureSize already read and checked.
WireReader BodyReader(const Smb2Message& m, uint16_t structure_size) {
  WireReader r = MakeReader(m.data, m.size);
  if (Seek(r, kSmb2HeaderSize) && ReadU16(r) != structure_size) r.failed = true;
  return r;
}

bool Offered(uint16_t dialect) {
  for (uint16_t d : kDialects) {
    if (d == dialect) return true;
  }
  return false;
}

// MS-SMB2 2.2.4: the negotiate contexts of a 3.1.1 answer, each 8-aligned
// from the header and wholly inside the message.
bool NegotiateContextsFit(const Smb2Message& m, size_t offset, size_t count) {
  WireReader r = MakeReader(m.data, m.size);
  if (count == 0 || offset < kSmb2HeaderSize || !Seek(r, offset)) return false;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && !AlignTo(r, 8)) return false;
    if (r.pos % 8 != 0) return false;
    (void)ReadU16(r);  // ContextType
    uint16_t length = ReadU16(r);
    if (!Skip(r, 4) || !Skip(r, length)) return false;
  }
  return ok(r);
}

}  // namespace

// MS-SMB2 2.2.1.1 (async) and 2.2.1.2 (sync).
void EncodeSmb2Header(const Smb2Header& h, std::vector<uint8_t>* out) {
  WireWriter w{out};
  PutBytes(w, kProtocolId, 4);
  PutU16(w, kSmb2HeaderSize);
  PutU16(w, h.credit_charge);
  PutU32(w, h.status);
  PutU16(w, h.command);
  PutU16(w, h.credits);
  PutU32(w, h.flags);
  PutU32(w, h.next_command);
  PutU64(w, h.message_id);
  if (h.flags & kSmb2FlagAsync) {
    PutU64(w, h.async_id);
  } else {
    PutU32(w, 0);  // Reserved (ProcessId)
    PutU32(w, h.tree_id);
  }
  PutU64(w, h.session_id);
  PutZeros(w, 16);  // Signature: an anonymous session signs nothing
}

bool DecodeSmb2Header(const uint8_t* data, size_t size, Smb2Header* h) {
  WireReader r = MakeReader(data, size);
  uint8_t id[4];
  ReadBytes(r, id, 4);
  bool id_ok = id[0] == kProtocolId[0] && id[1] == kProtocolId[1] &&
               id[2] == kProtocolId[2] && id[3] == kProtocolId[3];
  uint16_t structure_size = ReadU16(r);
  h->credit_charge = ReadU16(r);
  h->status = ReadU32(r);
  h->command = ReadU16(r);
  h->credits = ReadU16(r);
  h->flags = ReadU32(r);
  h->next_command = ReadU32(r);
  h->message_id = ReadU64(r);
  if (h->flags & kSmb2FlagAsync) {
    h->async_id = ReadU64(r);
    h->tree_id = 0;
  } else {
    h->async_id = 0;
    (void)ReadU32(r);
    h->tree_id = ReadU32(r);
  }
  h->session_id = ReadU64(r);
  (void)Skip(r, 16);
  return ok(r) && id_ok && structure_size == kSmb2HeaderSize;
}

void StartFrame(Smb2Frame* f) {
  f->bytes.assign(kSmb2FramePrefix, 0);
  f->last_header = 0;
  f->count = 0;
}

// MS-SMB2 2.1: a zero byte, then the length in 24 bits, big-endian.
bool FinishFrame(Smb2Frame* f) {
  size_t length = f->bytes.size() - kSmb2FramePrefix;
  if (length > 0xFFFFFF) return false;
  f->bytes[0] = 0;
  f->bytes[1] = static_cast<uint8_t>(length >> 16);
  f->bytes[2] = static_cast<uint8_t>(length >> 8);
  f->bytes[3] = static_cast<uint8_t>(length);
  return true;
}

Status DecodeFramePrefix(const uint8_t prefix[4], size_t* length) {
  *length = 0;
  // A server that refuses us (hosts deny) answers as a NetBIOS session
  // service would: a negative session response, then it closes.
  if (prefix[0] == 0x83) return TransportFailure(kNegativeSession);
  if (prefix[0] != 0) return Malformed();
  size_t n = (static_cast<size_t>(prefix[1]) << 16) | (static_cast<size_t>(prefix[2]) << 8) |
             prefix[3];
  if (n < kSmb2HeaderSize || n > kSmb2MaxFrame) return Malformed();
  *length = n;
  return OkStatus();
}

// MS-SMB2 2.2.3, with the PREAUTH_INTEGRITY context of 2.2.3.1.1: a server
// fails the whole NEGOTIATE when 3.1.1 is offered without it.
void AppendNegotiate(Smb2Frame* f, const Smb2Ids& ids, const uint8_t client_guid[16],
                     const uint8_t salt[32]) {
  BeginRequest(f, ids, kSmb2Negotiate);
  size_t header = f->last_header;
  WireWriter w{&f->bytes};
  PutU16(w, 36);
  PutU16(w, sizeof(kDialects) / sizeof(kDialects[0]));
  PutU16(w, 1);  // SecurityMode: signing enabled
  PutU16(w, 0);
  PutU32(w, 0);  // Capabilities
  PutBytes(w, client_guid, 16);
  size_t context_offset_at = f->bytes.size();
  PutU32(w, 0);  // NegotiateContextOffset, patched below
  PutU16(w, 1);  // NegotiateContextCount
  PutU16(w, 0);
  for (uint16_t d : kDialects) PutU16(w, d);
  PadTo(w, 8, header);
  PatchU32(w, context_offset_at, static_cast<uint32_t>(f->bytes.size() - header));
  PutU16(w, 1);   // SMB2_PREAUTH_INTEGRITY_CAPABILITIES
  PutU16(w, 38);  // DataLength
  PutU32(w, 0);
  PutU16(w, 1);   // HashAlgorithmCount
  PutU16(w, 32);  // SaltLength
  PutU16(w, 1);   // SHA-512
  PutBytes(w, salt, 32);
}

// MS-SMB2 2.2.5
void AppendSessionSetup(Smb2Frame* f, const Smb2Ids& ids, const uint8_t* token,
                        size_t token_size) {
  BeginRequest(f, ids, kSmb2SessionSetup);
  WireWriter w{&f->bytes};
  PutU16(w, 25);
  PutU8(w, 0);  // Flags
  PutU8(w, 1);  // SecurityMode: signing enabled
  PutU32(w, 0);  // Capabilities
  PutU32(w, 0);  // Channel
  PutU16(w, kSmb2HeaderSize + 24);
  PutU16(w, static_cast<uint16_t>(token_size));
  PutU64(w, 0);  // PreviousSessionId
  PutBytes(w, token, token_size);
}

// MS-SMB2 2.2.9
void AppendTreeConnect(Smb2Frame* f, const Smb2Ids& ids, const std::u16string& path) {
  BeginRequest(f, ids, kSmb2TreeConnect);
  WireWriter w{&f->bytes};
  PutU16(w, 9);
  PutU16(w, 0);
  PutU16(w, kSmb2HeaderSize + 8);
  PutU16(w, static_cast<uint16_t>(2 * path.size()));
  PutUtf16(w, path);
}

// MS-SMB2 2.2.13: open an existing pipe for reading and writing.
void AppendCreatePipe(Smb2Frame* f, const Smb2Ids& ids, const std::u16string& pipe) {
  BeginRequest(f, ids, kSmb2Create);
  WireWriter w{&f->bytes};
  PutU16(w, 57);
  PutU8(w, 0);   // SecurityFlags
  PutU8(w, 0);   // RequestedOplockLevel: none
  PutU32(w, 2);  // ImpersonationLevel: Impersonation
  PutZeros(w, 16);  // SmbCreateFlags, Reserved
  PutU32(w, 0x0012019F);  // DesiredAccess: generic read and write on a pipe
  PutU32(w, 0);  // FileAttributes
  PutU32(w, 3);  // ShareAccess: read | write
  PutU32(w, 1);  // CreateDisposition: FILE_OPEN
  PutU32(w, 0);  // CreateOptions
  PutU16(w, kSmb2HeaderSize + 56);
  PutU16(w, static_cast<uint16_t>(2 * pipe.size()));
  PutU32(w, 0);  // CreateContextsOffset
  PutU32(w, 0);  // CreateContextsLength
  PutUtf16(w, pipe);
}

// MS-SMB2 2.2.31: one PDU in, the pipe's answer out (at most kRpcMaxFrag).
void AppendPipeTransceive(Smb2Frame* f, const Smb2Ids& ids, const Smb2FileId& file,
                          const uint8_t* input, size_t input_size) {
  BeginRequest(f, ids, kSmb2Ioctl);
  WireWriter w{&f->bytes};
  PutU16(w, 57);
  PutU16(w, 0);
  PutU32(w, kFsctlPipeTransceive);
  PutFileId(w, file);
  PutU32(w, kSmb2HeaderSize + 56);  // InputOffset
  PutU32(w, static_cast<uint32_t>(input_size));
  PutU32(w, 0);  // MaxInputResponse
  PutU32(w, 0);  // OutputOffset
  PutU32(w, 0);  // OutputCount
  PutU32(w, kRpcMaxFrag);
  PutU32(w, 1);  // SMB2_0_IOCTL_IS_FSCTL
  PutU32(w, 0);
  PutBytes(w, input, input_size);
}

// MS-SMB2 2.2.19
void AppendRead(Smb2Frame* f, const Smb2Ids& ids, const Smb2FileId& file, uint32_t length) {
  BeginRequest(f, ids, kSmb2Read);
  WireWriter w{&f->bytes};
  PutU16(w, 49);
  PutU8(w, 0);  // Padding
  PutU8(w, 0);  // Flags
  PutU32(w, length);
  PutU64(w, 0);  // Offset: a pipe has none
  PutFileId(w, file);
  PutU32(w, 0);  // MinimumCount
  PutU32(w, 0);  // Channel
  PutU32(w, 0);  // RemainingBytes
  PutU16(w, 0);  // ReadChannelInfoOffset
  PutU16(w, 0);  // ReadChannelInfoLength
  PutU8(w, 0);   // the Buffer byte the structure size counts
}

// MS-SMB2 3.2.5.1.9: responses in a frame are chained by NextCommand, each
// 8-aligned and at least a header long.
bool NextMessage(const uint8_t* payload, size_t size, size_t* pos, Smb2Message* msg) {
  if (*pos >= size) return false;
  size_t avail = size - *pos;
  const uint8_t* start = payload + *pos;
  if (!DecodeSmb2Header(start, avail, &msg->header)) return false;
  if (!(msg->header.flags & kSmb2FlagResponse)) return false;
  size_t next = msg->header.next_command;
  if (next == 0) {
    next = avail;
  } else if (next < kSmb2HeaderSize || next % 8 != 0 || next >= avail) {
    return false;
  }
  msg->data = start;
  msg->size = next;
  *pos += next;
  return true;
}

// MS-SMB2 2.2.4
Status DecodeNegotiateResponse(const Smb2Message& m, uint16_t* dialect) {
  WireReader r = BodyReader(m, 65);
  (void)ReadU16(r);  // SecurityMode: unsigned anonymous sessions work either way
  *dialect = ReadU16(r);
  uint16_t context_count = ReadU16(r);
  (void)Skip(r, 16 + 4 + 12 + 16);  // ServerGuid, Capabilities, sizes, times
  uint16_t token_offset = ReadU16(r);
  uint16_t token_length = ReadU16(r);
  uint32_t context_offset = ReadU32(r);
  if (!ok(r) || !Offered(*dialect) || !InMessage(m.size, token_offset, token_length)) {
    return Malformed();
  }
  if (*dialect == kDialect311 && !NegotiateContextsFit(m, context_offset, context_count)) {
    return Malformed();
  }
  return OkStatus();
}

// MS-SMB2 2.2.6
Status DecodeSessionSetupResponse(const Smb2Message& m, const uint8_t** token, size_t* size) {
  WireReader r = BodyReader(m, 9);
  (void)ReadU16(r);  // SessionFlags: Samba does not mark a null session
  uint16_t offset = ReadU16(r);
  uint16_t length = ReadU16(r);
  *token = nullptr;
  *size = 0;
  if (!ok(r) || !InMessage(m.size, offset, length)) return Malformed();
  if (length > 0) *token = m.data + offset;
  *size = length;
  return OkStatus();
}

// MS-SMB2 2.2.10: IPC$ must be a pipe share.
Status DecodeTreeConnectResponse(const Smb2Message& m) {
  WireReader r = BodyReader(m, 16);
  uint8_t share_type = ReadU8(r);
  (void)Skip(r, 1 + 4 + 4 + 4);  // Reserved, ShareFlags, Capabilities, MaximalAccess
  if (!ok(r) || share_type != kShareTypePipe) return Malformed();
  return OkStatus();
}

// MS-SMB2 2.2.14
Status DecodeCreateResponse(const Smb2Message& m, Smb2FileId* file) {
  WireReader r = BodyReader(m, 89);
  (void)Skip(r, 1 + 1 + 4 + 32 + 16 + 4 + 4);  // up to FileId
  file->persistent = ReadU64(r);
  file->volatile_id = ReadU64(r);
  uint32_t contexts_offset = ReadU32(r);
  uint32_t contexts_length = ReadU32(r);
  if (!ok(r) || !InMessage(m.size, contexts_offset, contexts_length)) return Malformed();
  return OkStatus();
}

// MS-SMB2 2.2.32
Status DecodeIoctlResponse(const Smb2Message& m, const uint8_t** output, size_t* size) {
  WireReader r = BodyReader(m, 49);
  (void)ReadU16(r);
  uint32_t ctl_code = ReadU32(r);
  (void)Skip(r, 16 + 4 + 4);  // FileId, InputOffset, InputCount
  uint32_t offset = ReadU32(r);
  uint32_t count = ReadU32(r);
  (void)Skip(r, 8);  // Flags, Reserved2
  *output = nullptr;
  *size = 0;
  if (!ok(r) || ctl_code != kFsctlPipeTransceive || !InMessage(m.size, offset, count)) {
    return Malformed();
  }
  if (count > 0) *output = m.data + offset;
  *size = count;
  return OkStatus();
}

// MS-SMB2 2.2.20
Status DecodeReadResponse(const Smb2Message& m, const uint8_t** data, size_t* size) {
  WireReader r = BodyReader(m, 17);
  uint8_t offset = ReadU8(r);
  (void)ReadU8(r);
  uint32_t length = ReadU32(r);
  (void)Skip(r, 8);  // DataRemaining: not trusted, see the caller
  *data = nullptr;
  *size = 0;
  if (!ok(r) || !InMessage(m.size, offset, length)) return Malformed();
  if (length > 0) *data = m.data + offset;
  *size = length;
  return OkStatus();
}

// MS-SMB2 2.2.2: ErrorData is at least one byte even when ByteCount is 0.
Status DecodeErrorResponse(const Smb2Message& m) {
  WireReader r = BodyReader(m, 9);
  (void)Skip(r, 2);  // ErrorContextCount, Reserved
  uint32_t byte_count = ReadU32(r);
  if (!Skip(r, byte_count == 0 ? 1 : byte_count)) return Malformed();
  return OkStatus();
}

bool TakeMessageIds(Smb2Credits* c, uint64_t n, uint64_t* first) {
  if (c->next_id > c->limit || n > c->limit - c->next_id) return false;
  *first = c->next_id;
  c->next_id += n;
  return true;
}

void GrantCredits(Smb2Credits* c, uint16_t granted) {
  // Saturate far below overflow; a window that large is never used.
  constexpr uint64_t kCap = uint64_t{1} << 62;
  c->limit = c->limit > kCap - granted ? kCap : c->limit + granted;
}

}  // namespace net
