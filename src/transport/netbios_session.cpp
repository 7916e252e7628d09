// SPDX-License-Identifier: Apache-2.0
// RFC 1002 4.3: the session service's packets, as far as a client that
// opens one session needs them.
#include "transport/netbios_session.h"

#include "transport/socket.h"

namespace net {
namespace {

constexpr uint8_t kSessionRequest = 0x81;
constexpr uint8_t kPositiveResponse = 0x82;
constexpr uint8_t kNegativeResponse = 0x83;
constexpr uint8_t kRetargetResponse = 0x84;
constexpr uint8_t kKeepAlive = 0x85;
constexpr size_t kMaxNameChars = 15;
/// Keep-alives tolerated before the answer: a few, never an endless stream.
constexpr int kMaxKeepAlives = 4;

bool IsLabelChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

/// Digits and dots only, or a colon anywhere: an IPv4 or IPv6 literal
/// (a DNS name has neither form).
bool LooksLikeAddress(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;
  return host.find_first_not_of("0123456789.") == std::string::npos;
}

/// The first label of `name`, upper case, at most 15 characters; empty
/// when it is empty or holds anything but label characters.
std::string FirstLabel(const std::string& name) {
  std::string label = name.substr(0, name.find('.'));
  for (char& c : label) {
    if (!IsLabelChar(c)) return "";
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return label.substr(0, kMaxNameChars);
}

// RFC 1001 14.1: the 16-byte name (15 characters padded with spaces, then
// the suffix), each half-byte as a letter from 'A', as one 32-byte label
// with no scope after it.
void AppendEncodedName(const std::string& name, uint8_t suffix, std::vector<uint8_t>* out) {
  uint8_t raw[kMaxNameChars + 1];
  for (size_t i = 0; i < kMaxNameChars; ++i) {
    raw[i] = i < name.size() ? static_cast<uint8_t>(name[i]) : ' ';
  }
  raw[kMaxNameChars] = suffix;
  out->push_back(32);
  for (uint8_t byte : raw) {
    out->push_back(static_cast<uint8_t>('A' + (byte >> 4)));
    out->push_back(static_cast<uint8_t>('A' + (byte & 0x0F)));
  }
  out->push_back(0);
}

/// Receives `size` bytes over `t`, waiting until `until` at most.
Status ReceiveBy(Transport* t, uint8_t* data, size_t size, uint64_t until) {
  uint32_t left = RemainingMs(until);
  if (left == 0) return TransportFailure(kReplyTimeout);
  return t->receive(t->context, data, size, left);
}

}  // namespace

std::string NetbiosCalledName(const std::string& host) {
  if (LooksLikeAddress(host)) return kAnyServerName;
  std::string label = FirstLabel(host);
  return label.empty() ? kAnyServerName : label;
}

std::string NetbiosCallingName(const std::string& computer) {
  std::string label = LooksLikeAddress(computer) ? "" : FirstLabel(computer);
  return label.empty() ? "KESTRIN" : label;
}

void EncodeSessionRequest(const std::string& called, const std::string& calling,
                          std::vector<uint8_t>* out) {
  out->assign({kSessionRequest, 0, 0, 68});  // two names of 34 bytes
  AppendEncodedName(called, 0x20, out);
  AppendEncodedName(calling, 0x00, out);
}

Status DecodeSessionHeader(const uint8_t header[4], uint8_t* type, size_t* length) {
  *type = header[0];
  // Flags: bit 0 extends the length to 17 bits; the others are reserved.
  if ((header[1] & 0xFE) != 0) return Malformed();
  *length =
      (static_cast<size_t>(header[1]) << 16) | (static_cast<size_t>(header[2]) << 8) | header[3];
  return OkStatus();
}

Status DecodeSessionResponse(uint8_t type, const uint8_t* body, size_t size, uint8_t* error) {
  *error = 0;
  if (type == kPositiveResponse && size == 0) return OkStatus();
  if (type == kNegativeResponse && size == 1) {
    *error = body[0];
    return TransportFailure(kNegativeSession);
  }
  // An IP address and a port to go to instead: not followed, as nothing
  // says the server may send us elsewhere.
  if (type == kRetargetResponse && size == 6) return TransportFailure(kNegativeSession);
  return Malformed();
}

Status RequestSession(Transport* t, const std::string& called, const std::string& calling,
                      uint64_t until, uint8_t* error) {
  *error = 0;
  std::vector<uint8_t> request;
  EncodeSessionRequest(called, calling, &request);
  Status s = t->send(t->context, request.data(), request.size());
  // One end for the whole answer, asked again before every read: neither
  // keep-alives nor a slow body may stretch the wait past it.
  for (int keep_alives = 0; IsOk(s); ++keep_alives) {
    uint8_t header[4];
    s = ReceiveBy(t, header, sizeof header, until);
    uint8_t type = 0;
    size_t length = 0;
    if (IsOk(s)) s = DecodeSessionHeader(header, &type, &length);
    if (!IsOk(s)) break;
    if (type == kKeepAlive && length == 0 && keep_alives < kMaxKeepAlives) continue;
    uint8_t body[6];
    if (length > sizeof body) return Malformed();  // no answer is longer
    if (length > 0) s = ReceiveBy(t, body, length, until);
    if (IsOk(s)) s = DecodeSessionResponse(type, body, length, error);
    break;
  }
  // The server hung up instead of answering: it is no session service.
  if (s.kind == StatusKind::kTransport && s.code == kClosed) return TransportFailure(kClosedEarly);
  return s;
}

}  // namespace net
