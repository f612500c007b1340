// Keys, files and signatures that crypto_vectors.sh makes with the openssl
// program, and this platform's cryptography, for the tests of signed
// downloads. Under Wine the script runs first and names its folder in
// OVLU_CRYPTO_VECTORS; on Linux the test runs it itself when that is unset.
#pragma once

#ifdef _WIN32
#include "ports/windows/CngCrypto.h"
#else
#include "ports/linux/crypto/OpenSslCrypto.h"
#endif

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tests/support/TestSupport.h"

namespace ovlu::test {

#ifdef _WIN32
using PlatformCrypto = win::CngCrypto;
#else
using PlatformCrypto = OpenSslCrypto;
#endif

// The folder of the vectors, made once for the whole program ("" when none).
inline const std::string& SignedVectors() {
  static const std::string folder = [] {
    if (const char* dir = std::getenv("OVLU_CRYPTO_VECTORS")) {
#ifdef _WIN32
      return "Z:" + std::string(dir);
#else
      return std::string(dir);
#endif
    }
#ifdef _WIN32
    return std::string();
#else
    static support::TempDir made("ovlusigned");
    const std::string command =
        "sh '" OVLU_CRYPTO_VECTORS_SCRIPT "' '" + made.Path() + "' >/dev/null";
    return std::system(command.c_str()) == 0 ? made.Path() : std::string();
#endif
  }();
  return folder;
}

// One vector's bytes; throws when the vectors are missing.
inline std::string Vector(const std::string& name) {
  if (SignedVectors().empty()) throw std::runtime_error("no test vectors (crypto_vectors.sh)");
  const std::string path = SignedVectors() + "/" + name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing test vector " + path);
  return support::Slurp(path);
}

}  // namespace ovlu::test
