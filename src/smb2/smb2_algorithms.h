// SPDX-License-Identifier: Apache-2.0
// The one table of what SMB2 signs and encrypts with: every signing
// algorithm and cipher we know, which of them our NEGOTIATE offers (in our
// order of preference), their names, and the primitive behind each. A new
// algorithm is a row here and its primitive in base/crypto.h.
#ifndef KESTRIN_SMB2_SMB2_ALGORITHMS_H_
#define KESTRIN_SMB2_SMB2_ALGORITHMS_H_

#include <stddef.h>
#include <stdint.h>

#include "base/crypto.h"

namespace net {

/// The ids of SMB2_SIGNING_CAPABILITIES (MS-SMB2 2.2.3.1.7).
enum class SigningAlgorithm : uint16_t {
  kHmacSha256 = 0,
  kAesCmac = 1,
  kAesGmac = 2,
};

struct SigningRow {
  SigningAlgorithm id;
  const char* name;
  bool offered;  // in the 3.1.1 SIGNING_CAPABILITIES context
  /// The 16-byte signature of a message given as `parts` (its Signature
  /// field as zeros) under a 16-byte key; `header` is the message's own
  /// header, for an algorithm that takes its nonce from there.
  bool (*sign)(const uint8_t key[16], const uint8_t* header, const ByteRange* parts, size_t count,
               uint8_t out[16]);
};

/// The key and nonce sizes are the primitive's (AeadKeySize, AeadNonceSize).
struct CipherRow {
  AeadCipher id;
  const char* name;
  bool offered;  // in the 3.1.1 ENCRYPTION_CAPABILITIES context
};

/// The rows in our order of preference: offered ones go in this order.
const SigningRow* SigningTable(size_t* count);
const CipherRow* CipherTable(size_t* count);

/// The row of `id`, or null when the table has none.
const SigningRow* FindSigning(uint16_t id);
const CipherRow* FindCipher(uint16_t id);

/// The cipher's name, for the trace.
const char* CipherName(AeadCipher cipher);

}  // namespace net

#endif  // KESTRIN_SMB2_SMB2_ALGORITHMS_H_
