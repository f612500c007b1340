#include "ports/linux/crypto/OpenSslCrypto.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include <climits>
#include <cstring>
#include <stdexcept>

namespace ovlu {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};

class OpenSslSha256 : public Sha256 {
 public:
  OpenSslSha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1)
      throw std::runtime_error("SHA-256 is not available");
  }
  void Update(const unsigned char* data, std::size_t size) override {
    if (EVP_DigestUpdate(ctx_.get(), data, size) != 1)
      throw std::runtime_error("SHA-256 update failed");
  }
  Sha256Digest Finish() override {
    Sha256Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &size) != 1 || size != digest.size())
      throw std::runtime_error("SHA-256 final failed");
    return digest;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx_;
};

class OpenSslKey : public PublicKey {
 public:
  explicit OpenSslKey(EVP_PKEY* key) : key_(key) {}
  bool Verify(const Sha256Digest& digest, const unsigned char* der,
              std::size_t size) const override {
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key_.get(), nullptr));
    const bool valid = ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
                       EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) == 1 &&
                       EVP_PKEY_verify(ctx.get(), der, size, digest.data(), digest.size()) == 1;
    // A refused signature leaves its reasons queued; the thread's next
    // OpenSSL user (libcurl's TLS) must not read them as its own.
    ERR_clear_error();
    return valid;
  }

 private:
  std::unique_ptr<EVP_PKEY, PkeyFree> key_;
};

std::unique_ptr<PublicKey> LoadPem(const std::string& pemBlock) {
  if (pemBlock.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  std::unique_ptr<BIO, BioFree> bio(
      BIO_new_mem_buf(pemBlock.data(), static_cast<int>(pemBlock.size())));
  if (!bio) return nullptr;
  std::unique_ptr<EVP_PKEY, PkeyFree> key(
      PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC) return nullptr;
  char group[64] = {};
  std::size_t length = 0;
  if (EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length) != 1 ||
      std::strcmp(group, SN_X9_62_prime256v1) != 0)
    return nullptr;
  // Only the uncompressed point, which is also all that CNG imports: a key
  // file must mean the same on both platforms.
  char form[32] = {};
  if (EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, form,
                                     sizeof form, &length) != 1 ||
      std::strcmp(form, OSSL_PKEY_EC_POINT_CONVERSION_FORMAT_UNCOMPRESSED) != 0)
    return nullptr;
  return std::make_unique<OpenSslKey>(key.release());
}

}  // namespace

std::unique_ptr<Sha256> OpenSslCrypto::NewSha256() { return std::make_unique<OpenSslSha256>(); }

std::unique_ptr<PublicKey> OpenSslCrypto::LoadP256Key(const std::string& pemBlock) {
  auto key = LoadPem(pemBlock);
  ERR_clear_error();  // as after a refused signature
  return key;
}

}  // namespace ovlu
