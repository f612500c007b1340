// SHA-256 and ECDSA P-256 verification over the system's CNG (bcrypt.dll),
// with crypt32.dll reading the PEM text, the key's SubjectPublicKeyInfo and
// the DER signature.
#pragma once

#include "platform/Crypto.h"

namespace ovlu::win {

class CngCrypto : public Crypto {
 public:
  std::unique_ptr<Sha256> NewSha256() override;
  std::unique_ptr<PublicKey> LoadP256Key(const std::string& pemBlock) override;
};

}  // namespace ovlu::win
