// The agent's download sequence, state handler, chunk reader and progress
// texts on the headless window, over the libcurl transfer, against the test
// server and nginx on loopback, writing real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "NetRig.h"
#include "shell/Globals.h"

namespace ovlu::nettest {
namespace {

using test::NginxServer;
using test::PatternBytes;
using test::TempDir;
using test::TestServer;

const char* const kDone = "Download completato.";
const char* const kFailed = " Si sono verificati degli errori durante la ricezione dei dati.";

std::string Bytes(const std::vector<unsigned char>& v, std::size_t n = std::string::npos) {
  return std::string(v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(www / "file");
    test::WriteFile(www / "file/a.dat", body);
    test::WriteFile(www / "file/b.dat", PatternBytes(2500, 8));
  }
  TempDir www{"ovlu-net-www"};
  TempDir dest{"ovlu-net-dest"};
  std::vector<unsigned char> body = PatternBytes(10000, 7);
};

// ---------------------------------------------------------------- one file

enum class Flag { Set, Cleared, Unchanged };

struct Case {
  const char* name;
  std::string target;
  std::string file;     // what the received file holds, "<missing>" for none
  std::string percent;  // the row's final text
  Flag cancel;
  const char* message;  // LblMesg at the end
};

TEST_F(DownloadTest, EachServerAnswerEndsAsTheHandlersSay) {
  TestServer ts(www / "file");
  const std::string all = Bytes(body);
  const std::string filler = "\x03\x0a\x11";
  const Case cases[] = {
      {"whole file", "/file/a.dat", all, "100%", Flag::Cleared, kDone},
      {"more than its length", "/file/a.dat?extra=3", all + filler, "100%", Flag::Cleared, kDone},
      {"redirected", "/redirect?to=/file/a.dat", all, "100%", Flag::Cleared, kDone},
      // Three chunks written: 3072 of 10000 on the bar.
      {"cut short", "/file/a.dat?cut=3000", Bytes(body, 3000), "31%", Flag::Set, kDone},
      {"stalled mid-body", "/file/a.dat?stallafter=3000", Bytes(body, 3000), "31%", Flag::Set,
       kDone},
      // The first chunk fails: before the file is opened.
      {"stalled after the headers", "/file/a.dat?stall=headers", "<missing>", "0%", Flag::Unchanged,
       kDone},
      {"no Content-Length, chunked", "/file/a.dat?chunked=1", "<missing>", "0%", Flag::Unchanged,
       kDone},
      {"no Content-Length, closed", "/file/a.dat?nolength=1", "<missing>", "0%", Flag::Unchanged,
       kDone},
      {"not found", "/file/nothing.dat", "<missing>", "0%", Flag::Set, kFailed},
      {"server error", "/file/a.dat?status=500", "<missing>", "0%", Flag::Set, kFailed},
      {"no answer", "/file/a.dat?stall=accept", "<missing>", "0%", Flag::Set, kFailed},
      {"redirected for ever", "/loop", "<missing>", "0%", Flag::Set, kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.inet.shortSeconds = 2;
    TempDir dest("ovlu-net-dest");
    rig.AddItem(ts.Url(c.target), ts.Root(), dest.Path(), "a.dat");
    const VbBool before = c.cancel == Flag::Cleared ? vbTrue : vbFalse;
    G().CancelRequested = before;
    // An older, longer file at the received name is replaced, not overlaid.
    if (c.file != "<missing>") test::WriteFile(rig.Received(0), PatternBytes(20000, 9));

    rig.form.DownloadAllFiles();

    EXPECT_EQ(Slurp(rig.Received(0)).size(), c.file.size());
    EXPECT_TRUE(Slurp(rig.Received(0)) == c.file);
    EXPECT_EQ(rig.window.SubItem(1, 2), c.percent);
    const VbBool expected = c.cancel == Flag::Set       ? vbTrue
                            : c.cancel == Flag::Cleared ? vbFalse
                                                        : before;
    EXPECT_EQ(G().CancelRequested, expected);
    EXPECT_EQ(rig.window.Caption(Control::LblMesg), c.message);
    EXPECT_FALSE(rig.window.Enabled(Control::TimerTimeOut));
    EXPECT_FALSE(rig.window.Enabled(Control::Timer1));
    EXPECT_EQ(rig.inet.asked, std::vector<int>{40});
  }
}

TEST_F(DownloadTest, LargeFileFromNginxArrivesWhole) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx not installed";
  const std::size_t size = 5 * 1000 * 1000 + 123;
  test::WritePatternFile(www / "file/big.dat", size, 4);
  NginxServer ng(www.Path());
  Rig rig;
  rig.AddItem(ng.Url("/file/big.dat"), ng.Root(), dest.Path(), "big.dat", "R");
  rig.form.DownloadAllFiles();
  EXPECT_EQ(rig.Received(0), dest / "big.dat.tmp.remove");
  EXPECT_TRUE(test::ReadFile(rig.Received(0)) == PatternBytes(size, 4));
  EXPECT_EQ(rig.window.SubItem(1, 2), "100%");
  EXPECT_EQ(rig.window.Caption(Control::LabelFS), "5 Mb");
  EXPECT_EQ(G().CancelRequested, vbFalse);
  EXPECT_EQ(rig.window.Caption(Control::LblMesg), kDone);
}

// ---------------------------------------------------------------- the list

TEST_F(DownloadTest, AFailedItemDoesNotStopTheOthersButAnUnreachableServerDoes) {
  TestServer ts(www / "file");
  {
    Rig rig;
    rig.AddItem(ts.Url("/file/a.dat"), ts.Root(), dest.Path(), "1.dat");
    rig.AddItem(ts.Url("/file/a.dat?status=404"), ts.Root(), dest.Path(), "2.dat");
    rig.AddItem(ts.Url("/file/b.dat"), ts.Root(), dest.Path(), "3.dat");
    rig.form.DownloadAllFiles();
    EXPECT_EQ(rig.window.SubItem(1, 2), "100%");
    EXPECT_EQ(rig.window.SubItem(2, 2), "0%");
    EXPECT_EQ(rig.window.SubItem(3, 2), "100%");
    EXPECT_EQ(Slurp(rig.Received(1)), "<missing>");
    EXPECT_EQ(Slurp(rig.Received(2)).size(), 2500u);
    // The last item read to its end clears the earlier failure.
    EXPECT_EQ(G().CancelRequested, vbFalse);
  }
  const std::string dead = "http://127.0.0.1:" + std::to_string(test::UnusedPort());
  {
    Rig rig;
    rig.AddItem(ts.Url("/file/b.dat"), ts.Root(), dest.Path(), "4.dat");
    rig.AddItem(dead + "/file/b.dat", dead, dest.Path(), "5.dat");
    rig.AddItem(ts.Url("/file/b.dat"), ts.Root(), dest.Path(), "6.dat");
    rig.form.DownloadAllFiles();
    EXPECT_EQ(rig.window.SubItem(1, 2), "100%");
    EXPECT_EQ(rig.window.SelectedRow(), 2);
    EXPECT_EQ(Slurp(rig.Received(2)), "<missing>");
    EXPECT_FALSE(rig.window.Enabled(Control::TimerTimeOut));
  }
  // Each item is probed at its server root before its own request.
  const auto log = ts.Requests();
  const std::vector<std::string> expected = {
      "GET /", "GET /file/a.dat", "GET /", "GET /file/a.dat?status=404",
      "GET /", "GET /file/b.dat", "GET /", "GET /file/b.dat"};
  EXPECT_EQ(log, expected);
}

// ---------------------------------------------------------------- progress

TEST_F(DownloadTest, BarMovesIn1024StepsUpToTheLength) {
  TestServer ts(www / "file");
  struct Bar {
    const char* target;
    std::vector<float> values;  // the bar after each chunk
    std::string percent;
  };
  const Bar cases[] = {
      {"/file/b.dat", {1024, 2048, 2500}, "100%"},
      // 2000 of the 2500 bytes: chunks of 1024 and 976, then the break.
      {"/file/b.dat?cut=2000", {1024, 2048}, "82%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    Rig rig;
    std::vector<float> seen;
    rig.window.onIdle = [&] {
      const float v = rig.window.ProgressValue();
      if (v > 0 && (seen.empty() || seen.back() != v)) seen.push_back(v);
    };
    rig.AddItem(ts.Url(c.target), ts.Root(), dest.Path(), "b.dat");
    rig.form.DownloadAllFiles();
    // The last step is made after the last pump.
    if (seen.empty() || seen.back() != rig.window.ProgressValue())
      seen.push_back(rig.window.ProgressValue());
    EXPECT_EQ(seen, c.values);
    EXPECT_EQ(rig.window.ProgressMax(), 2500.0f);
    EXPECT_EQ(rig.window.SubItem(1, 2), c.percent);
    EXPECT_EQ(rig.window.Caption(Control::LabelST), "(0 MB di 0 MB)");
    EXPECT_EQ(rig.window.Caption(Control::LabelFS), "0 Mb");
  }
}

TEST_F(DownloadTest, TimeTextsFollowTheServersRate) {
  // 1 MB at about 100 kB a second: some ten seconds.
  test::WriteFile(www / "file/mb.dat", PatternBytes(1000000, 6));
  TestServer ts(www / "file");
  Rig rig;
  std::vector<std::string> remaining;
  rig.window.onIdle = [&] {
    const std::string& t = G().RemainingTimeText;
    if (!t.empty() && (remaining.empty() || remaining.back() != t)) remaining.push_back(t);
  };
  rig.AddItem(ts.Url("/file/mb.dat?rate=100000"), ts.Root(), dest.Path(), "mb.dat");
  const auto start = Clock::now();
  rig.form.DownloadAllFiles();
  const double took = SecondsSince(start);
  EXPECT_GE(took, 8.0);
  EXPECT_EQ(rig.window.SubItem(1, 2), "100%");

  // Every expected time seen, read back from the label's history.
  std::vector<int> expected;
  const std::regex forecast("Tempo previsto: (\\d+) sec");
  for (const auto& text : rig.window.captionHistory[Control::Label3]) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, forecast)) << text;
    expected.push_back(std::stoi(m[1]));
  }
  // A tick at the steady rate forecasts about ten seconds; the server
  // cannot send faster than its rate, so no tick may forecast much less.
  ASSERT_GE(expected.size(), 5u);
  std::vector<int> sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_GE(sorted[sorted.size() / 2], 8);
  EXPECT_LE(sorted[sorted.size() / 2], 13);
  EXPECT_GE(sorted.front(), 7);

