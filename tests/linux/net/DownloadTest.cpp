// The agent's download sequence, state handler, chunk reader and progress
// texts on the headless window, over the libcurl transfer, against the test
// server and nginx on loopback, writing real files; and what only the
// libcurl transfer has: the proxy from the environment. How each server
// fault ends is the contract table's (tests/contract).
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "NetRig.h"

namespace ovlu::nettest {
namespace {

using test::NginxServer;
using test::TempDir;
using test::TestServer;

const char* const kDone = "Download completato.";

// Resident memory of this process.
long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kib = 0;
  while (status >> key && key != "VmRSS:") status.ignore(1 << 10, '\n');
  return status >> kib ? kib : 0;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WritePatternFile(www / "a.dat", 10000, 7);
    test::WritePatternFile(www / "b.dat", 2500, 8);
  }
  // Numbers found by pattern in each of texts, in order.
  static std::vector<int> Numbers(const std::vector<std::string>& texts, const char* pattern) {
    std::vector<int> out;
    for (const auto& t : texts) {
      std::smatch m;
      EXPECT_TRUE(std::regex_match(t, m, std::regex(pattern))) << t;
      if (m.size() > 1) out.push_back(std::stoi(m[1]));
    }
    return out;
  }
  TempDir www{"ovlu-net-www"};
  TempDir dest{"ovlu-net-dest"};
  const std::string a = Pattern(10000, 7), b = Pattern(2500, 8);
};

TEST_F(DownloadTest, LargeFileFromNginxArrivesWhole) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx not installed";
  const std::size_t size = 5 * 1000 * 1000 + 123;
  test::WritePatternFile(www / "big.dat", size, 4);
  NginxServer ng(www.Path());
  Rig rig;
  AddItem(rig.window, ng.Url("/big.dat"), dest.Path(), "big.dat", "R");
  rig.form.DownloadAllFiles();
  EXPECT_TRUE(Slurp(ReceivedPath(0)) == Pattern(size, 4));
  EXPECT_EQ(rig.window.SubItem(1, 2), "100%");
  EXPECT_EQ(rig.window.Caption(Control::LblMesg), kDone);
}

