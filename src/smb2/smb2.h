// SPDX-License-Identifier: Apache-2.0
// SMB2 over direct TCP for the query: framing, the 64-byte header, the few
// requests we send, chaining them into a related compound, and the checked
// decoding of their responses (MS-SMB2 2.1, 2.2).
#ifndef KESTRIN_SMB2_SMB2_H_
#define KESTRIN_SMB2_SMB2_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/crypto.h"
#include "base/ntstatus.h"
#include "smb2/smb2_algorithms.h"
#include "smb2/smb2_header.h"
#include "base/status.h"

namespace net {

/// NEGOTIATE SecurityMode bits (MS-SMB2 2.2.3, 2.2.4).
constexpr uint16_t kSmb2SigningEnabled = 0x1;
constexpr uint16_t kSmb2SigningRequired = 0x2;
/// SESSION_SETUP SessionFlags (MS-SMB2 2.2.6).
constexpr uint16_t kSmb2SessionGuest = 0x1;
constexpr uint16_t kSmb2SessionNull = 0x2;
constexpr uint16_t kSmb2SessionEncrypt = 0x4;
/// SMB2_GLOBAL_CAP_ENCRYPTION (MS-SMB2 2.2.3).
constexpr uint32_t kSmb2CapEncryption = 0x40;
/// TREE_CONNECT ShareFlags: SMB2_SHAREFLAG_ENCRYPT_DATA (MS-SMB2 2.2.10).
constexpr uint32_t kSmb2ShareEncrypt = 0x8000;

constexpr uint16_t kSmb2Dialect202 = 0x0202;
constexpr uint16_t kSmb2Dialect210 = 0x0210;
constexpr uint16_t kSmb2Dialect300 = 0x0300;
constexpr uint16_t kSmb2Dialect302 = 0x0302;
constexpr uint16_t kSmb2Dialect311 = 0x0311;

/// Credits we ask for on every request.
constexpr uint16_t kSmb2CreditRequest = 64;

/// The header fields we use, in either form (async_id only with kSmb2FlagAsync;
/// tree_id only without it).
struct Smb2Header {
  uint16_t credit_charge = 0;
  uint32_t status = 0;
  uint16_t command = 0;
  uint16_t credits = 0;  // CreditRequest or CreditResponse
  uint32_t flags = 0;
  uint32_t next_command = 0;
  uint64_t message_id = 0;
  uint64_t async_id = 0;
  uint32_t tree_id = 0;
  uint64_t session_id = 0;
};

struct Smb2FileId {
  uint64_t persistent = 0;
  uint64_t volatile_id = 0;
};

/// Per-request ids; a related request takes session, tree and file from the
/// one before it, so its own are placeholders.
struct Smb2Ids {
  uint64_t message_id = 0;
  uint16_t credit_charge = 0;
  uint64_t session_id = 0;
  uint32_t tree_id = 0;
  bool related = false;
};

/// A frame being built: the direct-TCP prefix, then one request or a chain.
struct Smb2Frame {
  std::vector<uint8_t> bytes;
  size_t last_header = 0;  // offset of the newest request's header
  size_t count = 0;        // requests in the frame
};

/// One response cut out of a received frame: its header and all its bytes
/// (header included), so body offsets are checked against `size`.
struct Smb2Message {
  Smb2Header header;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

/// What our NEGOTIATE offers; VALIDATE_NEGOTIATE_INFO repeats it.
struct Smb2NegotiateOffer {
  uint8_t client_guid[16] = {};
  uint8_t salt[32] = {};  // the 3.1.1 preauth integrity salt
  uint16_t security_mode = kSmb2SigningEnabled;
  /// Encryption is offered to every server: without it some enable none,
  /// also for 3.1.1.
  uint32_t capabilities = kSmb2CapEncryption;
};

/// What the server's NEGOTIATE response says that we use.
struct Smb2NegotiateResult {
  uint16_t dialect = 0;
  uint16_t security_mode = 0;
  uint32_t capabilities = 0;
  uint8_t server_guid[16] = {};
  /// 3.1.1: from the signing capabilities context, AES-CMAC without one.
  SigningAlgorithm signing = SigningAlgorithm::kAesCmac;
  /// Whether the two sides can encrypt, and with which cipher: on 3.0 and
  /// 3.0.2 AES-128-CCM when the server has SMB2_GLOBAL_CAP_ENCRYPTION, on
  /// 3.1.1 the encryption capabilities context's choice.
  bool can_encrypt = false;
  AeadCipher cipher = AeadCipher::kAes128Ccm;
};

/// Appends a header (MS-SMB2 2.2.1.1 / 2.2.1.2).
void EncodeSmb2Header(const Smb2Header& h, std::vector<uint8_t>* out);
/// Reads a header of either form: ProtocolId and StructureSize are checked.
[[nodiscard]] bool DecodeSmb2Header(const uint8_t* data, size_t size, Smb2Header* h);

/// Empties `f` and reserves the direct-TCP prefix.
void StartFrame(Smb2Frame* f);
/// Writes the prefix's 24-bit big-endian length; false when too long.
[[nodiscard]] bool FinishFrame(Smb2Frame* f);
/// Checks a received prefix: 0x00 and a length from one header up to
/// kSmb2MaxFrame. A NetBIOS negative session response (0x83) is
/// kNegativeSession, anything else kMalformed.
Status DecodeFramePrefix(const uint8_t prefix[4], size_t* length);

/// Requests; each appends header and body to `f`, chaining after the request
/// before it in the same frame.
void AppendNegotiate(Smb2Frame* f, const Smb2Ids& ids, const Smb2NegotiateOffer& offer);
void AppendSessionSetup(Smb2Frame* f, const Smb2Ids& ids, const uint8_t* token, size_t token_size);
void AppendTreeConnect(Smb2Frame* f, const Smb2Ids& ids, const std::u16string& path);
void AppendCreatePipe(Smb2Frame* f, const Smb2Ids& ids, const std::u16string& pipe);
/// FSCTL_PIPE_TRANSCEIVE: `input` to the pipe, its answer back, at most
/// `max_output` bytes of it in the IOCTL's answer.
void AppendPipeTransceive(Smb2Frame* f, const Smb2Ids& ids, const Smb2FileId& file,
                          const uint8_t* input, size_t input_size, uint32_t max_output);
void AppendRead(Smb2Frame* f, const Smb2Ids& ids, const Smb2FileId& file, uint32_t length);
/// FSCTL_VALIDATE_NEGOTIATE_INFO with what `offer` sent (MS-SMB2 2.2.31.4).
void AppendValidateNegotiate(Smb2Frame* f, const Smb2Ids& ids, const Smb2NegotiateOffer& offer);

/// Cuts the response at `*pos` out of a frame's payload (prefix removed) and
/// advances `*pos` past it; false when the header or NextCommand is broken.
/// Call while *pos < size.
[[nodiscard]] bool NextMessage(const uint8_t* payload, size_t size, size_t* pos, Smb2Message* msg);

/// Response bodies. Each checks StructureSize and that every offset and
/// length stays inside the message; a broken body is kMalformed.
/// NEGOTIATE: the dialect must be one we offered; for 3.1.1 the preauth
/// context must name SHA-512 and a signing context one algorithm we offered.
Status DecodeNegotiateResponse(const Smb2Message& m, Smb2NegotiateResult* out);
/// SESSION_SETUP: yields SessionFlags and the security buffer (pointing
/// into the message).
Status DecodeSessionSetupResponse(const Smb2Message& m, uint16_t* session_flags,
                                  const uint8_t** token, size_t* size);
/// TREE_CONNECT: yields ShareFlags.
Status DecodeTreeConnectResponse(const Smb2Message& m, uint32_t* share_flags);
Status DecodeCreateResponse(const Smb2Message& m, Smb2FileId* file);
/// IOCTL: yields the output buffer.
Status DecodeIoctlResponse(const Smb2Message& m, const uint8_t** output, size_t* size);
/// VALIDATE_NEGOTIATE_INFO: the server's view of the negotiation, in the
/// fields of `out` that the NEGOTIATE response fills (dialect, security
/// mode, capabilities, server GUID).
Status DecodeValidateNegotiateResponse(const Smb2Message& m, Smb2NegotiateResult* out);
/// READ: yields the data.
Status DecodeReadResponse(const Smb2Message& m, const uint8_t** data, size_t* size);
/// ERROR body, sent with failures and with STATUS_PENDING.
Status DecodeErrorResponse(const Smb2Message& m);

/// The credit window: MessageIds below `limit` may be used.
struct Smb2Credits {
  uint64_t next_id = 0;
  uint64_t limit = 1;  // a client starts with one credit
};

/// Takes `n` MessageIds from the window; false when it has fewer.
[[nodiscard]] bool TakeMessageIds(Smb2Credits* c, uint64_t n, uint64_t* first);
/// Adds the credits a response granted.
void GrantCredits(Smb2Credits* c, uint16_t granted);
/// How many of the next `wanted` requests of a compound the next frame
/// carries, each taking one MessageId: all of them when the window covers
/// them, else one, whose answer then comes before the rest go (a server may
/// grant a single credit at a time, MS-SMB2 3.3.1.2); 0 when the window is
/// empty.
size_t PlanFrame(const Smb2Credits& c, size_t wanted);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_H_
