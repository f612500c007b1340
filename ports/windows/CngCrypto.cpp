#include "ports/windows/CngCrypto.h"

#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace ovlu::win {
namespace {

// The system's cryptography, loaded the first time a signature is checked:
// an agent without a publisher key never loads it (and so still starts on
// a Windows that lacks CNG).
struct CngApi {
  decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&::BCryptCreateHash) CreateHash = nullptr;
  decltype(&::BCryptHashData) HashData = nullptr;
  decltype(&::BCryptFinishHash) FinishHash = nullptr;
  decltype(&::BCryptDestroyHash) DestroyHash = nullptr;
  decltype(&::BCryptImportKeyPair) ImportKeyPair = nullptr;
  decltype(&::BCryptVerifySignature) VerifySignature = nullptr;
  decltype(&::BCryptDestroyKey) DestroyKey = nullptr;
  decltype(&::CryptDecodeObjectEx) DecodeObjectEx = nullptr;
  decltype(&::CryptStringToBinaryA) StringToBinaryA = nullptr;
  bool ok = false;
};

template <class F>
bool Find(HMODULE module, const char* name, F& fn) {
  const FARPROC found = module ? ::GetProcAddress(module, name) : nullptr;
  // Through a plain function pointer type, as a FARPROC becomes any other.
  fn = reinterpret_cast<F>(reinterpret_cast<void (*)()>(found));
  return fn != nullptr;
}

const CngApi& Cng() {
  static const CngApi api = [] {
    CngApi a;
    const HMODULE b = ::LoadLibraryA("bcrypt.dll");
    const HMODULE c = ::LoadLibraryA("crypt32.dll");
    a.ok = Find(b, "BCryptOpenAlgorithmProvider", a.OpenAlgorithmProvider) &&
           Find(b, "BCryptCloseAlgorithmProvider", a.CloseAlgorithmProvider) &&
           Find(b, "BCryptCreateHash", a.CreateHash) && Find(b, "BCryptHashData", a.HashData) &&
           Find(b, "BCryptFinishHash", a.FinishHash) &&
           Find(b, "BCryptDestroyHash", a.DestroyHash) &&
           Find(b, "BCryptImportKeyPair", a.ImportKeyPair) &&
           Find(b, "BCryptVerifySignature", a.VerifySignature) &&
           Find(b, "BCryptDestroyKey", a.DestroyKey) &&
           Find(c, "CryptDecodeObjectEx", a.DecodeObjectEx) &&
           Find(c, "CryptStringToBinaryA", a.StringToBinaryA);
    return a;
  }();
  return api;
}

