// Hashing and signature checking for signed downloads. The platform gives
// SHA-256 and ECDSA on the P-256 curve from its own cryptography (OpenSSL's
// libcrypto on Linux, CNG on Windows); the agent writes none of its own.
// Which keys count and which signatures are looked at at all is decided
// here, once for both platforms, by PublisherKeys.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ovlu {

using Sha256Digest = std::array<unsigned char, 32>;

// An incremental SHA-256: fed piece by piece as a file is written.
struct Sha256 {
  virtual ~Sha256() = default;
  virtual void Update(const unsigned char* data, std::size_t size) = 0;
  // The digest of everything fed so far; the object is spent afterwards.
  virtual Sha256Digest Finish() = 0;
};

// One ECDSA P-256 public key.
struct PublicKey {
  virtual ~PublicKey() = default;
  // True only when the DER-encoded ECDSA signature is valid for this digest
  // under this key. Anything malformed is simply not valid.
  virtual bool Verify(const Sha256Digest& digest, const unsigned char* der,
                      std::size_t size) const = 0;
};

// What a platform gives.
struct Crypto {
  virtual ~Crypto() = default;
  // Throws std::runtime_error when the system cannot hash at all.
  virtual std::unique_ptr<Sha256> NewSha256() = 0;
  // The key of one PEM block ("-----BEGIN PUBLIC KEY-----" to its END line,
  // a SubjectPublicKeyInfo), or nullptr when the block does not decode or
  // holds anything but an ECDSA key on the P-256 curve.
  virtual std::unique_ptr<PublicKey> LoadP256Key(const std::string& pemBlock) = 0;
};

// The digest of a whole buffer.
Sha256Digest Sha256Of(Crypto& crypto, const unsigned char* data, std::size_t size);

// The publisher's keys, read from a PEM text that may hold several public
// keys so that a publisher can roll a key over: a file is good when any one
// of them signed it.
class PublisherKeys {
 public:
  // Signatures longer than this are refused unread.
  static constexpr std::size_t kMaxSignatureSize = 4096;

  // Every usable P-256 key among the text's "PUBLIC KEY" blocks; blocks that
  // do not decode or hold another kind of key are passed over.
  static PublisherKeys Load(Crypto& crypto, const std::string& pemText);

  // True when no block of the text gave a usable key: then nothing verifies.
  bool Empty() const { return keys_.empty(); }
  std::size_t Count() const { return keys_.size(); }

  // True when the signature (DER, 1 to kMaxSignatureSize bytes) verifies
  // for the digest under any of the keys.
  bool Verify(const Sha256Digest& digest, const std::vector<unsigned char>& signature) const;

 private:
  std::vector<std::shared_ptr<const PublicKey>> keys_;
};

}  // namespace ovlu
