// The WinINet transfer against a loopback server: state events on the
// window thread, chunked reading, failures, probe and time-out.
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/windows/Win32Window.h"
#include "ports/windows/WinInetTransfer.h"

namespace ovlu::win {
namespace {

// A socket bound to 127.0.0.1 on a free port, and that port.
SOCKET BindLoopback(int* port) {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  SOCKET s = started ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::listen(s, 16) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  *port = ntohs(addr.sin_port);
  return s;
}

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort() {
  int port = 0;
  ::closesocket(BindLoopback(&port));
  return port;
}

// A plain HTTP/1.1 response head, up to the blank line, with extra headers.
std::string Head(int status, const std::string& reason, const std::string& headers = "") {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nConnection: close\r\n" +
         headers + "\r\n";
}

// A small HTTP server on 127.0.0.1, on a thread of its own: each connection
// gets the handler's response for the path it asks for, and is closed. An
// empty response holds the connection unanswered until the test ends.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<std::string(const std::string& path)> handler)
      : handler_(std::move(handler)), listener_(BindLoopback(&port_)) {
    thread_ = ::CreateThread(nullptr, 0, Main, this, 0, nullptr);
  }
  ~LoopbackServer() {
    stop_ = true;
    ::closesocket(listener_);  // ends the accept loop
    ::WaitForSingleObject(thread_, 10000);
    ::CloseHandle(thread_);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  static DWORD WINAPI Main(LPVOID self) {
    static_cast<LoopbackServer*>(self)->Serve();
    return 0;
  }
  void Serve() {
    for (SOCKET c; (c = ::accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;
         ::closesocket(c)) {
      std::string request;  // up to the blank line that ends the head
      char buffer[1024];
      for (int n; request.find("\r\n\r\n") == std::string::npos &&
                  (n = ::recv(c, buffer, sizeof buffer, 0)) > 0;)
        request.append(buffer, static_cast<std::size_t>(n));
      const std::size_t from = request.find(' ') + 1, to = request.find(' ', from);
      const std::string reply = handler_(request.substr(from, to - from));
      for (int i = 0; reply.empty() && i < 1000 && !stop_; ++i) ::Sleep(10);
      ::send(c, reply.data(), static_cast<int>(reply.size()), 0);
      ::shutdown(c, SD_SEND);
    }
  }

  std::function<std::string(const std::string&)> handler_;
  int port_ = 0;  // filled in while listener_ is made, so declared before it
  SOCKET listener_;
  HANDLE thread_;
  std::atomic<bool> stop_{false};
};

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inet.SetPump([this] { window.DoEvents(); });
    window.onPump = [this] { inet.Poll(); };
  }

  // Runs one request as the download sequence does: Execute, then pump and
  // poll StillExecuting; the completion handler reads the body. Returns
  // "done len=<Content-Length> x=<X-Agent-Test>", the chunk sizes and
  // "broken" if reading failed, for each completion (raised while the
  // request still executes); "error" for each failure; "thread" for every
  // state raised off the window thread.
  std::string Fetch(const std::string& url, int maxSeconds = 20) {
    std::string log;
    states.clear();
    body.clear();
    const DWORD me = ::GetCurrentThreadId();
    inet.StateChanged = [&](std::int16_t state) {
      states.push_back(state);
      if (::GetCurrentThreadId() != me) log += "thread ";
      if (state == icError) log += "error";
      if (state != icResponseCompleted) return;
      log += std::string(inet.StillExecuting() ? "done" : "idle") +
             " len=" + inet.GetHeader("Content-Length") + " x=" + inet.GetHeader("X-Agent-Test");
      try {
        for (std::vector<unsigned char> c; !(c = inet.GetChunk(1024, icByteArray)).empty();) {
          log += " " + std::to_string(c.size());
          body.append(c.begin(), c.end());
        }
      } catch (const VbError&) {
        log += " broken";
      }
    };
    inet.SetProtocol(icHTTP);
    inet.Execute(url, "GET");
    const DWORD start = ::GetTickCount();
    do window.DoEvents();
    while (inet.StillExecuting() && ::GetTickCount() - start < maxSeconds * 1000u);
    EXPECT_FALSE(inet.StillExecuting()) << "still executing after " << maxSeconds << " s: " << url;
    inet.StateChanged = nullptr;
    return log;
  }