// An algorithm provider, closed with the object.
class Provider {
 public:
  explicit Provider(LPCWSTR algorithm) {
    if (!BCRYPT_SUCCESS(Cng().OpenAlgorithmProvider(&handle_, algorithm, nullptr, 0)))
      handle_ = nullptr;
  }
  ~Provider() {
    if (handle_) Cng().CloseAlgorithmProvider(handle_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// What crypt32 allocates for a decoded structure, freed with LocalFree.
template <class T>
struct Decoded {
  T* value = nullptr;
  ~Decoded() {
    if (value) ::LocalFree(value);
  }
};

template <class T>
bool Decode(LPCSTR type, const BYTE* der, std::size_t size, Decoded<T>& out) {
  DWORD length = 0;
  return Cng().DecodeObjectEx(X509_ASN_ENCODING, type, der, static_cast<DWORD>(size),
                              CRYPT_DECODE_ALLOC_FLAG, nullptr, &out.value, &length) &&
         out.value;
}

class CngSha256 : public Sha256 {
 public:
  CngSha256() : provider_(BCRYPT_SHA256_ALGORITHM) {
    if (!provider_.Get() ||
        !BCRYPT_SUCCESS(Cng().CreateHash(provider_.Get(), &hash_, nullptr, 0, nullptr, 0, 0)))
      throw std::runtime_error("SHA-256 is not available");
  }
  ~CngSha256() override {
    if (hash_) Cng().DestroyHash(hash_);
  }
  void Update(const unsigned char* data, std::size_t size) override {
    // BCryptHashData takes at most a ULONG at a time.
    while (size > 0) {
      const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
      if (!BCRYPT_SUCCESS(Cng().HashData(hash_, const_cast<PUCHAR>(data), piece, 0)))
        throw std::runtime_error("SHA-256 update failed");
      data += piece;
      size -= piece;
    }
  }
  Sha256Digest Finish() override {
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(Cng().FinishHash(hash_, digest.data(), digest.size(), 0)))
      throw std::runtime_error("SHA-256 final failed");
    return digest;
  }

 private:
  Provider provider_;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// A CRYPT_UINT_BLOB (least significant byte first) as a big-endian number
// of exactly 32 bytes; false when it does not fit.
bool BigEndian32(const CRYPT_UINT_BLOB& blob, unsigned char* out) {
  DWORD size = blob.cbData;
  while (size > 0 && blob.pbData[size - 1] == 0) --size;
  if (size > 32) return false;
  std::memset(out, 0, 32);
  for (DWORD i = 0; i < size; ++i) out[31 - i] = blob.pbData[i];
  return true;
}

// The bytes of a DER INTEGER (tag and length too) holding this unsigned
// 32-byte big-endian number: its significant bytes, and a zero byte before
// them when the first has its high bit set.
std::size_t IntegerSize(const unsigned char* number) {
  std::size_t first = 0;
  while (first < 31 && number[first] == 0) ++first;
  return 2 + (32 - first) + ((number[first] & 0x80) ? 1 : 0);
}

class CngKey : public PublicKey {
 public:
  // Takes the provider that imported the key: it must outlive the key.
  CngKey(std::unique_ptr<Provider> provider, BCRYPT_KEY_HANDLE key)
      : provider_(std::move(provider)), key_(key) {}
  ~CngKey() override { Cng().DestroyKey(key_); }

  bool Verify(const Sha256Digest& digest, const unsigned char* der,
              std::size_t size) const override {
    Decoded<CERT_ECC_SIGNATURE> signature;
    unsigned char rs[64];
    if (!Decode(X509_ECC_SIGNATURE, der, size, signature) || !BigEndian32(signature.value->r, rs) ||
        !BigEndian32(signature.value->s, rs + 32))
      return false;
    // Only the one DER form of the two numbers, as libcrypto takes it: the
    // bytes read must be exactly as many as that form needs, so that nothing
    // trails it and no padded or long-form encoding of them is taken.
    if (size != 2 + IntegerSize(rs) + IntegerSize(rs + 32)) return false;
    return BCRYPT_SUCCESS(Cng().VerifySignature(key_, nullptr, const_cast<PUCHAR>(digest.data()),
                                                digest.size(), rs, sizeof rs, 0));
  }

 private:
  std::unique_ptr<Provider> provider_;
  BCRYPT_KEY_HANDLE key_;
};

}  // namespace

std::unique_ptr<Sha256> CngCrypto::NewSha256() {
  if (!Cng().ok) throw std::runtime_error("the system's cryptography is not available");
  return std::make_unique<CngSha256>();
}

std::unique_ptr<PublicKey> CngCrypto::LoadP256Key(const std::string& pemBlock) {
  // Without the system's cryptography no key is usable: files are refused.
  if (!Cng().ok) return nullptr;
  DWORD size = 0;
  if (!Cng().StringToBinaryA(pemBlock.data(), static_cast<DWORD>(pemBlock.size()),
                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
    return nullptr;
  std::vector<BYTE> der(size);
  if (!Cng().StringToBinaryA(pemBlock.data(), static_cast<DWORD>(pemBlock.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
    return nullptr;
  Decoded<CERT_PUBLIC_KEY_INFO> info;
  if (!Decode(X509_PUBLIC_KEY_INFO, der.data(), size, info)) return nullptr;
  // An elliptic-curve key whose parameters name the P-256 curve (the DER of
  // its object identifier 1.2.840.10045.3.1.7), its point uncompressed:
  // 0x04, then X and Y of 32 bytes each.
  static const BYTE kP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  const CRYPT_ALGORITHM_IDENTIFIER& algorithm = info.value->Algorithm;
  const CRYPT_BIT_BLOB& point = info.value->PublicKey;
  if (!algorithm.pszObjId || std::strcmp(algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
      algorithm.Parameters.cbData != sizeof kP256 ||
      std::memcmp(algorithm.Parameters.pbData, kP256, sizeof kP256) != 0 || point.cbData != 65 ||
      point.cUnusedBits != 0 || point.pbData[0] != 0x04)
    return nullptr;

  std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, point.pbData + 1, 64);
  auto provider = std::make_unique<Provider>(BCRYPT_ECDSA_P256_ALGORITHM);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!provider->Get() ||
      !BCRYPT_SUCCESS(Cng().ImportKeyPair(provider->Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                          blob.data(), blob.size(), 0)))
    return nullptr;
  return std::make_unique<CngKey>(std::move(provider), key);
}

}  // namespace ovlu::win
