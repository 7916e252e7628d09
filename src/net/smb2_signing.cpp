// SMB2 signing over the primitives of crypto.h.
#include "net/smb2_signing.h"

#include "net/crypto.h"

namespace net {

bool UpdatePreauthHash(PreauthHash*, const uint8_t*, size_t) { return false; }
bool DeriveSigningKey(uint16_t, SigningAlgorithm, const uint8_t*, size_t, const PreauthHash&,
                      Smb2SigningKey*) {
  return false;
}
bool SignSmb2Message(const Smb2SigningKey&, uint8_t*, size_t) { return false; }
bool VerifySmb2Message(const Smb2SigningKey&, const uint8_t*, size_t) { return false; }
void WipeSigningKey(Smb2SigningKey* key) { WipeBytes(key->key, sizeof key->key); }

}  // namespace net
