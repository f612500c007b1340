// Test HTTP servers on 127.0.0.1 for the transfer tests and the benchmark.
//
// TestServer runs ovlu_testserver.py (routes are described at its top) in a
// child process; NginxServer runs nginx with a configuration generated in a
// private folder. Both pick their port at run time, and both children die
// with the test process even when it crashes. Every wait here is bounded.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ovlu::test {

// A fresh folder under the system temporary folder, removed with all its
// content by the destructor.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "ovlu");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Deterministic, non-repeating-looking content of any length.
std::vector<unsigned char> PatternBytes(std::size_t size, unsigned seed = 1);
// Writes size bytes of PatternBytes(size, seed) without holding them whole.
void WritePatternFile(const std::string& path, std::size_t size, unsigned seed = 1);

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort();

class TestServer {
 public:
  // Serves the files of filesDir under /file/. Throws std::runtime_error
  // when the server does not come up within a few seconds.
  explicit TestServer(const std::string& filesDir);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // "http://127.0.0.1:PORT", the form the agent's lists give as server.
  std::string Root() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Root() followed by target, which starts with "/".
  std::string Url(const std::string& target) const { return Root() + target; }
  // "METHOD TARGET" of every request the server has had so far.
  std::vector<std::string> Requests() const;

 private:
  TempDir log_{"ovlu-server"};
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};

class NginxServer {
 public:
  // Serves the files of rootDir, over TLS with a self-signed certificate
  // for 127.0.0.1 (made at start) when tls is set. Throws
  // std::runtime_error when nginx is not installed or does not come up.
  explicit NginxServer(const std::string& rootDir, bool tls = false);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // False when no nginx executable was found when the project was configured.
  static bool Available();

  std::string Root() const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
  }
  std::string Url(const std::string& target) const { return Root() + target; }

 private:
  bool TryStart(int port, const std::string& rootDir);

  bool tls_ = false;

  TempDir dir_{"ovlu-nginx"};
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace ovlu::test
