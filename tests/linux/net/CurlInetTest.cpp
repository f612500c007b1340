// The libcurl transfer control on its own, against the project's test
// server and nginx on loopback: the states it raises, the body it streams,
// how requests fail and how long it waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "NetRig.h"

namespace ovlu::nettest {
namespace {

using test::NginxServer;
using test::TempDir;
using test::TestServer;
using States = std::vector<std::int16_t>;

// Resident memory of this process.
long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kib = 0;
  while (status >> key && key != "VmRSS:") status.ignore(1 << 10, '\n');
  return status >> kib ? kib : 0;
}

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
  // between chunks. With pauseEvery set it first holds off for holdMs, then
  // stops for pauseMs before each further pauseEvery bytes.
  void ReadBody() {
    try {
      for (;;) {
        if (pauseEvery && body.size() % pauseEvery == 0) {
          const auto until =
              Clock::now() + std::chrono::milliseconds(body.empty() ? holdMs : pauseMs);
          while (Clock::now() < until) Pump();
          if (body.empty()) heldKiB = RssKiB();
        }
        std::vector<unsigned char> chunk = inet.GetChunk(1024, icByteArray);
        if (chunk.empty()) break;
        chunks.push_back(chunk.size());
        body.append(chunk.begin(), chunk.end());
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
    if (pumps++ > 0) maxGap = std::max(maxGap, std::chrono::duration<double>(now - last).count());
    last = now;
    inet.Poll();
  }

  CurlInet inet{[this] { Pump(); }};
  States states;
  std::string body;
  std::vector<std::size_t> chunks;  // sizes, in order
  bool broken = false;              // GetChunk failed after the bytes it gave
  std::size_t statesWhenRead = 0;
  std::size_t pauseEvery = 0;
  int holdMs = 0, pauseMs = 0;
  long heldKiB = 0;  // resident memory at the end of the hold
  long long pumps = 0;
  double maxGap = 0;  // longest time without events, in seconds
  Clock::time_point last;
};

States Join(std::initializer_list<States> parts) {
  States out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const States kExchange = {icResolvingHost, icHostResolved, icConnecting,        icConnected,
                          icRequesting,    icRequestSent,  icReceivingResponse, icResponseReceived};
const States kClose = {icDisconnecting, icDisconnected};
const States kHop = Join({kExchange, kClose});
const States kDone = Join({kExchange, {icResponseCompleted}, kClose});

class CurlInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WritePatternFile(www / "a.dat", 100000, 2);
    test::WritePatternFile(www / "small.dat", 2500, 3);
    test::WritePatternFile(www / "OrVento 7.dat", 2500, 4);
  }
  TempDir www{"ovlu-net-www"};
  const std::string file = Pattern(100000, 2);
};

TEST_F(CurlInetTest, EachResponseRaisesItsStatesAndGivesItsBody) {
  TestServer ts(www.Path());
  const std::string dead = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/x";
  const std::string part = file.substr(0, 40000);
  const auto upTo = [](int n) { return States(kExchange.begin(), kExchange.begin() + n); };
  struct Outcome {
    const char* name;
    std::string target;  // on the test server, or a whole URL
    States states;       // every state raised, in order
    std::string body;
    bool broken;        // GetChunk failed after the bytes it gave
    double silent = 0;  // the request took at least this long, waiting on the server
  } cases[] = {
      {"whole file", "/file/a.dat", kDone, file, false},
      // A blank in a name goes out percent-encoded, as a browser sends it.
      {"blank in the name", "/file/OrVento 7.dat", kDone, Pattern(2500, 4), false},
      {"paced", "/file/a.dat?rate=400000", kDone, file, false},
      {"chunked", "/file/a.dat?chunked=1", kDone, file, false},
      // The bytes past the Content-Length are the server's filler.
      {"more than its length", "/file/a.dat?extra=3", kDone, file + "\x03\x0a\x11", false},
      {"cut short", "/file/a.dat?cut=40000", kDone, part, true},
      {"chunked and cut", "/file/a.dat?chunked=1&cut=40000", kDone, part, true},
      {"not found", "/file/none.dat", Join({kHop, {icError}}), "", false},
      {"server error", "/file/a.dat?status=500", Join({kHop, {icError}}), "", false},
      {"redirected", "/redirect?to=/file/a.dat", Join({kHop, kDone}), file, false},
      // At most five redirects are followed.
      {"redirected for ever", "/loop", Join({kHop, kHop, kHop, kHop, kHop, kHop, {icError}}), "",
       false},
      {"nothing listening", dead, Join({upTo(3), {icError}}), "", false},
      // The time-out (2 s here) ends silence, not slowness.
      {"no answer", "/file/a.dat?stall=accept", Join({upTo(6), kClose, {icError}}), "", false, 1.9},
      {"headers only", "/file/a.dat?stall=headers", kDone, "", true, 1.9},
      {"stops mid-body", "/file/a.dat?stallafter=30000", kDone, file.substr(0, 30000), true, 1.9},
      // 8000 bytes at 2000 bytes a second: longer than the time-out in all,
      // never silent for as long.
      {"slow but steady", "/file/a.dat?cut=8000&rate=2000", kDone, file.substr(0, 8000), true, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Driver d;
    d.inet.SetRequestTimeout(2);
    const auto start = Clock::now();
    ASSERT_TRUE(d.Fetch(c.target[0] == '/' ? ts.Url(c.target) : c.target));
    EXPECT_EQ(d.states, c.states);
    EXPECT_EQ(d.body.size(), c.body.size());
    EXPECT_TRUE(d.body == c.body);
    EXPECT_EQ(d.broken, c.broken);
    // Every chunk is whole but the last, however the bytes came in.
    EXPECT_TRUE(d.chunks.empty() || std::count(d.chunks.begin(), d.chunks.end() - 1, 1024u) + 1 ==
                                        static_cast<long>(d.chunks.size()));
    if (c.states.back() == icError) {
      EXPECT_TRUE(d.inet.GetChunk(1024, icByteArray).empty());
    } else {
      // The close is reported while the completion handler still reads.
      EXPECT_EQ(d.statesWhenRead, d.states.size());
    }
    // The window's events ran all the time the server was waited on.
    EXPECT_LT(d.maxGap, 0.25);
    EXPECT_GE(SecondsSince(start), c.silent);
    EXPECT_GT(d.pumps, c.silent * 25);
  }
  const auto log = ts.Requests();
  EXPECT_EQ(std::count(log.begin(), log.end(), "GET /loop"), 6);
}

TEST_F(CurlInetTest, BodyThatIsReadSlowlyArrivesWholeThroughTheBoundedBuffer) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx not installed";
  const std::size_t size = 40 * 1024 * 1024 + 17;
  test::WritePatternFile(www / "big.dat", size, 5);
  NginxServer ng(www.Path());
  Driver d;
  // Holds off reading for long enough for nginx to send it all, then stops
  // after every MiB, more than the buffer holds: the transfer is paused and
  // resumed many times, and the body never is in memory whole.
  static_assert(CurlInet::kBufferSize < 1024 * 1024);
  d.pauseEvery = 1024 * 1024;
  d.holdMs = 500;
  d.pauseMs = 20;
  const long before = RssKiB();
  ASSERT_TRUE(d.Fetch(ng.Url("/big.dat"), 60));
  EXPECT_LT(d.heldKiB - before, 8 * 1024);
  EXPECT_FALSE(d.broken);
  EXPECT_EQ(d.body.size(), size);
  EXPECT_TRUE(d.body == Pattern(size, 5));
}

TEST_F(CurlInetTest, ProbeRaisesNoCompletionAndLetsEventsRunWhileItWaits) {
  TestServer ts(www.Path());
  Driver d;
  d.inet.OpenURL(ts.Root());
  ASSERT_GE(d.states.size(), kExchange.size());
  EXPECT_TRUE(std::equal(kExchange.begin(), kExchange.end(), d.states.begin()));
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icResponseCompleted), 0);
  EXPECT_THROW(d.inet.OpenURL("http://127.0.0.1:" + std::to_string(test::UnusedPort())), VbError);
  // A probe of a server that never answers fails after the time-out, and
  // events kept running all the while.
  d.inet.SetRequestTimeout(1);
  d.pumps = 0;
  const auto start = Clock::now();
  EXPECT_THROW(d.inet.OpenURL(ts.Url("/file/a.dat?stall=accept")), VbError);
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_GT(d.pumps, 20);
  EXPECT_LT(d.maxGap, 0.25);
  // Failed probes raise no error state, and the control is free again for
  // the real request.
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icError), 0);
  ASSERT_TRUE(d.Fetch(ts.Url("/file/small.dat")));
  EXPECT_EQ(d.body.size(), 2500u);
}

