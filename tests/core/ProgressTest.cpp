// The size texts while a body is read, the row's percentage and the time
// estimates. How bodies end (cut short, without or beyond a length, empty)
// is the transfer contract's table.
#include <gtest/gtest.h>

#include <climits>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(agent.Start({"<v-S><s-http://srv/u/a.dll><APPPATH-\\a.dll>"}));
    form.CurrentRow = 1;
    form.DownloadPath = agent.AppFolder() + "\\a.dll.remove";
    // The tests below drive the request themselves.
    w.onPump = nullptr;
  }
  // Requests a body and waits until its completion has read it.
  void Complete(const std::string& body) {
    agent.inet.replies["http://srv/u/a.dll"].body = body;
    agent.inet.Execute("http://srv/u/a.dll", "GET");
    do agent.inet.Poll();
    while (agent.inet.StillExecuting());
  }
  std::vector<std::string>& History(Control c) { return w.captionHistory[c]; }

  Agent agent;
  MainForm& form = agent.form;
  HeadlessWindow& w = agent.window;
};

TEST_F(ProgressTest, SizesInDecimalMegabytesWithTheUsersSeparator) {
  agent.sys.decimalSeparator = ",";
  G().RemainingTimeText = "Tempo restante: 12 sec ";
  // An older, longer file under the same name leaves no tail behind.
  agent.fs.Put(form.DownloadPath, std::string(1300000, 'x'));
  const std::string body(1234567, 'b');
  Complete(body);
  EXPECT_EQ(w.Caption(Control::LabelFS), "1,23 Mb");
  const auto& st = History(Control::LabelST);
  ASSERT_EQ(st.size(), 1207u);  // the first text and one per chunk
  EXPECT_EQ(st[0], "0 bytes di 1234567 bytes");
  EXPECT_EQ(st[489], "Tempo restante: 12 sec (0,5 MB di 1,23 MB)");  // 500736 bytes
  EXPECT_EQ(st.back(), "Tempo restante: 12 sec (1,23 MB di 1,23 MB)");
  EXPECT_EQ(agent.fs.Get(form.DownloadPath), body);
}

TEST_F(ProgressTest, BytesAreCountedForTheTimerUpToThirtyTwoBits) {
  const std::string body(5120, 'c');
  // One tick per chunk: the estimates follow the bytes of the last tick.
  w.onPump = [&] { w.Tick(Control::Timer1); };
  Complete(body);
  // First tick: 2048 bytes counted, 4096 of 5120 left.
  EXPECT_EQ(History(Control::Label3).front(), "Tempo previsto: 2 sec");  // 2.5 to even
  EXPECT_EQ(History(Control::LabelST).at(2), "Tempo restante: 2 sec (0 MB di 0.01 MB)");
  EXPECT_EQ(History(Control::Label3).back(), "Tempo previsto: 5 sec");
  EXPECT_EQ(G().RemainingTimeText, "Tempo restante: 0 sec ");

  // Without ticks the count goes past 2^31 - 1: the reading stops there.
  G().BytesSinceTick = 0;
  int pumps = 0;
  w.onPump = [&] {
    if (++pumps == 1) G().BytesSinceTick = INT_MAX - 2048;
  };
  Complete(body);
  EXPECT_EQ(agent.fs.Get(form.DownloadPath).size(), 4096u);
  EXPECT_EQ(G().CancelRequested, vbTrue);
  EXPECT_EQ(G().BytesSinceTick, INT_MAX);
}

TEST_F(ProgressTest, RowPercentageAndTimeEstimatesPerTick) {
  struct Case {
    float max, value;
    std::int32_t bytes;      // since the last tick
    const char* percent;     // the row
    const char* expected;    // Label3 after the tick
    std::int32_t remaining;  // seconds
  } cases[] = {
      {1000000, 524288, 1024, "52%", "Tempo previsto: 977 sec", 465},
      // No bytes since the last tick: both texts stay.
      {1000000, 4999, 0, "0%", "Tempo previsto: 977 sec", 465},
      // Near 99.5 % on files beyond 2^24 bytes the quotient Value / Max is a hair
      // below 0.995 once rounded to single precision, and the percentage then
      // reads 99.49999 ("99%"); kept at a wider precision between the two steps it
      // would read 99.5 ("100%") and mark a partial file as whole.
      {34000544, 33830540, 0, "99%", "Tempo previsto: 977 sec", 465},
      {34000544, 33830544, 0, "100%", "Tempo previsto: 977 sec", 465},
      {8, 1, 3, "13%", "Tempo previsto: 3 sec", 2},
      {1000, 995, 3, "100%", "Tempo previsto: 333 sec", 2},
      {2560, 0, 1024, "0%", "Tempo previsto: 2 sec", 2},
      // Beyond 32 bits: the expected time is shown, the remaining one stays.
      {2147483647.0f, 0, 1, "0%", "Tempo previsto: 2147483648 sec", 2},
      {3584, 3584, 2048, "100%", "Tempo previsto: 2 sec", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " of " + std::to_string(c.max));
    w.SetProgressMax(c.max);
    w.SetProgressValue(c.value);
    form.SetPercent();
    EXPECT_EQ(w.SubItem(1, 2), c.percent);
    G().BytesSinceTick = c.bytes;
    form.Timer1_Timer();
    EXPECT_EQ(w.Caption(Control::Label3), c.expected);
    EXPECT_EQ(form.RemainingSeconds, c.remaining);
    EXPECT_EQ(G().RemainingTimeText, "Tempo restante: " + std::to_string(c.remaining) + " sec ");
    EXPECT_EQ(G().BytesSinceTick, 0);
  }
  // No current row: nothing is written, nothing fails.
  form.CurrentRow = 0;
  w.SetSubItem(1, 2, "x");
  form.SetPercent();
  EXPECT_EQ(w.SubItem(1, 2), "x");
}

}  // namespace
}  // namespace ovlu::test
