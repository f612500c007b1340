// The transfer's state texts, the reading of a body in chunks, the row's
// percentage and the time estimates.
#include <gtest/gtest.h>

#include <climits>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent.WriteList({"<v-S><s-http://srv/u/a.dll><APPPATH-\\a.dll>"});
    ASSERT_TRUE(agent.Start());
    form.CurrentRow = 1;
    form.DownloadPath = agent.AppFolder() + "\\a.dll.remove";
    // The tests below raise the completion themselves.
    w.onPump = nullptr;
  }
  // Reads a reply as the completion of a request does.
  void Complete(const ScriptedInet::Reply& reply) {
    agent.inet.Serve(reply);
    form.Inet1_StateChanged(icResponseCompleted);
  }
  std::vector<std::string>& History(Control c) { return w.captionHistory[c]; }

  Agent agent;
  MainForm& form = agent.form;
  HeadlessWindow& w = agent.window;
};

TEST_F(ProgressTest, StateTexts) {
  struct Case {
    std::int16_t state;
    const char* text;  // nullptr: nothing changes
  } cases[] = {
      {icResolvingHost, " Verifica disponibilit\xE0 del server."},
      {icHostResolved, " Server contattato."},
      {icConnecting, " Connessione in corso."},
      {icConnected, " Connesso al server."},
      {icRequesting, " Affettuata la richiesta al server."},
      {icRequestSent, " Attesa di risposta dal server."},
      {icReceivingResponse, " Ricezione i dati."},
      {icDisconnecting, " Disconnessione in corso."},
      {icDisconnected, " Disconnesso dal server."},
      {icError, " Si sono verificati degli errori durante la ricezione dei dati."},
      {icNone, nullptr},
      {icResponseReceived, nullptr},
      {13, nullptr},
      {-1, nullptr},
  };
  for (const Case& c : cases) {
    G().CancelRequested = vbFalse;
    w.SetCaption(Control::LblMesg, "before");
    w.SetSubItem(1, 2, "7%");
    form.Inet1_StateChanged(c.state);
    EXPECT_EQ(w.Caption(Control::LblMesg), c.text ? c.text : "before") << c.state;
    EXPECT_EQ(w.SubItem(1, 2), c.state == icResolvingHost ? "Server non disponibile." : "7%")
        << c.state;
    EXPECT_EQ(G().CancelRequested, c.state == icError ? vbTrue : vbFalse) << c.state;
  }
}

