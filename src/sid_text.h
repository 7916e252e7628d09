// SPDX-License-Identifier: Apache-2.0
// The textual form of a security identifier: "S-1-", the authority, and a
// hyphen and the decimal value of each sub-authority.
#ifndef KESTRIN_SID_TEXT_H_
#define KESTRIN_SID_TEXT_H_

#include "platform/win32_api.h"

/// Writes the text of `sid` into `text`, which holds `*length` bytes.
///
/// Two passes: when `*length` is below the required size (24 bytes per
/// sub-authority plus 56) it stores that size in `*length`, sets the
/// last-error value to ERROR_INSUFFICIENT_BUFFER and returns FALSE without
/// touching `text`, so a first call with no buffer and a length of 0 sizes
/// the buffer. Returns FALSE without changing anything when `sid` is not
/// valid, TRUE when the text was written (`*length` is then left as it was).
/// A null `text` is always a size query, whatever `*length` says.
BOOL FormatSidText(PSID sid, LPWSTR text, LPDWORD length);

#endif  // KESTRIN_SID_TEXT_H_
