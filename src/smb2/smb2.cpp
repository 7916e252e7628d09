// SPDX-License-Identifier: Apache-2.0
// SMB2 messages for the query. Requests are written with WireWriter, replies
// read with WireReader; body offsets count from the message's header.
#include "smb2/smb2.h"

#include "base/wire.h"

namespace net {
namespace {

constexpr uint8_t kProtocolId[4] = {0xFE, 'S', 'M', 'B'};
constexpr uint16_t kDialects[] = {kSmb2Dialect202, kSmb2Dialect210, kSmb2Dialect300,
                                  kSmb2Dialect302, kSmb2Dialect311};
constexpr size_t kDialectCount = sizeof kDialects / sizeof kDialects[0];
constexpr uint32_t kFsctlPipeTransceive = 0x0011C017;
constexpr uint32_t kFsctlValidateNegotiate = 0x00140204;
/// Negotiate context types (MS-SMB2 2.2.3.1).
constexpr uint16_t kPreauthContext = 1;
constexpr uint16_t kEncryptionContext = 2;
constexpr uint16_t kSigningContext = 8;
constexpr uint16_t kSha512 = 1;
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

bool OfferedSigning(uint16_t id) {
  const SigningRow* row = FindSigning(id);
  return row != nullptr && row->offered;
}

// MS-SMB2 2.2.3.1.1: one hash algorithm, SHA-512, and a salt that fits.
bool ReadPreauthContext(WireReader data) {
  uint16_t count = ReadU16(data);
  uint16_t salt_length = ReadU16(data);
  uint16_t algorithm = ReadU16(data);
  return ok(data) && count == 1 && algorithm == kSha512 && Skip(data, salt_length);
}

// MS-SMB2 2.2.3.1.2: the one cipher the server chose, among ours; 0 says
// there is none the two share.
bool ReadEncryptionContext(WireReader data, Smb2NegotiateResult* out) {
  uint16_t count = ReadU16(data);
  uint16_t id = ReadU16(data);
  if (!ok(data) || count != 1) return false;
  if (id == 0) return true;
  const CipherRow* row = FindCipher(id);
  if (row == nullptr || !row->offered) return false;
  out->can_encrypt = true;
  out->cipher = row->id;
  return true;
}

// MS-SMB2 2.2.3.1.7: the one algorithm the server chose, among ours.
bool ReadSigningContext(WireReader data, SigningAlgorithm* out) {
  uint16_t count = ReadU16(data);
  uint16_t id = ReadU16(data);
  if (!ok(data) || count != 1 || !OfferedSigning(id)) return false;
  *out = static_cast<SigningAlgorithm>(id);
  return true;
}

// MS-SMB2 2.2.4, 3.2.5.2: the negotiate contexts of a 3.1.1 answer, each
// 8-aligned from the header and wholly inside the message. Exactly one
// preauth context; at most one encryption and one signing context; others
// are not ours to read.
bool ReadNegotiateContexts(const Smb2Message& m, size_t offset, size_t count,
                           Smb2NegotiateResult* out) {
  WireReader r = MakeReader(m.data, m.size);
  if (count == 0 || offset < kSmb2HeaderSize || !Seek(r, offset)) return false;
  int preauth = 0, encryption = 0, signing = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && !AlignTo(r, 8)) return false;
    if (r.pos % 8 != 0) return false;
    uint16_t type = ReadU16(r);
    uint16_t length = ReadU16(r);
    if (!Skip(r, 4) || !Need(r, length)) return false;
    WireReader data = MakeReader(r.data + r.pos, length);
    if (type == kPreauthContext && (++preauth > 1 || !ReadPreauthContext(data))) return false;
    if (type == kSigningContext && (++signing > 1 || !ReadSigningContext(data, &out->signing))) {
      return false;
    }
    if (type == kEncryptionContext && (++encryption > 1 || !ReadEncryptionContext(data, out))) {
      return false;
    }
    (void)Skip(r, length);
  }
  return ok(r) && preauth == 1;
}

void PutNegotiateContextHeader(WireWriter w, uint16_t type, uint16_t length) {
  PutU16(w, type);
  PutU16(w, length);
  PutU32(w, 0);  // Reserved
}