  // The remaining time counts down towards 0 as the file comes in.
  const std::regex left("Tempo restante: (-?\\d+) sec ");
  std::vector<int> secs;
  for (const auto& t : remaining) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(t, m, left)) << t;
    secs.push_back(std::stoi(m[1]));
  }
  ASSERT_GE(secs.size(), 5u);
  EXPECT_GE(secs.front(), 6);
  EXPECT_LE(secs.back(), 2);
  // The status label carries it in front of the sizes.
  const auto& st = rig.window.captionHistory[Control::LabelST];
  const bool shown = std::any_of(st.begin(), st.end(), [](const std::string& s) {
    return std::regex_match(s, std::regex("Tempo restante: \\d+ sec \\([0-9.,]+ MB di 1 MB\\)"));
  });
  EXPECT_TRUE(shown);
}

TEST_F(DownloadTest, WindowKeepsRunningWhileAStalledServerIsWaitedOn) {
  TestServer ts(www / "file");
  struct Stalled {
    const char* target;
    const char* message;
  };
  for (const Stalled& c : {Stalled{"/file/a.dat?stall=accept", kFailed},
                           Stalled{"/file/a.dat?stallafter=3000", kDone}}) {
    SCOPED_TRACE(c.target);
    Rig rig;
    rig.inet.shortSeconds = 3;
    long long idles = 0;
    double maxGap = 0;
    auto last = Clock::now();
    rig.window.onIdle = [&] {
      const auto now = Clock::now();
      maxGap = std::max(maxGap, std::chrono::duration<double>(now - last).count());
      last = now;
      ++idles;
    };
    rig.AddItem(ts.Url(c.target), ts.Root(), dest.Path(), "a.dat");
    const auto start = Clock::now();
    rig.form.DownloadAllFiles();
    EXPECT_GE(SecondsSince(start), 2.9);
    EXPECT_GT(idles, 300);
    EXPECT_LT(maxGap, 0.25);
    EXPECT_EQ(rig.window.Caption(Control::LblMesg), c.message);
  }
}

}  // namespace
}  // namespace ovlu::nettest
