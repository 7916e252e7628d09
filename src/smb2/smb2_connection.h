// SPDX-License-Identifier: Apache-2.0
// One SMB2 connection as the query drives it: message ids within the credit
// window, frames out (each request signed once the session has a key),
// responses in (each verified then), interim answers skipped, every wait
// bounded.
#ifndef KESTRIN_SMB2_SMB2_CONNECTION_H_
#define KESTRIN_SMB2_SMB2_CONNECTION_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "smb2/smb2.h"
#include "smb2/smb2_encryption.h"
#include "smb2/smb2_signing.h"
#include "base/status.h"
#include "base/trace.h"
#include "transport/transport.h"

namespace net {

struct Smb2Connection {
  Transport* transport = nullptr;
  uint32_t reply_ms = 0;
  uint64_t deadline = 0;  // MonotonicMs time the whole query must end by
  Smb2Credits credits;
  uint16_t charge = 0;  // CreditCharge once the dialect is known
  uint64_t session_id = 0;
  uint32_t tree_id = 0;
  bool signing = false;  // sign requests, verify responses
  Smb2SigningKey signing_key;
  bool can_encrypt = false;  // cipher keys are there: encrypted answers can be read
  bool encrypt = false;      // encrypt requests; answers must come encrypted
  Smb2CipherKeys cipher_keys;
  bool frame_encrypted = false;  // the newest frame came in a transform
  uint32_t frames_sent = 0;
  Trace* trace = nullptr;      // where each answer is noted, if anywhere
  uint64_t sent_ms = 0;        // when the newest frame went out
  std::vector<uint8_t> frame;  // payload of the newest frame received
  size_t frame_pos = 0;        // first response in it not yet handed out
};

/// Ids for the next request; false when the server left us no credit.
[[nodiscard]] bool NextIds(Smb2Connection* c, bool related, Smb2Ids* ids);

/// Finishes and sends a frame: encrypted as a whole when the connection
/// encrypts, else with each request in it signed when the connection signs.
Status SendFrame(Smb2Connection* c, Smb2Frame* f);

/// Waits for the final response to `id`, skipping interim STATUS_PENDING
/// answers to it; anything for another request breaks the exchange. On a
/// signing connection the response must carry a valid signature, unless it
/// came encrypted (which authenticates it); where encryption is in force it
/// must have come encrypted.
Status ReceiveResponse(Smb2Connection* c, uint64_t id, uint16_t command, Smb2Message* m);

/// Sends one request and waits for its final response.
Status SendOne(Smb2Connection* c, Smb2Frame* f, const Smb2Ids& ids, uint16_t command,
               Smb2Message* m);

/// The failure a response with an unwanted status stands for. The status
/// in the header says it all; the error body adds nothing we use.
inline Status ServerFailure(const Smb2Message& m) { return ServerRefusal(m.header.status); }

/// Random bytes from the transport's source.
[[nodiscard]] bool FillConnectionRandom(Smb2Connection* c, uint8_t* out, size_t size);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_CONNECTION_H_