// MS-SMB2 2.2.3.1.2 and 2.2.3.1.7: the ENCRYPTION_ or SIGNING_CAPABILITIES
// context, with the ids of the table's offered rows in its order.
template <typename Row>
void PutOffered(WireWriter w, uint16_t type, const Row* table, size_t rows) {
  size_t count = 0;
  for (size_t i = 0; i < rows; ++i) count += table[i].offered ? 1 : 0;
  PutNegotiateContextHeader(w, type, static_cast<uint16_t>(2 + 2 * count));
  PutU16(w, static_cast<uint16_t>(count));
  for (size_t i = 0; i < rows; ++i) {
    if (table[i].offered) PutU16(w, static_cast<uint16_t>(table[i].id));
  }
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
  bool id_ok = id[0] == kProtocolId[0] && id[1] == kProtocolId[1] && id[2] == kProtocolId[2] &&
               id[3] == kProtocolId[3];
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
  size_t n =
      (static_cast<size_t>(prefix[1]) << 16) | (static_cast<size_t>(prefix[2]) << 8) | prefix[3];
  if (n < kSmb2HeaderSize || n > kSmb2MaxFrame) return Malformed();
  *length = n;
  return OkStatus();
}

// MS-SMB2 2.2.3, with the PREAUTH_INTEGRITY context of 2.2.3.1.1 (a server
// fails the whole NEGOTIATE when 3.1.1 is offered without it) and the
// ENCRYPTION_CAPABILITIES context of 2.2.3.1.2 and the SIGNING_CAPABILITIES
// context of 2.2.3.1.7.
void AppendNegotiate(Smb2Frame* f, const Smb2Ids& ids, const Smb2NegotiateOffer& offer) {
  BeginRequest(f, ids, kSmb2Negotiate);
  size_t header = f->last_header;
  WireWriter w{&f->bytes};
  PutU16(w, 36);
  PutU16(w, kDialectCount);
  PutU16(w, offer.security_mode);
  PutU16(w, 0);
  PutU32(w, offer.capabilities);
  PutBytes(w, offer.client_guid, 16);
  size_t context_offset_at = f->bytes.size();
  PutU32(w, 0);  // NegotiateContextOffset, patched below
  PutU16(w, 3);  // NegotiateContextCount
  PutU16(w, 0);
  for (uint16_t d : kDialects) PutU16(w, d);
  PadTo(w, 8, header);
  PatchU32(w, context_offset_at, static_cast<uint32_t>(f->bytes.size() - header));
  PutNegotiateContextHeader(w, kPreauthContext, 38);
  PutU16(w, 1);   // HashAlgorithmCount
  PutU16(w, 32);  // SaltLength
  PutU16(w, kSha512);
  PutBytes(w, offer.salt, 32);
  PadTo(w, 8, header);
  size_t rows = 0;
  const CipherRow* ciphers = CipherTable(&rows);
  PutOffered(w, kEncryptionContext, ciphers, rows);
  PadTo(w, 8, header);
  const SigningRow* signing = SigningTable(&rows);
  PutOffered(w, kSigningContext, signing, rows);
}

// MS-SMB2 2.2.5
void AppendSessionSetup(Smb2Frame* f, const Smb2Ids& ids, const uint8_t* token, size_t token_size) {
  BeginRequest(f, ids, kSmb2SessionSetup);
  WireWriter w{&f->bytes};
  PutU16(w, 25);
  PutU8(w, 0);   // Flags
  PutU8(w, 1);   // SecurityMode: signing enabled
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
  PutU8(w, 0);            // SecurityFlags
  PutU8(w, 0);            // RequestedOplockLevel: none
  PutU32(w, 2);           // ImpersonationLevel: Impersonation
  PutZeros(w, 16);        // SmbCreateFlags, Reserved
  PutU32(w, 0x0012019F);  // DesiredAccess: generic read and write on a pipe
  PutU32(w, 0);           // FileAttributes
  PutU32(w, 3);           // ShareAccess: read | write
  PutU32(w, 1);           // CreateDisposition: FILE_OPEN
  PutU32(w, 0);           // CreateOptions
  PutU16(w, kSmb2HeaderSize + 56);
  PutU16(w, static_cast<uint16_t>(2 * pipe.size()));
  PutU32(w, 0);  // CreateContextsOffset
  PutU32(w, 0);  // CreateContextsLength
  PutUtf16(w, pipe);
}

