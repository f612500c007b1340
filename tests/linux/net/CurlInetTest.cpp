// The libcurl transfer control on its own, against the project's test
// server and nginx on loopback: the states it raises, the body it streams,
// how requests fail and how long it waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>

#include "NetRig.h"

namespace ovlu::nettest {
namespace {

using test::NginxServer;
using test::PatternBytes;
using test::TempDir;
using test::TestServer;
using States = std::vector<std::int16_t>;

// A transfer control used the way the download sequence uses it: every
// wait lets "window events" run, and each round of them drives the control.
struct Driver {
  Driver() {
    inet.StateChanged = [this](std::int16_t s) {
      states.push_back(s);
      if (s == icResponseCompleted) ReadBody();
    };
  }

  // Execute, then wait until the control is done; false when it was still
  // running after limitSeconds.
  bool Fetch(const std::string& url, double limitSeconds = 30) {
    inet.SetProtocol(icHTTP);
    inet.Execute(url, "GET");
    const auto start = Clock::now();
    do {
      Pump();
      if (SecondsSince(start) > limitSeconds) return false;
    } while (inet.StillExecuting());
    return true;
  }

  // The completion handler: reads the body in chunks, letting events run
  // between chunks, with an optional pause after every pauseEvery bytes.
  void ReadBody() {
    try {
      for (;;) {
        std::vector<unsigned char> chunk = inet.GetChunk(1024, icByteArray);
        if (chunk.empty()) break;
        chunks.push_back(chunk.size());
        body.insert(body.end(), chunk.begin(), chunk.end());
        if (pauseEvery && body.size() % pauseEvery < chunk.size()) {
          const auto until = Clock::now() + std::chrono::milliseconds(pauseMs);
          while (Clock::now() < until) Pump();
        }
        Pump();
      }
    } catch (const VbError& e) {
      broken = true;
      EXPECT_EQ(e.number, errTransfer);
    }
    statesWhenRead = states.size();
  }

  void Pump() {
    const auto now = Clock::now();
    if (pumps > 0) maxGap = std::max(maxGap, std::chrono::duration<double>(now - lastPump).count());
    lastPump = now;
    ++pumps;
    inet.Poll();
  }

