// SPDX-License-Identifier: Apache-2.0
// A named pipe of IPC$ on an established session: opening it (TREE_CONNECT,
// CREATE and the first write, as one related compound where the credits
// cover it, one request at a time where they do not) and writes to it with
// their answers. What the bytes mean, and when an answer is whole, is the
// caller's.
#ifndef KESTRIN_SMB2_NAMED_PIPE_H_
#define KESTRIN_SMB2_NAMED_PIPE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "smb2/smb2.h"
#include "smb2/smb2_connection.h"
#include "smb2/smb2_session.h"

namespace net {

/// One query's state on its connection.
struct Exchange {
  Smb2Connection connection;
  Smb2Session session;
  Smb2FileId file;                   // the pipe, once open
  bool negotiation_checked = false;  // the validation, where needed, is done
};

/// Where the answer to a write goes, as the pipe gives it.
struct PipeSink {
  void* context = nullptr;
  /// Takes from the front of `pending` what it can use; `*done` once the
  /// answer is whole. Bytes left over then break the exchange.
  Status (*take)(void* context, std::vector<uint8_t>* pending, bool* done) = nullptr;
  /// The most the pipe may give in one IOCTL or READ answer.
  uint32_t max_output = 0;
};

/// TREE_CONNECT to `tree_path` (`\\server\IPC$`), CREATE `pipe` and
/// `first_write` to it, its answer to `sink`. Where the TREE_CONNECT answer
/// says IPC$ wants encryption and what went with it in clear was refused,
/// that goes again, encrypted (MS-SMB2 3.2.5.5).
Status OpenPipe(Exchange* x, const std::u16string& tree_path, const std::u16string& pipe,
                const std::vector<uint8_t>& first_write, const PipeSink& sink);

/// `data` written to the open pipe, its answer to `sink`. On a signed
/// 3.0.x session the first write brings the negotiation's validation with
/// it (in its frame, or just before it on one credit), checked before
/// anything of the write's answer is used.
Status TransceivePipe(Exchange* x, const std::vector<uint8_t>& data, const PipeSink& sink);

}  // namespace net

#endif  // KESTRIN_SMB2_NAMED_PIPE_H_
