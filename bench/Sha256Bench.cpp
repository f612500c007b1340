// Times this platform's SHA-256 (libcrypto on Linux, CNG on Windows) over a
// large amount of data fed in pieces, as a download feeds it while writing:
//   ovlu_sha256_bench [MIB [PIECE]]   (default 256 MiB in pieces of 1024 bytes)
// Prints the time, the throughput and the digest.
#ifdef _WIN32
#include "ports/windows/CngCrypto.h"
#else
#include "ports/linux/crypto/OpenSslCrypto.h"
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
#ifdef _WIN32
  ovlu::win::CngCrypto crypto;
  const char* backend = "CNG";
#else
  ovlu::OpenSslCrypto crypto;
  const char* backend = "libcrypto";
#endif
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const std::size_t piece = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
  if (mib == 0 || piece == 0 || piece > (1u << 20)) {
    std::fprintf(stderr, "usage: ovlu_sha256_bench [MIB [PIECE (1 to 1048576)]]\n");
    return 2;
  }
  // One MiB of varied bytes, fed again and again: the memory stays flat.
  std::vector<unsigned char> block(1u << 20);
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<unsigned char>(7 * i + 13 * (i >> 10));

  const auto start = std::chrono::steady_clock::now();
  auto hash = crypto.NewSha256();
  const std::size_t total = mib << 20;
  for (std::size_t at = 0; at < total;) {
    const std::size_t offset = at % block.size();
    std::size_t n = std::min(piece, block.size() - offset);
    n = std::min(n, total - at);
    hash->Update(block.data() + offset, n);
    at += n;
  }
  const ovlu::Sha256Digest digest = hash->Finish();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s SHA-256: %zu MiB in pieces of %zu bytes: %.3f s, %.1f MiB/s, ", backend, mib,
              piece, seconds, static_cast<double>(mib) / seconds);
  for (unsigned char b : digest) std::printf("%02x", b);
  std::printf("\n");
  return 0;
}