  CurlInet inet{[this] { Pump(); }};
  States states;
  std::vector<unsigned char> body;
  std::vector<std::size_t> chunks;  // sizes, in order
  bool broken = false;
  std::size_t statesWhenRead = 0;
  std::size_t pauseEvery = 0;
  int pauseMs = 0;
  long long pumps = 0;
  double maxGap = 0;
  Clock::time_point lastPump;
};

const States kOneExchange = {icResolvingHost,     icHostResolved,    icConnecting,
                             icConnected,         icRequesting,      icRequestSent,
                             icReceivingResponse, icResponseReceived};

States Join(std::initializer_list<States> parts) {
  States out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string Str(const States& s) {
  std::string out;
  for (auto v : s) out += std::to_string(v) + " ";
  return out;
}

class CurlInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(www / "a.dat", file);
    test::WriteFile(www / "small.dat", PatternBytes(2500, 3));
  }
  TempDir www{"ovlu-net-www"};
  std::vector<unsigned char> file = PatternBytes(100000, 2);
};

// ---------------------------------------------------------------- outcomes

struct Outcome {
  const char* name;
  std::string target;  // on the test server
  States states;       // every state raised, in order
  std::size_t bodySize;
  bool broken;  // GetChunk failed after the bytes it gave
};

TEST_F(CurlInetTest, EachResponseRaisesItsStatesAndGivesItsBody) {
  TestServer ts(www.Path());
  const States close = {icDisconnecting, icDisconnected};
  const States hop = Join({kOneExchange, close});
  const Outcome cases[] = {
      {"whole file", "/file/a.dat", Join({kOneExchange, {icResponseCompleted}, close}), 100000,
       false},
      {"paced", "/file/a.dat?rate=400000", Join({kOneExchange, {icResponseCompleted}, close}),
       100000, false},
      {"chunked", "/file/a.dat?chunked=1", Join({kOneExchange, {icResponseCompleted}, close}),
       100000, false},
      {"more than its length", "/file/a.dat?extra=3000",
       Join({kOneExchange, {icResponseCompleted}, close}), 103000, false},
      {"cut short", "/file/a.dat?cut=40000", Join({kOneExchange, {icResponseCompleted}, close}),
       40000, true},
      {"chunked and cut", "/file/a.dat?chunked=1&cut=40000",
       Join({kOneExchange, {icResponseCompleted}, close}), 40000, true},
      {"not found", "/file/none.dat", Join({hop, {icError}}), 0, false},
      {"server error", "/file/a.dat?status=500", Join({hop, {icError}}), 0, false},
      {"redirected", "/redirect?to=/file/a.dat",
       Join({hop, kOneExchange, {icResponseCompleted}, close}), 100000, false},
      {"redirected for ever", "/loop", Join({hop, hop, hop, hop, hop, hop, {icError}}), 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Driver d;
    ASSERT_TRUE(d.Fetch(ts.Url(c.target)));
    EXPECT_EQ(Str(d.states), Str(c.states));
    ASSERT_EQ(d.body.size(), c.bodySize);
    std::vector<unsigned char> expected = file;
    expected.resize(std::min(expected.size(), c.bodySize));
    if (c.bodySize > file.size()) {
      // The bytes past the Content-Length are the server's filler.
      for (std::size_t i = file.size(); i < c.bodySize; ++i)
        expected.push_back(static_cast<unsigned char>(((i - file.size()) * 7 + 3) & 0xFF));
    }
    EXPECT_TRUE(d.body == expected);
    EXPECT_EQ(d.broken, c.broken);
    // Every chunk is whole but the last, however the bytes came in.
    if (!d.chunks.empty()) {
      EXPECT_EQ(std::count(d.chunks.begin(), d.chunks.end() - 1, 1024u),
                static_cast<long>(d.chunks.size()) - 1);
    }
    // A refused response gives no body at all.
    if (c.bodySize == 0) {
      EXPECT_TRUE(d.inet.GetChunk(1024, icByteArray).empty());
    }
  }
  // At most five redirects are followed: six requests in all.
  const auto log = ts.Requests();
  EXPECT_EQ(std::count(log.begin(), log.end(), "GET /loop"), 6);
}

TEST_F(CurlInetTest, DisconnectionIsReportedWhileTheBodyIsStillBeingRead) {
  TestServer ts(www.Path());
  Driver d;
  ASSERT_TRUE(d.Fetch(ts.Url("/file/a.dat")));
  // 9 and 10 were raised inside the completion handler, not after it.
  EXPECT_EQ(d.statesWhenRead, d.states.size());
  EXPECT_EQ(d.states.back(), icDisconnected);
}

TEST_F(CurlInetTest, NothingListeningFailsAfterTheConnectAttempt) {
  Driver d;
  const std::string url = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/x";
  ASSERT_TRUE(d.Fetch(url));
  EXPECT_EQ(Str(d.states), Str({icResolvingHost, icHostResolved, icConnecting, icError}));
  EXPECT_THROW(d.inet.OpenURL(url), VbError);
}

TEST_F(CurlInetTest, BodyThatIsReadSlowlyArrivesWholeThroughTheBoundedBuffer) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx not installed";
  const std::size_t size = 3 * 1024 * 1024 + 17;
  test::WritePatternFile(www / "big.dat", size, 5);
  NginxServer ng(www.Path());
  Driver d;
  // Stops reading for a while after every 384 KiB, longer than the buffer
  // holds, so the transfer is paused and resumed many times.
  d.pauseEvery = 384 * 1024;
  d.pauseMs = 30;
  ASSERT_TRUE(d.Fetch(ng.Url("/big.dat")));
  EXPECT_FALSE(d.broken);
  ASSERT_EQ(d.body.size(), size);
  EXPECT_TRUE(d.body == PatternBytes(size, 5));
}

// ---------------------------------------------------------------- headers

TEST_F(CurlInetTest, HeadersOfTheFinalResponse) {
  TestServer ts(www.Path());
  Driver d;
  std::string all, length, lower, missing;
  d.inet.StateChanged = [&](std::int16_t s) {
    if (s != icResponseCompleted) return;
    all = d.inet.GetHeader("");
    length = d.inet.GetHeader("Content-Length");
    lower = d.inet.GetHeader("content-length");
    missing = d.inet.GetHeader("X-None");
  };
  EXPECT_EQ(d.inet.GetHeader("Content-Length"), "");
  ASSERT_TRUE(d.Fetch(ts.Url("/redirect?to=/file/small.dat")));
  EXPECT_EQ(length, "2500");
  EXPECT_EQ(lower, "2500");
  EXPECT_EQ(missing, "");
  EXPECT_EQ(all.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << all;
  EXPECT_NE(all.find("Content-Length: 2500"), std::string::npos);
  EXPECT_EQ(all.find("Location"), std::string::npos);
  EXPECT_EQ(d.inet.ResponseCode(), 200);

  Driver chunked;
  std::string none = "?";
  chunked.inet.StateChanged = [&](std::int16_t s) {
    if (s == icResponseCompleted) none = chunked.inet.GetHeader("Content-Length");
  };
  ASSERT_TRUE(chunked.Fetch(ts.Url("/file/small.dat?chunked=1")));
  EXPECT_EQ(none, "");
}

// ---------------------------------------------------------------- the probe

TEST_F(CurlInetTest, ProbeRaisesNoCompletionAndLetsEventsRunWhileItWaits) {
  TestServer ts(www.Path());
  Driver d;
  d.inet.OpenURL(ts.Root());
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icResponseCompleted), 0);
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icError), 0);
  EXPECT_GE(d.states.size(), kOneExchange.size());
  EXPECT_FALSE(d.inet.StillExecuting());
  // A probe of a server that never answers fails after the time-out, and
  // events kept running all the while.
  d.inet.SetRequestTimeout(1);
  d.pumps = 0;
  const auto start = Clock::now();
  EXPECT_THROW(d.inet.OpenURL(ts.Url("/file/a.dat?stall=accept")), VbError);
  const double took = SecondsSince(start);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 10);
  EXPECT_GT(d.pumps, 20);
  EXPECT_LT(d.maxGap, 0.25);
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icError), 0);
  // The control is free again for the real request.
  ASSERT_TRUE(d.Fetch(ts.Url("/file/small.dat")));
  EXPECT_EQ(d.body.size(), 2500u);
}

