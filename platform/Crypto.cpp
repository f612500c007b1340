#include "platform/Crypto.h"

namespace ovlu {

Sha256Digest Sha256Of(Crypto& crypto, const unsigned char* data, std::size_t size) {
  auto hash = crypto.NewSha256();
  hash->Update(data, size);
  return hash->Finish();
}

PublisherKeys PublisherKeys::Load(Crypto& crypto, const std::string& pemText) {
  static const std::string kBegin = "-----BEGIN PUBLIC KEY-----";
  static const std::string kEnd = "-----END PUBLIC KEY-----";
  PublisherKeys keys;
  std::size_t at = 0;
  while ((at = pemText.find(kBegin, at)) != std::string::npos) {
    const std::size_t end = pemText.find(kEnd, at + kBegin.size());
    if (end == std::string::npos) break;
    // A block cut short by another BEGIN line before its END counts from
    // the later BEGIN: the earlier one is damaged.
    const std::size_t last = pemText.rfind(kBegin, end);
    const std::string block = pemText.substr(last, end + kEnd.size() - last);
    if (auto key = crypto.LoadP256Key(block)) keys.keys_.push_back(std::move(key));
    at = end + kEnd.size();
  }
  return keys;
}

bool PublisherKeys::Verify(const Sha256Digest& digest,
                           const std::vector<unsigned char>& signature) const {
  if (signature.empty() || signature.size() > kMaxSignatureSize) return false;
  for (const auto& key : keys_)
    if (key->Verify(digest, signature.data(), signature.size())) return true;
  return false;
}

}  // namespace ovlu
