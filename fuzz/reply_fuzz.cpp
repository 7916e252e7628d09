// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to every decoder of server replies. The first byte
// picks the decoder, the rest is the reply; fuzz/corpus/ holds the live
// replies in that form (file names say which decoder).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "rpc/dcerpc.h"
#include "rpc/lsa.h"
#include "transport/netbios_session.h"
#include "auth/ntlmssp.h"
#include "smb2/smb2.h"
#include "smb2/smb2_encryption.h"
#include "smb2/smb2_signing.h"
#include "auth/spnego.h"

namespace {

/// The call id of the corpus's LsarQueryInformationPolicy reply.
constexpr uint32_t kCallId = 3;

/// Cuts the bytes into PDUs the way the pipe reader does, reassembles them
/// and decodes the stub as either LSA reply.
void Reassemble(const uint8_t* data, size_t size) {
  net::RpcReply reply;
  while (!reply.complete) {
    size_t length = net::PduLength(data, size);
    if (length == 0 || length > size) return;
    if (!net::IsOk(net::AddReplyFragment(data, length, kCallId, &reply))) return;
    data += length;
    size -= length;
  }
  net::AccountDomain domain;
  (void)net::DecodeAccountDomain(reply.stub.data(), reply.stub.size(), &domain);
  net::PolicyHandle handle;
  (void)net::DecodeOpenPolicy2(reply.stub.data(), reply.stub.size(), &handle);
}

/// A decoder may only point into the message it was given; the fuzzer's
/// buffer is larger, so the sanitizer alone would not notice.
void CheckInside(const net::Smb2Message& m, const uint8_t* p, size_t n) {
  if (n == 0) return;
  if (p < m.data || p > m.data + m.size || n > static_cast<size_t>(m.data + m.size - p)) abort();
}

/// A signature check reads the whole message and nothing past it; the
/// key's algorithm comes from the message.
void CheckSignature(const net::Smb2Message& m) {
  net::Smb2SigningKey key;
  key.algorithm = static_cast<net::SigningAlgorithm>(m.size % 3);
  for (size_t i = 0; i < sizeof key.key; ++i) key.key[i] = static_cast<uint8_t>(i);
  (void)net::VerifySmb2Message(key, m.data, m.size);
}

/// Cuts a whole frame (direct-TCP prefix included) into responses and runs
/// every body decoder over each: each must check its own StructureSize.
void DecodeFrame(const uint8_t* data, size_t size) {
  size_t length = 0;
  if (size < net::kSmb2FramePrefix || !net::IsOk(net::DecodeFramePrefix(data, &length))) return;
  const uint8_t* payload = data + net::kSmb2FramePrefix;
  size_t n = size - net::kSmb2FramePrefix;
  if (length < n) n = length;
  net::Smb2Message m;
  for (size_t pos = 0; pos < n;) {
    size_t before = pos;
    if (!net::NextMessage(payload, n, &pos, &m)) return;
    if (pos <= before || m.data != payload + before || m.size != pos - before) abort();
    net::Smb2NegotiateResult negotiated;
    (void)net::DecodeNegotiateResponse(m, &negotiated);
    (void)net::DecodeValidateNegotiateResponse(m, &negotiated);
    CheckSignature(m);
    const uint8_t* p = nullptr;
    size_t p_size = 0;
    uint16_t session_flags = 0;
    if (net::IsOk(net::DecodeSessionSetupResponse(m, &session_flags, &p, &p_size))) {
      CheckInside(m, p, p_size);
    }
    if (net::IsOk(net::DecodeIoctlResponse(m, &p, &p_size))) CheckInside(m, p, p_size);
    if (net::IsOk(net::DecodeReadResponse(m, &p, &p_size))) CheckInside(m, p, p_size);
    uint32_t share_flags = 0;
    (void)net::DecodeTreeConnectResponse(m, &share_flags);
    net::Smb2FileId file;
    (void)net::DecodeCreateResponse(m, &file);
    (void)net::DecodeErrorResponse(m);
  }
}

/// The server's keys and SessionIds of the two encrypted sessions of
/// protocol-auth.md 7.1 (AES-128-GCM) and 7.2 (AES-128-CCM), whose answers
/// are in the corpus; AES-256 with keys of our own.
struct FuzzSession {
  net::AeadCipher cipher;
  uint64_t session_id;
  uint8_t key[32];
};
constexpr FuzzSession kSessions[] = {
    {net::AeadCipher::kAes128Gcm,
     0x4c73b067,
     {0x3a, 0xa5, 0xd4, 0x2f, 0x0e, 0xac, 0x8f, 0x5d, 0x6e, 0x6f, 0xc2, 0x50, 0x9c, 0x63, 0xb7,
      0xe9}},
    {net::AeadCipher::kAes128Ccm,
     0x7a1f31c0,
     {0xa1, 0x91, 0xfc, 0x37, 0x07, 0x2d, 0x7d, 0x7e, 0xf3, 0xc2, 0xde, 0x15, 0xe4, 0x4c, 0xfb,
      0x0d}},
    {net::AeadCipher::kAes256Ccm, 0x4c73b067, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    {net::AeadCipher::kAes256Gcm, 0x7a1f31c0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
};

/// A transform message checked and decrypted under each session's keys:
/// the plaintext is there exactly when it succeeds, and has the
/// ciphertext's size.
void DecryptTransform(const uint8_t* data, size_t size) {
  for (const FuzzSession& session : kSessions) {
    net::Smb2CipherKeys keys;
    keys.cipher = session.cipher;
    memcpy(keys.decryption, session.key, sizeof keys.decryption);
    std::vector<uint8_t> plain;
    net::Status s = net::DecryptSmb2Message(keys, session.session_id, data, size, &plain);
    if (net::IsOk(s) != !plain.empty()) abort();
    if (net::IsOk(s) && plain.size() != size - net::kSmb2TransformHeaderSize) abort();
  }
}

/// A NetBIOS session service answer: the header, then as much of what it
/// announces as there is.
void DecodeSessionAnswer(const uint8_t* data, size_t size) {
  uint8_t type = 0;
  size_t length = 0;
  if (size < 4 || !net::IsOk(net::DecodeSessionHeader(data, &type, &length))) return;
  size_t n = length < size - 4 ? length : size - 4;
  uint8_t error = 0;
  (void)net::DecodeSessionResponse(type, data + 4, n, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* reply = data + 1;
  size_t n = size - 1;
  uint32_t flags = 0;
  switch (data[0] % 10) {
    case 0: (void)net::DecodeBindAck(reply, n, 1); break;
    case 1: Reassemble(reply, n); break;
    case 2: {
      net::PolicyHandle handle;
      (void)net::DecodeOpenPolicy2(reply, n, &handle);
      break;
    }
    case 3: {
      net::AccountDomain domain;
      (void)net::DecodeAccountDomain(reply, n, &domain);
      break;
    }
    case 4: (void)net::DecodeSpnegoChallenge(reply, n, &flags); break;
    case 5: (void)net::DecodeSpnegoFinal(reply, n); break;
    case 6: (void)net::DecodeNtlmChallenge(reply, n, &flags); break;
    case 7: DecodeFrame(reply, n); break;
    case 8: DecryptTransform(reply, n); break;
    default: DecodeSessionAnswer(reply, n); break;
  }
  return 0;
}
