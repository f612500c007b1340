// The WinINet transfer against a loopback server: state events on the
// window thread, chunked reading, failures, probe and time-out.
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "LoopbackServer.h"
#include "ports/windows/WinInetTransfer.h"
#include "ports/windows/Win32Window.h"

namespace ovlu::win {
namespace {

using test::Head;
using test::LoopbackServer;
using test::Reply;

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

struct Outcome {
  std::vector<std::int16_t> states;
  std::vector<std::size_t> chunks;
  std::string body;
  std::string contentLength;
  std::string customHeader;
  bool brokenAtEnd = false;
  bool executingInHandler = false;
  bool allOnWindowThread = true;
  int count(std::int16_t s) const {
    return static_cast<int>(std::count(states.begin(), states.end(), s));
  }
};

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inet.SetPump([this] { window.DoEvents(); });
    window.onPump = [this] { inet.Poll(); };
  }

  // Runs one request as the download sequence does: Execute, then pump and
  // poll StillExecuting; the completion handler reads the body.
  Outcome Fetch(const std::string& url, int maxSeconds = 20) {
    Outcome out;
    const DWORD me = ::GetCurrentThreadId();
    inet.StateChanged = [&](std::int16_t state) {
      out.states.push_back(state);
      if (::GetCurrentThreadId() != me) out.allOnWindowThread = false;
      if (state != icResponseCompleted) return;
      out.executingInHandler = inet.StillExecuting();
      out.contentLength = inet.GetHeader("Content-Length");
      out.customHeader = inet.GetHeader("X-Agent-Test");
      try {
        for (;;) {
          const std::vector<unsigned char> c = inet.GetChunk(1024, icByteArray);
          if (c.empty()) break;
          out.chunks.push_back(c.size());
          out.body.append(c.begin(), c.end());
        }
      } catch (const VbError&) {
        out.brokenAtEnd = true;
      }
    };
    inet.SetProtocol(icHTTP);
    inet.Execute(url, "GET");
    const DWORD start = ::GetTickCount();
    do {
      window.DoEvents();
      if (::GetTickCount() - start > static_cast<DWORD>(maxSeconds) * 1000u) {
        ADD_FAILURE() << "request still executing after " << maxSeconds << " s: " << url;
        break;
      }
    } while (inet.StillExecuting());
    inet.StateChanged = nullptr;
    return out;
  }

  Win32Window window;  // never loaded: its DoEvents is the agent's event pump
  WinInetTransfer inet;
};

TEST_F(TransferTest, ResponsesAndTheirBodies) {
  struct Case {
    const char* path;
    Reply reply;
    bool completes;
    std::vector<std::size_t> chunks;
    bool broken;
    const char* contentLength;
  };
  const std::string body2500 = Bytes(2500);
  const std::vector<Case> cases = {
      {"/ok", {Head(200, "OK", "Content-Length: 2500\r\nX-Agent-Test: yes\r\n"), body2500},
       true, {1024, 1024, 452}, false, "2500"},
      {"/exact", {Head(200, "OK", "Content-Length: 2048\r\n"), Bytes(2048)},
       true, {1024, 1024}, false, "2048"},
      {"/empty", {Head(200, "OK", "Content-Length: 0\r\n"), ""}, true, {}, false, "0"},
      {"/nolength", {Head(200, "OK"), Bytes(1500)}, true, {1024, 476}, false, ""},
      {"/short", {Head(200, "OK", "Content-Length: 5000\r\n"), Bytes(2000)},
       true, {1024, 976}, true, "5000"},
      {"/moved", {Head(302, "Found", "Location: /ok\r\nContent-Length: 0\r\n"), ""},
       true, {1024, 1024, 452}, false, "2500"},
      {"/missing", {Head(404, "Not Found", "Content-Length: 9\r\n"), "not found"},
       false, {}, false, ""},
      {"/fault", {Head(500, "Internal Server Error", "Content-Length: 0\r\n"), ""},
       false, {}, false, ""},
  };
  std::map<std::string, Reply> replies;
  for (const Case& c : cases) replies[c.path] = c.reply;
  LoopbackServer server([&](const std::string& path) {
    auto it = replies.find(path);
    return it != replies.end() ? it->second : Reply{Head(404, "Not Found"), ""};
  });

  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Outcome out = Fetch(server.Url(c.path));
    EXPECT_TRUE(out.allOnWindowThread);
    EXPECT_FALSE(inet.StillExecuting());
    if (!c.completes) {
      EXPECT_EQ(out.count(icResponseCompleted), 0);
      EXPECT_EQ(out.count(icError), 1);
      EXPECT_TRUE(out.chunks.empty());
      continue;
    }
    EXPECT_EQ(out.count(icResponseCompleted), 1);
    EXPECT_EQ(out.count(icError), 0);
    EXPECT_TRUE(out.executingInHandler);
    EXPECT_EQ(out.chunks, c.chunks);
    EXPECT_EQ(out.brokenAtEnd, c.broken);
    EXPECT_EQ(out.contentLength, c.contentLength);
    const Reply& sent = std::string(c.path) == "/moved" ? replies["/ok"] : c.reply;
    EXPECT_EQ(out.body, sent.body.substr(0, out.body.size()));
  }
  // Custom headers are read by name.
  const Outcome ok = Fetch(server.Url("/ok"));
  EXPECT_EQ(ok.customHeader, "yes");
  const Outcome other = Fetch(server.Url("/exact"));
  EXPECT_EQ(other.customHeader, "");
}