// ---------------------------------------------------------------- time limits

struct Stall {
  const char* name;
  std::string target;
  bool completes;        // 12 is raised
  std::size_t bodySize;  // bytes GetChunk gave
  bool broken;           // and then it failed
  double minSeconds;     // the transfer took at least this long
};

TEST_F(CurlInetTest, TimeOutEndsSilenceNotSlowness) {
  TestServer ts(www.Path());
  const Stall cases[] = {
      {"no answer", "/file/a.dat?stall=accept", false, 0, false, 1.9},
      {"headers only", "/file/a.dat?stall=headers", true, 0, true, 1.9},
      {"stops mid-body", "/file/a.dat?stallafter=30000", true, 30000, true, 1.9},
      // 8000 bytes at 2000 bytes a second: longer than the time-out in all,
      // never silent for as long.
      {"slow but steady", "/file/a.dat?cut=8000&rate=2000", true, 8000, true, 3.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Driver d;
    d.inet.SetRequestTimeout(2);
    const auto start = Clock::now();
    ASSERT_TRUE(d.Fetch(ts.Url(c.target), 20));
    const double took = SecondsSince(start);
    EXPECT_GE(took, c.minSeconds);
    EXPECT_LT(took, 15);
    EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icResponseCompleted),
              c.completes ? 1 : 0);
    EXPECT_EQ(d.states.back() == icError, !c.completes);
    EXPECT_EQ(d.body.size(), c.bodySize);
    EXPECT_EQ(d.broken, c.broken);
    // The window's events ran all the time the server was waited on.
    EXPECT_LT(d.maxGap, 0.25);
    EXPECT_GT(d.pumps, 50);
  }
}

// ---------------------------------------------------------------- misuse

TEST_F(CurlInetTest, RequestsThatAreRefusedAtOnce) {
  TestServer ts(www.Path());
  Driver d;
  EXPECT_THROW(d.inet.Execute("ftp://127.0.0.1/x", "GET"), VbError);
  EXPECT_THROW(d.inet.Execute("not a url", "GET"), VbError);
  EXPECT_FALSE(d.inet.StillExecuting());
  d.inet.Execute(ts.Url("/file/a.dat?rate=50000"), "GET");
  EXPECT_TRUE(d.inet.StillExecuting());
  EXPECT_THROW(d.inet.Execute(ts.Url("/file/a.dat"), "GET"), VbError);
  EXPECT_THROW(d.inet.OpenURL(ts.Root()), VbError);
  // Nothing has been raised yet: events only come from Poll.
  EXPECT_TRUE(d.states.empty());
}

TEST_F(CurlInetTest, HttpsRefusesACertificateThatNothingVouchesFor) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx not installed";
  NginxServer ng(www.Path(), true);
  Driver d;
  EXPECT_THROW(d.inet.OpenURL(ng.Root()), VbError);
  ASSERT_TRUE(d.Fetch(ng.Url("/a.dat")));
  EXPECT_EQ(d.states.back(), icError);
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icResponseCompleted), 0);
}

// Sets an environment variable for one scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(CurlInetTest, ProxyFromTheEnvironmentIsUsed) {
  TestServer proxy(www.Path());
  EnvVar a("http_proxy", proxy.Root().c_str()), b("no_proxy", nullptr), c("NO_PROXY", nullptr);
  Driver d;
  ASSERT_TRUE(d.Fetch("http://ovlu-update.invalid/file/small.dat"));
  EXPECT_EQ(d.body.size(), 2500u);
  const auto log = proxy.Requests();
  EXPECT_EQ(std::count(log.begin(), log.end(), "GET http://ovlu-update.invalid/file/small.dat"), 1);
}

}  // namespace
}  // namespace ovlu::nettest
