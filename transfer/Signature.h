// Signed downloads. When the file PublisherKey.pem lies in the agent's own
// folder, a received file is kept only when it arrived whole and its
// detached signature (the file's URL followed by ".sig": a DER ECDSA
// signature over the SHA-256 of the file) verifies under one of the keys in
// that file. Without the key file nothing here takes part in a run.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/Crypto.h"

namespace ovlu {

// What the body reader tells about the file it writes: the SHA-256 of every
// byte written, and whether its reading ended normally.
class BodyCheck {
 public:
  explicit BodyCheck(std::unique_ptr<Sha256> hash) : hash_(std::move(hash)) {}
  void Feed(const unsigned char* data, std::size_t size);
  void MarkWhole() { whole_ = true; }
  bool Whole() const { return whole_; }
  // The digest of what was fed; false when the hash failed on the way.
  bool Digest(Sha256Digest& out);

 private:
  std::unique_ptr<Sha256> hash_;  // nullptr once it failed or was finished
  bool whole_ = false;
};

class Signing {
 public:
  static constexpr char kKeyFileName[] = "PublisherKey.pem";

  // Why a file was refused; each reads as a short Italian text in the
  // file's row.
  enum class Verdict { Good, KeyUnusable, Incomplete, SignatureMissing, SignatureInvalid };
  static const char* Reason(Verdict verdict);

  // Reads the key file of the agent's folder; called at the start of each
  // run. A key file that cannot be read, holds no usable P-256 key, or
  // meets a platform without cryptography leaves every file refused.
  void Begin();
  // The same from the key file at keyPath, for a run that checks files as
  // the agent would with that file beside it (the list checker's probe).
  void Begin(const std::string& keyPath);
  // True when the run checks signatures at all.
  bool On() const { return state_ != KeyState::Off; }
  bool KeysUsable() const { return state_ == KeyState::Usable; }

  // A fresh check for the body about to be read, or nullptr when the run
  // checks nothing (or the platform cannot hash).
  BodyCheck* StartBody();
  // The check of the last body read, nullptr when none was started since
  // the last Forget.
  BodyCheck* LastBody() { return body_.get(); }
  void Forget() { body_.reset(); }

  // The signature's transfer: while it runs, the transfer's states belong
  // to it and not to the file.
  void BeginSignature();
  bool FetchingSignature() const { return fetching_; }
  void EndSignature() { fetching_ = false; }
  void SignatureFailed() { signatureFailed_ = true; }
  // Takes the next piece of the signature's body; refuses (and marks) a
  // body beyond the largest signature.
  void SignatureBytes(const std::vector<unsigned char>& piece);
  bool SignatureTooLarge() const { return signatureTooLarge_; }
  void SignatureComplete() { signatureComplete_ = true; }

  // The verdict on the file whose body LastBody checked and whose
  // signature was fetched (when it was).
  Verdict Judge();

 private:
  enum class KeyState { Off, Usable, Broken };
  KeyState state_ = KeyState::Off;
  PublisherKeys keys_;
  std::unique_ptr<BodyCheck> body_;

  bool fetching_ = false;
  bool signatureFailed_ = false;
  bool signatureComplete_ = false;
  bool signatureTooLarge_ = false;
  std::vector<unsigned char> signature_;
};

}  // namespace ovlu