TEST_F(DownloadTest, AFailedItemDoesNotStopTheOthersButAServerOrSourceMissingDoes) {
  TestServer ts(www.Path());
  const std::string dead = "http://127.0.0.1:" + std::to_string(test::UnusedPort());
  struct List {
    const char* name;
    std::string second;  // URL of the second item, "" for no source
    std::vector<std::string> rows;
  } cases[] = {
      {"not found", ts.Url("/file/a.dat?status=404"), {"100%", "0%", "100%"}},
      {"server unreachable", dead + "/file/b.dat", {"100%", "Server non disponibile.", ""}},
      {"no source", "", {"100%", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    TempDir out("ovlu-net-dest");
    const std::string urls[] = {ts.Url("/file/b.dat"), c.second, ts.Url("/file/b.dat")};
    for (int i = 0; i < 3; ++i)
      AddItem(rig.window, urls[i], out.Path(), std::to_string(i) + ".dat");
    rig.form.DownloadAllFiles();
    for (int row = 1; row <= 3; ++row) EXPECT_EQ(rig.window.SubItem(row, 2), c.rows[row - 1]);
    EXPECT_EQ(Slurp(ReceivedPath(1)), "<missing>");
    EXPECT_TRUE(Slurp(ReceivedPath(2)) == (c.rows[2].empty() ? "<missing>" : b));
  }
}

TEST_F(DownloadTest, BarMovesIn1024StepsUpToTheLength) {
  TestServer ts(www.Path());
  struct Bar {
    const char* target;
    std::vector<float> values;  // the bar after each chunk
    std::string percent;
  } cases[] = {
      {"/file/b.dat", {1024, 2048, 2500}, "100%"},
      // 2000 of the 2500 bytes: chunks of 1024 and 976, then the break.
      {"/file/b.dat?cut=2000", {1024, 2048}, "82%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    Rig rig;
    std::vector<float> seen;
    const auto see = [&] {
      const float v = rig.window.ProgressValue();
      if (v > 0 && (seen.empty() || seen.back() != v)) seen.push_back(v);
    };
    rig.window.onIdle = see;
    AddItem(rig.window, ts.Url(c.target), dest.Path(), "b.dat");
    rig.form.DownloadAllFiles();
    see();  // the last step is made after the last pump
    EXPECT_EQ(seen, c.values);
    EXPECT_EQ(rig.window.ProgressMax(), 2500.0f);
    EXPECT_EQ(rig.window.SubItem(1, 2), c.percent);
  }
}

TEST_F(DownloadTest, TimeTextsFollowTheServersRate) {
  // 1 MB at about 100 kB a second: some ten seconds.
  test::WritePatternFile(www / "mb.dat", 1000000, 6);
  TestServer ts(www.Path());
  Rig rig;
  std::vector<std::string> remaining;
  rig.window.onIdle = [&] {
    const std::string& t = G().RemainingTimeText;
    if (!t.empty() && (remaining.empty() || remaining.back() != t)) remaining.push_back(t);
  };
  AddItem(rig.window, ts.Url("/file/mb.dat?rate=100000"), dest.Path(), "mb.dat");
  rig.form.DownloadAllFiles();
  EXPECT_EQ(rig.window.SubItem(1, 2), "100%");

  // A tick at the steady rate forecasts about ten seconds; the server
  // cannot send faster than its rate, so no tick may forecast much less.
  std::vector<int> expected =
      Numbers(rig.window.captionHistory[Control::Label3], "Tempo previsto: (\\d+) sec");
  ASSERT_GE(expected.size(), 5u);
  std::sort(expected.begin(), expected.end());
  EXPECT_GE(expected.front(), 7);
  EXPECT_LE(expected[expected.size() / 2], 14);
  // The remaining time counts down towards 0 as the file comes in.
  const std::vector<int> secs = Numbers(remaining, "Tempo restante: (-?\\d+) sec ");
  ASSERT_GE(secs.size(), 5u);
  EXPECT_GE(secs.front(), 6);
  EXPECT_LE(secs.back(), 2);
}

// The agent reads slower than nginx sends: the transfer is paused and resumed
// many times, and the body is never in memory whole.
TEST_F(DownloadTest, SlowReaderKeepsMemoryBounded) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx not installed";
  const std::size_t size = 40 * 1024 * 1024 + 17;
  test::WritePatternFile(www / "big.dat", size, 5);
  NginxServer ng(www.Path());
  static_assert(InetControl::kBufferSize < 1024 * 1024);
  CurlInet inet;
  std::string body;
  long before = RssKiB(), held = 0;
  const auto pump = [&](int ms) {
    for (const auto until = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < until;)
      inet.Poll();
  };
  inet.StateChanged = [&](std::int16_t s) {
    if (s != icResponseCompleted) return;
    pump(500);  // long enough for nginx to send it all, were nothing held back
    held = RssKiB();
    for (std::vector<unsigned char> c; !(c = inet.GetChunk(1024, icByteArray)).empty();) {
      body.append(c.begin(), c.end());
      if (body.size() % (1024 * 1024) == 0) pump(20);
    }
  };
  inet.Execute(ng.Url("/big.dat"), "GET");
  while (inet.StillExecuting()) inet.Poll();
  EXPECT_LT(held - before, 8 * 1024);
  EXPECT_EQ(body.size(), size);
  EXPECT_TRUE(body == Pattern(size, 5));
}

// A customer behind a proxy names it in the usual environment variable.
TEST_F(DownloadTest, ProxyFromTheEnvironmentIsUsed) {
  TestServer proxy(www.Path());
  setenv("http_proxy", proxy.Root().c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  Rig rig;
  AddItem(rig.window, "http://ovlu-update.invalid/file/b.dat", dest.Path(), "b.dat");
  rig.form.DownloadAllFiles();
  unsetenv("http_proxy");
  EXPECT_TRUE(Slurp(ReceivedPath(0)) == b);
  const auto log = proxy.Requests();
  EXPECT_EQ(std::count(log.begin(), log.end(), "GET http://ovlu-update.invalid/file/b.dat"), 1);
}

}  // namespace
}  // namespace ovlu::nettest
