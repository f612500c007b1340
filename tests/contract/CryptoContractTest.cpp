// What the platform's cryptography (OpenSSL's libcrypto on Linux, CNG under
// Wine) gives the publisher's keys: the same table on both platforms, over
// keys and signatures that the openssl program makes at run time
// (crypto_vectors.sh). Under Wine the script runs first and names its folder
// in OVLU_CRYPTO_VECTORS; on Linux the test runs it itself when that is unset.
#include <gtest/gtest.h>

#include <memory>

#include "SignedVectors.h"
#include "platform/Crypto.h"

namespace ovlu::test {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Read(const std::string& name) {
  const std::string text = Vector(name);
  return Bytes(text.begin(), text.end());
}

std::string Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

TEST(CryptoContract, Sha256FedInOddPiecesMatchesOpenssl) {
  PlatformCrypto crypto;
  const std::size_t pieces[] = {1, 7, 1024, 65537, 3, 64, 1000};
  for (const char* file : {"data", "other", "empty"}) {
    const Bytes data = Read(std::string(file) + ".bin");
    const std::string expected = Vector(std::string(file) + ".sha256").substr(0, 64);
    auto hash = crypto.NewSha256();
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size(); ++i) {
      const std::size_t n = std::min(pieces[i % std::size(pieces)], data.size() - at);
      hash->Update(data.data() + at, n);
      at += n;
    }
    EXPECT_EQ(Hex(hash->Finish()), expected) << file << " in pieces";
    EXPECT_EQ(Hex(Sha256Of(crypto, data.data(), data.size())), expected) << file << " at once";
  }
}

// The signature a row checks: a file's, changed as the row says.
Bytes Changed(Bytes signature, const std::string& how) {
  if (how == "truncated") signature.pop_back();
  if (how == "trailing byte") signature.push_back(0);
  // The same numbers in other encodings than DER's one: the first integer
  // with a needless zero byte, the sequence's length in long form.
  if (how == "padded integer") {
    ++signature[1];
    ++signature[3];
    signature.insert(signature.begin() + 4, 0);
  }
  if (how == "long-form length") signature.insert(signature.begin() + 1, 0x81);
  return signature;
}

TEST(CryptoContract, OnlyASignatureByAUsableKeyOverTheseBytesVerifies) {
  struct Row {
    const char* what;
    const char* keyFile;
    std::size_t keys;       // usable keys the file gives
    const char* signature;  // over data.bin unless it says otherwise
    const char* change;     // to the signature
    bool flipByte;          // one byte of data.bin changed
    bool verifies;
  };
  const Row rows[] = {
      {"good signature", "a.pem", 1, "data.a.sig", "", false, true},
      {"file changed by one byte", "a.pem", 1, "data.a.sig", "", true, false},
      {"signature of another file", "a.pem", 1, "other.a.sig", "", false, false},
      {"truncated signature", "a.pem", 1, "data.a.sig", "truncated", false, false},
      {"byte after the signature", "a.pem", 1, "data.a.sig", "trailing byte", false, false},
      {"integer with a needless zero", "a.pem", 1, "data.a.sig", "padded integer", false, false},
      {"length in long form", "a.pem", 1, "data.a.sig", "long-form length", false, false},
      {"signed by another key", "a.pem", 1, "data.b.sig", "", false, false},
      {"two keys, the second signed", "ab.pem", 2, "data.b.sig", "", false, true},
      {"two keys, BOM and CRLF lines", "crlf.pem", 2, "data.b.sig", "", false, true},
      {"P-384 key", "p384.pem", 0, "data.p384.sig", "", false, false},
      {"secp256k1 key", "k256.pem", 0, "data.k256.sig", "", false, false},
      {"RSA key", "rsa.pem", 0, "data.rsa.sig", "", false, false},
      {"compressed P-256 key", "compressed.pem", 0, "data.a.sig", "", false, false},
      {"base64 that is no key", "garbage.pem", 0, "data.a.sig", "", false, false},
      {"no PEM at all", "noise.pem", 0, "data.a.sig", "", false, false},
      {"usable key after unusable ones", "mixed.pem", 1, "data.a.sig", "", false, true},
  };
  PlatformCrypto crypto;
  const Bytes data = Read("data.bin");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes bytes = data;
    if (row.flipByte) bytes[bytes.size() / 2] ^= 0x01;
    const PublisherKeys keys = PublisherKeys::Load(crypto, Vector(row.keyFile));
    EXPECT_EQ(keys.Count(), row.keys);
    EXPECT_EQ(keys.Empty(), row.keys == 0);
    const Sha256Digest digest = Sha256Of(crypto, bytes.data(), bytes.size());
    EXPECT_EQ(keys.Verify(digest, Changed(Read(row.signature), row.change)), row.verifies);
  }
}

// A signature of the largest size taken is looked at: one byte more is
// refused before any key sees it.
TEST(CryptoContract, SignaturesOverTheLimitOrEmptyReachNoKey) {
  struct CountingKey : PublicKey {
    mutable int calls = 0;
    bool Verify(const Sha256Digest&, const unsigned char*, std::size_t) const override {
      ++calls;
      return true;
    }
  };
  struct OneKey : PlatformCrypto {
    CountingKey* last = nullptr;
    std::unique_ptr<PublicKey> LoadP256Key(const std::string& block) override {
      if (!PlatformCrypto::LoadP256Key(block)) return nullptr;
      auto key = std::make_unique<CountingKey>();
      last = key.get();
      return key;
    }
  } crypto;
  const PublisherKeys keys = PublisherKeys::Load(crypto, Vector("a.pem"));
  ASSERT_NE(crypto.last, nullptr);
  const Sha256Digest digest{};
  EXPECT_TRUE(keys.Verify(digest, Bytes(PublisherKeys::kMaxSignatureSize, 1)));
  EXPECT_FALSE(keys.Verify(digest, Bytes(PublisherKeys::kMaxSignatureSize + 1, 1)));
  EXPECT_FALSE(keys.Verify(digest, Bytes()));
  EXPECT_EQ(crypto.last->calls, 1);
}

}  // namespace
}  // namespace ovlu::test
