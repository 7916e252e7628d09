// SPDX-License-Identifier: Apache-2.0
// SMB2 commands and dialects by name, for the trace.
#ifndef KESTRIN_SMB2_SMB2_NAMES_H_
#define KESTRIN_SMB2_SMB2_NAMES_H_

#include <stdint.h>

namespace net {

/// A name for an SMB2 command, for the trace.
const char* Smb2CommandName(uint16_t command);

/// "2.0.2", "2.1", "3.0", "3.0.2", "3.1.1", else the hex in `buffer`.
const char* DialectName(uint16_t dialect, char (&buffer)[16]);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_NAMES_H_