TEST_F(TransferTest, ProgressStatesArriveInOrderBeforeCompletion) {
  LoopbackServer server([](const std::string&) {
    return Reply{Head(200, "OK", "Content-Length: 3\r\n"), "abc"};
  });
  const Outcome out = Fetch(server.Url("/f"));
  ASSERT_EQ(out.count(icResponseCompleted), 1);
  // Whatever progress WinINet reports comes before the completion, in the
  // order of a request (connect, send, receive).
  std::vector<std::int16_t> before;
  for (std::int16_t s : out.states) {
    if (s == icResponseCompleted) break;
    before.push_back(s);
  }
  EXPECT_TRUE(std::is_sorted(before.begin(), before.end()));
  EXPECT_NE(std::find(before.begin(), before.end(), icRequestSent), before.end());
  for (std::int16_t s : out.states) EXPECT_TRUE(s >= icResolvingHost && s <= icResponseCompleted);
}

TEST_F(TransferTest, ProbeAnswersWithoutStatesAndFailsWhenNobodyListens) {
  LoopbackServer server([](const std::string&) {
    return Reply{Head(403, "Forbidden", "Content-Length: 0\r\n"), ""};
  });
  std::vector<std::int16_t> states;
  inet.StateChanged = [&](std::int16_t s) { states.push_back(s); };
  // Any answer of the server counts, an error status too.
  EXPECT_NO_THROW(inet.OpenURL("http://127.0.0.1:" + std::to_string(server.Port())));
  EXPECT_TRUE(states.empty());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "/");

  const DWORD start = ::GetTickCount();
  EXPECT_THROW(inet.OpenURL("http://127.0.0.1:" + std::to_string(test::UnusedPort())), VbError);
  EXPECT_LT(::GetTickCount() - start, 15000u);
  EXPECT_THROW(inet.OpenURL(""), VbError);
  EXPECT_TRUE(states.empty());
  EXPECT_FALSE(inet.StillExecuting());
}

TEST_F(TransferTest, UnansweredRequestEndsWithErrorAfterTimeout) {
  LoopbackServer server([](const std::string&) { return Reply{"", "", true}; });
  inet.SetRequestTimeout(1);
  const DWORD start = ::GetTickCount();
  const Outcome out = Fetch(server.Url("/slow"), 15);
  EXPECT_EQ(out.count(icError), 1);
  EXPECT_EQ(out.count(icResponseCompleted), 0);
  EXPECT_LT(::GetTickCount() - start, 10000u);
}

TEST_F(TransferTest, RefusedRequestsAndReadsWithoutResponse) {
  EXPECT_THROW(inet.Execute("no scheme at all", "GET"), VbError);
  EXPECT_FALSE(inet.StillExecuting());
  EXPECT_THROW(inet.GetChunk(1024, icByteArray), VbError);
  EXPECT_EQ(inet.GetHeader("Content-Length"), "");
  // A new request can follow a refused one.
  LoopbackServer server([](const std::string&) {
    return Reply{Head(200, "OK", "Content-Length: 1\r\n"), "x"};
  });
  EXPECT_EQ(Fetch(server.Url("/x")).body, "x");
  // Once the completion handler has returned, the response is gone.
  EXPECT_THROW(inet.GetChunk(1024, icByteArray), VbError);
}

}  // namespace
}  // namespace ovlu::win
