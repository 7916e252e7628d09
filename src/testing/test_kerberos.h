// SPDX-License-Identifier: Apache-2.0
// Kerberos for the logon tests without a KDC: a made-up service ticket and
// a ticket cache (MIT's file format, version 4) that holds it, so that the
// Kerberos library makes an AP-REQ from the cache alone.
#ifndef KESTRIN_TESTING_TEST_KERBEROS_H_
#define KESTRIN_TESTING_TEST_KERBEROS_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace net {

/// The realm of tests/data/krb5_offline.conf.
inline constexpr char kTestRealm[] = "KESTRIN.TEST";

// DER and the MIT ticket cache format, just enough for one service ticket.
inline void Der(uint8_t tag, const std::vector<uint8_t>& content, std::vector<uint8_t>* out) {
  out->push_back(tag);
  size_t n = content.size();  // below 64 KiB here
  if (n >= 0x100) {
    out->insert(out->end(), {0x82, static_cast<uint8_t>(n >> 8)});
  } else if (n >= 0x80) {
    out->push_back(0x81);
  }
  out->push_back(static_cast<uint8_t>(n));
  out->insert(out->end(), content.begin(), content.end());
}

inline std::vector<uint8_t> DerText(uint8_t tag, const std::string& text) {
  std::vector<uint8_t> out;
  Der(tag, std::vector<uint8_t>(text.begin(), text.end()), &out);
  return out;
}

/// A small INTEGER under the context tag `tag`.
inline std::vector<uint8_t> DerInt(uint8_t tag, uint8_t value) {
  std::vector<uint8_t> out;
  Der(tag, {0x02, 0x01, value}, &out);
  return out;
}

inline std::vector<uint8_t> Seq(uint8_t tag, std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> content, out;
  for (const std::vector<uint8_t>& part : parts) {
    content.insert(content.end(), part.begin(), part.end());
  }
  Der(tag, content, &out);
  return out;
}

/// An aes256 EncryptedData holding filler that opens with no key.
inline std::vector<uint8_t> SealedFiller(size_t size) {
  return Seq(0x30, {DerInt(0xA0, 18), DerInt(0xA1, 2),
                    Seq(0xA2, {DerText(0x04, std::string(size, 'Z'))})});
}

/// A Ticket (RFC 4120 5.3) for cifs/`host`, sealed for the server alone.
inline std::vector<uint8_t> ServiceTicket(const std::string& host) {
  std::vector<uint8_t> names = Seq(0x30, {DerText(0x1B, "cifs"), DerText(0x1B, host)});
  std::vector<uint8_t> sname = Seq(0x30, {DerInt(0xA0, 3), Seq(0xA1, {names})});  // NT-SRV-HST
  return Seq(0x61, {Seq(0x30, {DerInt(0xA0, 5), Seq(0xA1, {DerText(0x1B, kTestRealm)}),
                               Seq(0xA2, {sname}), Seq(0xA3, {SealedFiller(96)})})});
}

inline void Put(uint32_t value, size_t bytes, std::vector<uint8_t>* out) {
  for (size_t i = bytes; i-- > 0;) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void PutData(const std::vector<uint8_t>& data, std::vector<uint8_t>* out) {
  Put(static_cast<uint32_t>(data.size()), 4, out);
  out->insert(out->end(), data.begin(), data.end());
}

inline void PutPrincipal(uint32_t type, std::initializer_list<std::string> names,
                         std::vector<uint8_t>* out) {
  Put(type, 4, out);
  Put(static_cast<uint32_t>(names.size()), 4, out);
  PutData(std::vector<uint8_t>(kTestRealm, kTestRealm + strlen(kTestRealm)), out);
  for (const std::string& name : names) {
    PutData(std::vector<uint8_t>(name.begin(), name.end()), out);
  }
}

/// A version 4 cache holding alice's ticket `ticket` for cifs/`host`, valid
/// for a day, with an aes256 session key; `expired`: one that ended a day ago.
/// An empty `host`: a ticket-granting ticket (krbtgt/KESTRIN.TEST) instead.
inline std::vector<uint8_t> TicketCacheBytes(const std::string& host,
                                             const std::vector<uint8_t>& ticket,
                                             bool expired = false) {
  std::vector<uint8_t> cache;
  Put(0x0504, 2, &cache);
  Put(0, 2, &cache);  // no header tags
  PutPrincipal(1, {"alice"}, &cache);
  PutPrincipal(1, {"alice"}, &cache);
  if (host.empty()) {
    PutPrincipal(2, {"krbtgt", kTestRealm}, &cache);
  } else {
    PutPrincipal(3, {"cifs", host}, &cache);
  }
  Put(18, 2, &cache);
  PutData(std::vector<uint8_t>(32, 0x11), &cache);
  uint32_t now = static_cast<uint32_t>(time(nullptr)) - (expired ? 2 * 86400 : 0);
  for (uint32_t t : {now, now, now + 86400, 0u}) Put(t, 4, &cache);
  cache.push_back(0);  // not user-to-user
  Put(0, 4, &cache);   // ticket flags
  Put(0, 4, &cache);   // addresses
  Put(0, 4, &cache);   // authorization data
  PutData(ticket, &cache);
  PutData({}, &cache);  // no second ticket
  return cache;
}

/// True when `token` carries `ticket` unchanged, as an AP-REQ does.
inline bool Carries(const std::vector<uint8_t>& token, const std::vector<uint8_t>& ticket) {
  return std::search(token.begin(), token.end(), ticket.begin(), ticket.end()) != token.end();
}

}  // namespace net

#endif  // KESTRIN_TESTING_TEST_KERBEROS_H_
