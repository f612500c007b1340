// SHA-256 and ECDSA P-256 verification over OpenSSL's libcrypto.
#pragma once

#include "platform/Crypto.h"

namespace ovlu {

class OpenSslCrypto : public Crypto {
 public:
  std::unique_ptr<Sha256> NewSha256() override;
  std::unique_ptr<PublicKey> LoadP256Key(const std::string& pemBlock) override;
};

}  // namespace ovlu
