#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "LoopbackServer.h"

#include <stdexcept>

namespace ovlu::test {

namespace {

struct WinsockUp {
  WinsockUp() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
};

void EnsureWinsock() { static WinsockUp up; }

DWORD WINAPI ThreadMain(LPVOID self) {
  static_cast<LoopbackServer*>(self)->Serve();
  return 0;
}

void SendAll(SOCKET s, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const int n = ::send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// Reads up to the blank line that ends the request head; returns the path.
std::string ReadRequestPath(SOCKET s) {
  std::string head;
  char buffer[1024];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const int n = ::recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t sp1 = head.find(' ');
  const std::size_t sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
  if (sp2 == std::string::npos) return std::string();
  return head.substr(sp1 + 1, sp2 - sp1 - 1);
}

}  // namespace

std::string Head(int status, const std::string& reason, const std::string& headers) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nConnection: close\r\n" +
         headers;
}

LoopbackServer::LoopbackServer(std::function<Reply(const std::string&)> handler)
    : handler_(std::move(handler)) {
  EnsureWinsock();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 16) != 0) {
    ::closesocket(s);
    throw std::runtime_error("bind/listen failed");
  }
  int len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  listener_ = s;
  auto* cs = new CRITICAL_SECTION;
  ::InitializeCriticalSection(cs);
  lock_ = cs;
  thread_ = ::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

LoopbackServer::~LoopbackServer() {
  ::InterlockedExchange(&stop_, 1);
  ::closesocket(static_cast<SOCKET>(listener_));
  ::WaitForSingleObject(static_cast<HANDLE>(thread_), 10000);
  ::CloseHandle(static_cast<HANDLE>(thread_));
  ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(lock_));
  delete static_cast<CRITICAL_SECTION*>(lock_);
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::Requests() const {
  auto* cs = static_cast<CRITICAL_SECTION*>(lock_);
  ::EnterCriticalSection(cs);
  std::vector<std::string> copy = requests_;
  ::LeaveCriticalSection(cs);
  return copy;
}

void LoopbackServer::Serve() {
  auto* cs = static_cast<CRITICAL_SECTION*>(lock_);
  for (;;) {
    SOCKET c = ::accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (c == INVALID_SOCKET) return;  // the listener was closed
    const std::string path = ReadRequestPath(c);
    ::EnterCriticalSection(cs);
    requests_.push_back(path);
    ::LeaveCriticalSection(cs);
    const Reply reply = handler_(path);
    if (reply.hang) {
      // Hold the connection without answering until the test ends.
      for (int i = 0; i < 1000 && stop_ == 0; ++i) ::Sleep(10);
    } else {
      SendAll(c, reply.head + "\r\n" + reply.body);
      ::shutdown(c, SD_SEND);
    }
    ::closesocket(c);
  }
}

int UnusedPort() {
  EnsureWinsock();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::closesocket(s);
  return ntohs(addr.sin_port);
}

}  // namespace ovlu::test
