// A small HTTP server on 127.0.0.1 for the transfer tests, running on a
// thread of its own (the tests' thread, not the agent's, waits on it).
// Each connection gets one response and is closed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ovlu::test {

struct Reply {
  std::string head;           // status line and headers, without the blank line
  std::string body;           // sent after the blank line
  bool hang = false;          // accept the request and never answer
};

class LoopbackServer {
 public:
  // handler: request path -> reply. Called on the server's thread.
  explicit LoopbackServer(std::function<Reply(const std::string& path)> handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return port_; }
  std::string Url(const std::string& path) const;
  // Paths requested so far, in order.
  std::vector<std::string> Requests() const;

  // Internal: the accept loop.
  void Serve();

 private:
  std::function<Reply(const std::string&)> handler_;
  std::uintptr_t listener_;
  int port_ = 0;
  void* thread_ = nullptr;
  void* lock_ = nullptr;
  volatile long stop_ = 0;
  std::vector<std::string> requests_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort();

// A plain HTTP/1.1 response head with the given status and extra headers.
std::string Head(int status, const std::string& reason, const std::string& headers = "");

}  // namespace ovlu::test