  std::vector<std::int16_t> states;  // raised during the last Fetch
  std::string body;                  // read during the last Fetch
  Win32Window window;                // never loaded: its DoEvents is the agent's event pump
  WinInetTransfer inet;
};

// Every response as the download sequence meets it: a body of any size is
// read in chunks of at most 1024 bytes, a redirect is followed, and a status
// outside 2xx, or no answer in time, ends the request with an error.
TEST_F(TransferTest, ResponsesAndTheirBodies) {
  const struct {
    const char* path;
    std::string head;
    std::size_t size;
    const char* log;
  } cases[] = {
      {"/ok", Head(200, "OK", "Content-Length: 2500\r\nX-Agent-Test: yes\r\n"), 2500,
       "done len=2500 x=yes 1024 1024 452"},
      {"/exact", Head(200, "OK", "Content-Length: 2048\r\n"), 2048, "done len=2048 x= 1024 1024"},
      {"/empty", Head(200, "OK", "Content-Length: 0\r\n"), 0, "done len=0 x="},
      {"/nolength", Head(200, "OK"), 1500, "done len= x= 1024 476"},
      {"/short", Head(200, "OK", "Content-Length: 5000\r\n"), 2000,
       "done len=5000 x= 1024 976 broken"},
      {"/moved", Head(302, "Found", "Location: /ok\r\nContent-Length: 0\r\n"), 0,
       "done len=2500 x=yes 1024 1024 452"},
      {"/missing", Head(404, "Not Found", "Content-Length: 9\r\n"), 9, "error"},
      {"/fault", Head(500, "Internal Server Error", "Content-Length: 0\r\n"), 0, "error"},
      // At most five redirects are followed.
      {"/loop", Head(302, "Found", "Location: /loop\r\nContent-Length: 0\r\n"), 0, "error"},
      {"/unanswered", "", 0, "error"},  // after the request time-out
  };
  std::atomic<int> loops{0};
  LoopbackServer server([&](const std::string& path) {
    if (path == "/loop") ++loops;
    for (const auto& c : cases)
      if (path == c.path) return c.head + Bytes(c.size);
    return Head(404, "Not Found");
  });
  inet.SetRequestTimeout(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Fetch(server.Url(c.path), 10), c.log);
    EXPECT_EQ(body, Bytes(body.size()));
    // Whatever progress WinINet reports comes before the end, in the order of
    // a request (connect, send, receive); a redirect goes round again.
    ASSERT_FALSE(states.empty());
    EXPECT_TRUE(std::string(c.path) == "/moved" || std::string(c.path) == "/loop" ||
                std::is_sorted(states.begin(), states.end() - 1));
    EXPECT_NE(std::find(states.begin(), states.end(), icRequestSent), states.end());
  }
  EXPECT_EQ(loops, 6);  // the request and five redirects
}

// The probe raises no completion and no error state; any answer of the
// server counts, an error status too, and nobody listening fails quickly.
TEST_F(TransferTest, ProbeAnswersWithoutCompletionAndFailsWhenNobodyListens) {
  LoopbackServer server(
      [](const std::string&) { return Head(403, "Forbidden", "Content-Length: 0\r\n"); });
  inet.StateChanged = [&](std::int16_t s) { states.push_back(s); };
  EXPECT_NO_THROW(inet.OpenURL(server.Url("")));
  const DWORD start = ::GetTickCount();
  EXPECT_THROW(inet.OpenURL("http://127.0.0.1:" + std::to_string(UnusedPort())), VbError);
  EXPECT_LT(::GetTickCount() - start, 15000u);
  EXPECT_THROW(inet.OpenURL(""), VbError);
  EXPECT_NE(std::find(states.begin(), states.end(), icRequestSent), states.end());
  EXPECT_EQ(std::find(states.begin(), states.end(), icResponseCompleted), states.end());
  EXPECT_EQ(std::find(states.begin(), states.end(), icError), states.end());
  EXPECT_FALSE(inet.StillExecuting());
}

// A message loop other than the agent's pump (a message box's) dispatches
// the wake-up messages but raises no state: the transfer waits for the pump.
TEST_F(TransferTest, OnlyTheAgentsPumpDrivesTheTransfer) {
  LoopbackServer server([](const std::string&) { return Head(200, "OK") + "x"; });
  inet.StateChanged = [&](std::int16_t s) { states.push_back(s); };
  inet.SetProtocol(icHTTP);
  inet.Execute(server.Url("/x"), "GET");
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 500; ::Sleep(1)) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  }
  EXPECT_TRUE(states.empty());
  for (const DWORD start = ::GetTickCount();
       inet.StillExecuting() && ::GetTickCount() - start < 10000;)
    window.DoEvents();
  inet.StateChanged = nullptr;
  EXPECT_NE(std::find(states.begin(), states.end(), icResponseCompleted), states.end());
}

TEST_F(TransferTest, RefusedRequestsAndReadsWithoutResponse) {
  EXPECT_THROW(inet.Execute("no scheme at all", "GET"), VbError);
  EXPECT_FALSE(inet.StillExecuting());
  EXPECT_THROW(inet.GetChunk(1024, icByteArray), VbError);
  // A new request can follow a refused one; once the completion handler has
  // returned, the response is gone.
  LoopbackServer server([](const std::string&) { return Head(200, "OK") + "x"; });
  EXPECT_EQ(Fetch(server.Url("/x")), "done len= x= 1");
  EXPECT_EQ(body, "x");
  EXPECT_THROW(inet.GetChunk(1024, icByteArray), VbError);
  EXPECT_EQ(inet.GetHeader("Content-Length"), "");
}

}  // namespace
}  // namespace ovlu::win