// MS-SMB2 2.2.31: one PDU in, the pipe's answer out (at most `max_output`).
void AppendPipeTransceive(Smb2Frame* f, const Smb2Ids& ids, const Smb2FileId& file,
                          const uint8_t* input, size_t input_size, uint32_t max_output) {
  BeginRequest(f, ids, kSmb2Ioctl);
  WireWriter w{&f->bytes};
  PutU16(w, 57);
  PutU16(w, 0);
  PutU32(w, kFsctlPipeTransceive);
  PutFileId(w, file);
  PutU32(w, kSmb2HeaderSize + 56);  // InputOffset
  PutU32(w, static_cast<uint32_t>(input_size));
  PutU32(w, 0);           // MaxInputResponse
  PutU32(w, 0);           // OutputOffset
  PutU32(w, 0);           // OutputCount
  PutU32(w, max_output);  // MaxOutputResponse
  PutU32(w, 1);           // SMB2_0_IOCTL_IS_FSCTL
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

// MS-SMB2 2.2.31, 2.2.31.4: the server must answer with what it negotiated;
// the input repeats what our NEGOTIATE sent. Not tied to a file.
void AppendValidateNegotiate(Smb2Frame* f, const Smb2Ids& ids, const Smb2NegotiateOffer& offer) {
  BeginRequest(f, ids, kSmb2Ioctl);
  WireWriter w{&f->bytes};
  PutU16(w, 57);
  PutU16(w, 0);
  PutU32(w, kFsctlValidateNegotiate);
  PutFileId(w, Smb2FileId{~uint64_t{0}, ~uint64_t{0}});
  PutU32(w, kSmb2HeaderSize + 56);  // InputOffset
  PutU32(w, static_cast<uint32_t>(24 + 2 * kDialectCount));
  PutU32(w, 0);   // MaxInputResponse
  PutU32(w, 0);   // OutputOffset
  PutU32(w, 0);   // OutputCount
  PutU32(w, 24);  // MaxOutputResponse: the answer's size
  PutU32(w, 1);   // SMB2_0_IOCTL_IS_FSCTL
  PutU32(w, 0);
  PutU32(w, offer.capabilities);
  PutBytes(w, offer.client_guid, 16);
  PutU16(w, offer.security_mode);
  PutU16(w, kDialectCount);
  for (uint16_t d : kDialects) PutU16(w, d);
}

// MS-SMB2 3.2.5.1.9: responses in a frame are chained by NextCommand, each
// 8-aligned and at least a header long. Windows may point the last one's
// NextCommand at the frame's end (MS-SMB2 3.3.4.1.3): that ends the chain.
bool NextMessage(const uint8_t* payload, size_t size, size_t* pos, Smb2Message* msg) {
  if (*pos >= size) return false;
  size_t avail = size - *pos;
  const uint8_t* start = payload + *pos;
  if (!DecodeSmb2Header(start, avail, &msg->header)) return false;
  if (!(msg->header.flags & kSmb2FlagResponse)) return false;
  size_t next = msg->header.next_command;
  if (next == 0) {
    next = avail;
  } else if (next < kSmb2HeaderSize || next % 8 != 0 || next > avail) {
    return false;
  }
  msg->data = start;
  msg->size = next;
  *pos += next;
  return true;
}

// MS-SMB2 2.2.4
Status DecodeNegotiateResponse(const Smb2Message& m, Smb2NegotiateResult* out) {
  WireReader r = BodyReader(m, 65);
  *out = Smb2NegotiateResult();
  out->security_mode = ReadU16(r);
  out->dialect = ReadU16(r);
  uint16_t context_count = ReadU16(r);
  (void)ReadBytes(r, out->server_guid, 16);
  out->capabilities = ReadU32(r);
  (void)Skip(r, 12 + 16);  // sizes, times
  uint16_t token_offset = ReadU16(r);
  uint16_t token_length = ReadU16(r);
  uint32_t context_offset = ReadU32(r);
  if (!ok(r) || !Offered(out->dialect) || !InMessage(m.size, token_offset, token_length)) {
    return Malformed();
  }
  if (out->dialect == kSmb2Dialect311 &&
      !ReadNegotiateContexts(m, context_offset, context_count, out)) {
    return Malformed();
  }
  if (out->dialect == kSmb2Dialect300 || out->dialect == kSmb2Dialect302) {
    out->can_encrypt = (out->capabilities & kSmb2CapEncryption) != 0;  // AES-128-CCM
  }
  return OkStatus();
}

// MS-SMB2 2.2.6
Status DecodeSessionSetupResponse(const Smb2Message& m, uint16_t* session_flags,
                                  const uint8_t** token, size_t* size) {
  WireReader r = BodyReader(m, 9);
  *session_flags = ReadU16(r);
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
Status DecodeTreeConnectResponse(const Smb2Message& m, uint32_t* share_flags) {
  WireReader r = BodyReader(m, 16);
  uint8_t share_type = ReadU8(r);
  (void)Skip(r, 1);  // Reserved
  *share_flags = ReadU32(r);
  (void)Skip(r, 4 + 4);  // Capabilities, MaximalAccess
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

namespace {

// MS-SMB2 2.2.32: the output of the IOCTL `ctl_code`.
Status DecodeIoctl(const Smb2Message& m, uint32_t ctl_code, const uint8_t** output, size_t* size) {
  WireReader r = BodyReader(m, 49);
  (void)ReadU16(r);
  uint32_t code = ReadU32(r);
  (void)Skip(r, 16 + 4 + 4);  // FileId, InputOffset, InputCount
  uint32_t offset = ReadU32(r);
  uint32_t count = ReadU32(r);
  (void)Skip(r, 8);  // Flags, Reserved2
  *output = nullptr;
  *size = 0;
  if (!ok(r) || code != ctl_code || !InMessage(m.size, offset, count)) return Malformed();
  if (count > 0) *output = m.data + offset;
  *size = count;
  return OkStatus();
}

}  // namespace

Status DecodeIoctlResponse(const Smb2Message& m, const uint8_t** output, size_t* size) {
  return DecodeIoctl(m, kFsctlPipeTransceive, output, size);
}

// MS-SMB2 2.2.32.6: VALIDATE_NEGOTIATE_INFO response, 24 bytes.
Status DecodeValidateNegotiateResponse(const Smb2Message& m, Smb2NegotiateResult* out) {
  const uint8_t* output = nullptr;
  size_t size = 0;
  Status s = DecodeIoctl(m, kFsctlValidateNegotiate, &output, &size);
  if (!IsOk(s)) return s;
  WireReader r = MakeReader(output, size);
  *out = Smb2NegotiateResult();
  out->capabilities = ReadU32(r);
  (void)ReadBytes(r, out->server_guid, 16);
  out->security_mode = ReadU16(r);
  out->dialect = ReadU16(r);
  if (!ok(r) || Remaining(r) != 0) return Malformed();
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

namespace {

// MS-SMB2 2.2.2.1: on 3.1.1 the ErrorData of an error answer may be
// `count` error contexts, each ErrorDataLength, ErrorId and its data, the
// next one 8-aligned from the first; together they fit the ByteCount.
bool ReadErrorContexts(WireReader data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && !AlignTo(data, 8)) return false;
    uint32_t length = ReadU32(data);
    (void)ReadU32(data);  // ErrorId
    if (!Skip(data, length)) return false;
  }
  return ok(data);
}

}  // namespace

// MS-SMB2 2.2.2: the structure counts one byte of ErrorData even when
// ByteCount is 0; servers before 3.1.1 send it, newer Windows leaves it out
// (a 72-byte answer). Both are taken; declared data must be there.
Status DecodeErrorResponse(const Smb2Message& m) {
  WireReader r = BodyReader(m, 9);
  uint8_t context_count = ReadU8(r);
  (void)Skip(r, 1);  // Reserved
  uint32_t byte_count = ReadU32(r);
  if (!Need(r, byte_count)) return Malformed();
  if (context_count > 0 &&
      !ReadErrorContexts(MakeReader(r.data + r.pos, byte_count), context_count)) {
    return Malformed();
  }
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

// One at a time rather than as many as fit: the answer to the first can
// change how the rest must go (a TREE_CONNECT's share flags may turn
// encryption on), and a shorter chain saves no round trip on our chains of
// two and three.
size_t PlanFrame(const Smb2Credits& c, size_t wanted) {
  uint64_t window = c.next_id < c.limit ? c.limit - c.next_id : 0;
  if (wanted == 0 || window == 0) return 0;
  return window >= wanted ? wanted : 1;
}

}  // namespace net