TEST_F(ProgressTest, BodiesAreReadInChunksOf1024) {
  struct Case {
    const char* name;
    std::string length;  // Content-Length; "-" for none
    std::size_t body;
    std::size_t piece;
    std::size_t breakAt;
    std::vector<float> values;  // the bar at each event pump, one per chunk read
    float last;                 // the bar at the end
    std::size_t written;        // bytes in the file; npos for no file
    VbBool cancel;              // CancelRequested after, True before
    const char* percent;
  } cases[] = {
      {"two chunks", "2048", 2048, 1024, ScriptedInet::kWhole, {1024, 2048}, 2048, 2048, vbFalse,
       "100%"},
      {"short body", "2500", 2000, 1024, ScriptedInet::kWhole, {1024, 2048}, 2048, 2000, vbFalse,
       "82%"},
      {"long body", "2500", 3000, 1024, ScriptedInet::kWhole, {1024, 2048, 2500}, 2500, 3000,
       vbFalse, "100%"},
      {"small pieces", "1000", 1000, 100, ScriptedInet::kWhole, std::vector<float>(10, 1000), 1000,
       1000, vbFalse, "100%"},
      {"empty body", "5", 0, 1024, ScriptedInet::kWhole, {5}, 5, 0, vbFalse, "100%"},
      {"cut short", "4000", 4000, 1024, 1500, {1024}, 2048, 1500, vbTrue, "51%"},
      {"no length", "-", 10, 1024, ScriptedInet::kWhole, {}, 0, std::string::npos, vbTrue, "0%"},
      {"bad length", "12a", 10, 1024, ScriptedInet::kWhole, {}, 0, std::string::npos, vbTrue, "0%"},
      {"beyond 32 bits", "2147483648", 10, 1024, ScriptedInet::kWhole, {}, 0, std::string::npos,
       vbTrue, "0%"},
      // A progress bar cannot have a maximum of 0: a file of no bytes is
      // never read, so its row never reaches 100%.
      {"zero bytes", "0", 0, 1024, ScriptedInet::kWhole, {}, 0, std::string::npos, vbTrue, "0%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (agent.fs.Has(form.DownloadPath)) agent.fs.Delete(form.DownloadPath);
    w.SetProgressValue(0);
    G().CancelRequested = vbTrue;
    const int enables = w.timerEnables[Control::Timer1];
    std::vector<float> values;
    w.onPump = [&] { values.push_back(w.ProgressValue()); };

    ScriptedInet::Reply reply;
    for (std::size_t i = 0; i < c.body; ++i) reply.body += static_cast<char>('a' + i % 26);
    if (c.length == "-")
      reply.omitLength = true;
    else
      reply.headers["Content-Length"] = c.length;
    reply.piece = c.piece;
    reply.breakAt = c.breakAt;
    Complete(reply);
    form.SetPercent();

    EXPECT_EQ(values, c.values);
    EXPECT_EQ(w.ProgressValue(), c.last);
    if (c.written == std::string::npos) {
      EXPECT_FALSE(agent.fs.Has(form.DownloadPath));
    } else {
      EXPECT_EQ(agent.fs.Get(form.DownloadPath), reply.body.substr(0, c.written));
    }
    EXPECT_EQ(G().CancelRequested, c.cancel);
    EXPECT_EQ(w.SubItem(1, 2), c.percent);
    EXPECT_EQ(History(Control::LblMesg).end()[-2], "Download...");
    EXPECT_EQ(w.Caption(Control::LblMesg), "Download completato.");
    EXPECT_EQ(w.timerEnables[Control::Timer1], enables + 1);
    EXPECT_FALSE(w.Enabled(Control::Timer1));
  }
}

TEST_F(ProgressTest, SizesInDecimalMegabytesWithTheUsersSeparator) {
  for (const char* sep : {",", "."}) {
    SCOPED_TRACE(sep);
    agent.sys.decimalSeparator = sep;
    G().RemainingTimeText = "Tempo restante: 12 sec ";
    History(Control::LabelST).clear();
    // An older, longer file under the same name leaves no tail behind.
    agent.fs.Put(form.DownloadPath, std::string(1300000, 'x'));
    ScriptedInet::Reply reply;
    reply.body = std::string(1234567, 'b');
    Complete(reply);
    const std::string s = sep;
    EXPECT_EQ(w.Caption(Control::LabelFS), "1" + s + "23 Mb");
    const auto& st = History(Control::LabelST);
    ASSERT_EQ(st.size(), 1207u);  // the first text and one per chunk
    EXPECT_EQ(st[0], "0 bytes di 1234567 bytes");
    EXPECT_EQ(st[1], "Tempo restante: 12 sec (0 MB di 1" + s + "23 MB)");
    EXPECT_EQ(st[489], "Tempo restante: 12 sec (0" + s + "5 MB di 1" + s + "23 MB)");  // 500736
    EXPECT_EQ(st.back(), "Tempo restante: 12 sec (1" + s + "23 MB di 1" + s + "23 MB)");
    EXPECT_EQ(agent.fs.Get(form.DownloadPath), reply.body);
  }
}

TEST_F(ProgressTest, BytesAreCountedForTheTimerUpToThirtyTwoBits) {
  ScriptedInet::Reply reply;
  reply.body = std::string(5120, 'c');
  // One tick per chunk: the estimates follow the bytes of the last tick.
  w.onPump = [&] { w.Tick(Control::Timer1); };
  Complete(reply);
  const auto& st = History(Control::LabelST);
  ASSERT_GE(st.size(), 3u);
  EXPECT_EQ(st[1], "(0 MB di 0.01 MB)");
  // First tick: 2048 bytes counted, 4096 of 5120 left.
  EXPECT_EQ(History(Control::Label3).front(), "Tempo previsto: 2 sec");  // 2.5 to even
  EXPECT_EQ(st[2], "Tempo restante: 2 sec (0 MB di 0.01 MB)");
  EXPECT_EQ(History(Control::Label3).back(), "Tempo previsto: 5 sec");
  EXPECT_EQ(G().RemainingTimeText, "Tempo restante: 0 sec ");

  // Without ticks the count goes past 2^31 - 1: the reading stops there.
  G().BytesSinceTick = 0;
  int pumps = 0;
  w.onPump = [&] {
    if (++pumps == 1) G().BytesSinceTick = INT_MAX - 2048;
  };
  Complete(reply);
  EXPECT_EQ(agent.fs.Get(form.DownloadPath).size(), 4096u);
  EXPECT_EQ(G().CancelRequested, vbTrue);
  EXPECT_EQ(G().BytesSinceTick, INT_MAX);
}

TEST_F(ProgressTest, RowPercentage) {
  struct Case {
    float max, value;
    const char* text;
  } cases[] = {
      {100, 0, "0%"},          {1000000, 4999, "0%"},    {1000, 5, "1%"},
      {8, 1, "13%"},           {2500, 2048, "82%"},      {1000, 994, "99%"},
      {1000, 995, "100%"},     {1000000, 524288, "52%"}, {2500, 2500, "100%"},
      {2147483647.0f, 1024, "0%"},
  };
  for (const Case& c : cases) {
    w.SetProgressMax(c.max);
    w.SetProgressValue(c.value);
    form.SetPercent();
    EXPECT_EQ(w.SubItem(1, 2), c.text) << c.value << " of " << c.max;
  }
  // No current row: nothing is written, nothing fails.
  form.CurrentRow = 0;
  w.SetSubItem(1, 2, "x");
  form.SetPercent();
  EXPECT_EQ(w.SubItem(1, 2), "x");
}

TEST_F(ProgressTest, TimeEstimatesPerTick) {
  struct Tick {
    float max, value;
    std::int32_t bytes;
    const char* expected;   // Label3 after the tick
    std::int32_t remaining;
  } ticks[] = {
      {1000000, 524288, 1024, "Tempo previsto: 977 sec", 465},
      // No bytes since the last tick: both texts stay.
      {1000000, 600000, 0, "Tempo previsto: 977 sec", 465},
      {2560, 0, 1024, "Tempo previsto: 2 sec", 2},
      {3584, 0, 1024, "Tempo previsto: 4 sec", 4},
      {3584, 3584, 2048, "Tempo previsto: 2 sec", 0},
      // Beyond 32 bits: the expected time is shown, the remaining one stays.
      {2147483647.0f, 0, 1, "Tempo previsto: 2147483648 sec", 0},
      {1000, 0, 3, "Tempo previsto: 333 sec", 333},
  };
  for (const Tick& t : ticks) {
    w.SetProgressMax(t.max);
    w.SetProgressValue(t.value);
    G().BytesSinceTick = t.bytes;
    form.Timer1_Timer();
    EXPECT_EQ(w.Caption(Control::Label3), t.expected) << t.max << " " << t.bytes;
    EXPECT_EQ(form.RemainingSeconds, t.remaining) << t.max << " " << t.bytes;
    EXPECT_EQ(G().RemainingTimeText, "Tempo restante: " + std::to_string(t.remaining) + " sec ");
    EXPECT_EQ(G().BytesSinceTick, 0);
  }
}

}  // namespace
}  // namespace ovlu::test
