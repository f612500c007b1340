// Test HTTP servers on 127.0.0.1 for the transfer tests and the benchmark.
//
// TestServer runs ovlu_testserver.py (routes are described at its top) in a
// child process; NginxServer runs nginx with a configuration generated in a
// private folder. Both pick their port at run time, and both children die
// with the test process even when it crashes. Every wait here is bounded.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
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
void WriteFile(const std::string& path, const std::vector<unsigned char>& data);
// Writes size bytes of PatternBytes(size, seed) without holding them whole.
void WritePatternFile(const std::string& path, std::size_t size, unsigned seed = 1);
std::vector<unsigned char> ReadFile(const std::string& path);

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort();

// A plain HTTP/1.1 GET to 127.0.0.1:port; returns the body, or throws
// std::runtime_error when there is no complete 200 answer within timeoutMs.
std::string SimpleGet(int port, const std::string& target, int timeoutMs = 5000);

class TestServer {
 public:
  // Serves the files of filesDir under /file/. Throws std::runtime_error
  // when the server does not come up within a few seconds.
  explicit TestServer(const std::string& filesDir);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT", the form the agent's lists give as server.
  std::string Root() const;
  // Root() followed by target, which starts with "/".
  std::string Url(const std::string& target) const;
  // "METHOD TARGET" of every request the server has had so far.
  std::vector<std::string> Requests() const;

 private:
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};

class NginxServer {
 public:
  // Serves the files of rootDir, over TLS with a self-signed certificate
  // (made for 127.0.0.1 at start) when tls is set. Throws
  // std::runtime_error when nginx is not installed or does not come up.
  explicit NginxServer(const std::string& rootDir, bool tls = false);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // False when no nginx executable was found when the project was configured.
  static bool Available();

  int Port() const { return port_; }
  std::string Root() const;
  std::string Url(const std::string& target) const;

 private:
  bool TryStart(int port, const std::string& rootDir);
  bool Answers(int port) const;

  TempDir dir_{"ovlu-nginx"};
  bool tls_ = false;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string token_;
};

}  // namespace ovlu::test