// HTTPS checks the server's certificate against the system's: a
// self-signed one is refused, by the probe and by the request.
TEST_F(CurlInetTest, HttpsRefusesACertificateThatNothingVouchesFor) {
  NginxServer ng(www.Path(), true);
  Driver d;
  EXPECT_THROW(d.inet.OpenURL(ng.Root()), VbError);
  ASSERT_TRUE(d.Fetch(ng.Url("/a.dat")));
  EXPECT_EQ(d.states.back(), icError);
  EXPECT_EQ(std::count(d.states.begin(), d.states.end(), icResponseCompleted), 0);
}

// A customer behind a proxy names it in the usual environment variable.
TEST_F(CurlInetTest, ProxyFromTheEnvironmentIsUsed) {
  TestServer proxy(www.Path());
  setenv("http_proxy", proxy.Root().c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  Driver d;
  const bool done = d.Fetch("http://ovlu-update.invalid/file/small.dat");
  unsetenv("http_proxy");
  ASSERT_TRUE(done);
  EXPECT_EQ(d.body.size(), 2500u);
  const auto log = proxy.Requests();
  EXPECT_EQ(std::count(log.begin(), log.end(), "GET http://ovlu-update.invalid/file/small.dat"), 1);
}

}  // namespace
}  // namespace ovlu::nettest
