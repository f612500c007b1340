// The update run the user starts: confirmation, the download sequence over
// a scripted transfer, the apply step on real files, the outcome, and
// breaking off by closing the program.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/core/Agent.h"
#include "tests/support/TestSupport.h"

namespace ovlu::test {
namespace {

constexpr std::size_t kNoSource = static_cast<std::size_t>(-1);

struct File {
  std::string action, name;
  std::size_t size;
};

// One start of the agent with a list of files on one server, each served
// with a body of its size.
struct Bench {
  void Start(const std::vector<File>& files) {
    std::vector<std::string> lines;
    for (const File& f : files) {
      if (f.size == kNoSource) {
        lines.push_back("<v-" + f.action + "><" + kDest + "\\" + f.name + ">");
        continue;
      }
      lines.push_back(Line(f.action, f.name));
      a.inet.replies["http://srv/u/" + f.name].body = support::Pattern(f.size);
    }
    ASSERT_TRUE(a.Start(lines));
  }
  // The probes and requests made so far.
  std::size_t Requests() const { return a.inet.log.size(); }
  std::string Body(const std::string& name) const {
    return a.inet.replies.at("http://srv/u/" + name).body;
  }
  // The end of a run: done (the list is gone) or broken off (kept for another).
  void ExpectOutcome(bool done) {
    const char* text = done ? "Aggiornamento completato." : "Aggiornamento interrotto. Riprovare.";
    EXPECT_EQ(w.Caption(Control::LabelST), text);
    EXPECT_EQ(w.Caption(Control::LblMesg), text);
    EXPECT_EQ(w.Caption(Control::CmdChiudi), "&Chiudi");
    EXPECT_EQ(w.pointer(), vbDefault);
    EXPECT_EQ(a.fs.Has(a.ListPath()), !done);
    EXPECT_EQ(w.Enabled(Control::cmdGET), !done);
    EXPECT_FALSE(w.Enabled(Control::TimerTimeOut));
    EXPECT_FALSE(w.Enabled(Control::Timer1));
  }

  Agent a;
  HeadlessWindow& w = a.window;
};

class RunTest : public ::testing::Test, protected Bench {};

TEST_F(RunTest, EveryFileArrivesAndIsApplied) {
  Start({{"S", "a.dll", 3000}, {"R", "b.dat", 1024}, {"", "c.txt", 10}});
  a.sys.systemDirectory = "D:\\System";
  // No to the question starts nothing; the next click asks again.
  w.answers = {vbNo, vbYes};
  ASSERT_TRUE(a.Go());
  ASSERT_TRUE(a.Go());
  EXPECT_EQ(w.boxes.at(1).flags, 68);
  ASSERT_EQ(a.sys.shellCalls.size(), 1u);
  EXPECT_EQ(a.sys.shellCalls[0].file, "D:\\System\\regsvr32.exe");

  // Each file: a probe of its server, then the request with a time-out of 40 s.
  EXPECT_EQ(a.inet.log, (std::vector<std::string>{"http://srv 60", "http://srv/u/a.dll 40",
                                                  "http://srv 40", "http://srv/u/b.dat 40",
                                                  "http://srv 40", "http://srv/u/c.txt 40"}));
  EXPECT_EQ(a.Rows(), (std::vector<std::string>{"100%:1", "100%:1", "100%:1"}));
  // The first probe's states as the user reads them; a received answer shows nothing.
  const auto& texts = w.captionHistory[Control::LblMesg];
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 9),
            (std::vector<std::string>{" Verifica disponibilit\xE0 del server.",
                                      " Server contattato.", " Connessione in corso.",
                                      " Connesso al server.", " Affettuata la richiesta al server.",
                                      " Attesa di risposta dal server.", " Ricezione i dati.",
                                      " Disconnessione in corso.", " Disconnesso dal server."}));
  for (const char* name : {"a.dll", "b.dat", "c.txt"}) EXPECT_EQ(a.Dest(name), Body(name)) << name;

  ExpectOutcome(true);
  EXPECT_EQ(w.captionHistory[Control::CmdChiudi],
            (std::vector<std::string>{"&Annulla", "&Chiudi"}));
  EXPECT_EQ(w.pointerHistory, (std::vector<int>{vbHourglass, vbDefault}));
  // Once idle, Chiudi ends the program without a question.
  EXPECT_THROW(w.Click(Control::CmdChiudi), ProcessEnded);
  EXPECT_EQ(w.boxes.size(), 2u);
}

TEST(RunFailureTest, FailedFilesKeepTheListForAnotherRun) {
  struct Case {
    const char* name;
    std::size_t sizeB;
    const char* fails;  // the file whose request fails, or nullptr
    bool unreachable;   // the server's name is not found
    std::size_t requests;
    std::vector<std::string> rows;
  } cases[] = {
      {"error state midway", 4000, "b.dat", false, 6, {"100%:1", "0%:0", "100%:1"}},
      // The error state's flag outlasts the downloads: nothing is applied.
      {"error state last", 4000, "c.dat", false, 6, {"100%:0", "100%:0", "0%:0"}},
      // The name lookup alone marks the row.
      {"unreachable", 4000, nullptr, true, 1, {"Server non disponibile.:0", ":0", ":0"}},
      // A record without a source ends the downloads.
      {"no source", kNoSource, nullptr, false, 2, {"100%:1", ":0", ":0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b;
    b.Start({{"", "a.dll", 4000}, {"", "b.dat", c.sizeB}, {"", "c.dat", 2000}});
    if (c.fails) b.a.inet.replies["http://srv/u/" + std::string(c.fails)].fails = true;
    if (c.unreachable) b.a.inet.unreachable.insert("http://srv");
    ASSERT_TRUE(b.a.Go());
    EXPECT_EQ(b.Requests(), c.requests);
    EXPECT_EQ(b.a.Rows(), c.rows);
    EXPECT_FALSE(b.a.fs.Has(kDest + "\\b.dat"));
    const auto& texts = b.w.captionHistory[Control::LblMesg];
    EXPECT_EQ(std::count(texts.begin(), texts.end(),
                         " Si sono verificati degli errori durante la ricezione dei dati."),
              c.fails != nullptr);
    b.ExpectOutcome(false);

    // Another click asks again and repeats the whole run.
    ASSERT_TRUE(b.a.Go());
    EXPECT_EQ(b.w.boxes.size(), 2u);
    EXPECT_EQ(b.Requests(), 2 * c.requests);
    b.ExpectOutcome(false);
  }
}

// A click during the run: while the first body is being read (Timer1 runs),
// or while its answer has not come yet. The box stays open for a while, as
// a person takes time to answer.
TEST(RunCloseTest, ClicksDuringTheRun) {
  enum What { kChiudi, kCloseBox, kStart };
  struct Case {
    const char* name;
    What click;
    bool beforeAnswer;  // the server answers only once the box is open
    int answer;
    bool ends;
    std::size_t boxes;
  } cases[] = {{"Chiudi, answer no", kChiudi, false, vbNo, false, 2},
               {"Chiudi, answer yes", kChiudi, false, vbYes, true, 2},
               {"answer arrives during the box, no", kChiudi, true, vbNo, false, 2},
               {"answer arrives during the box, yes", kChiudi, true, vbYes, true, 2},
               {"the close box asks nothing", kCloseBox, false, vbNo, true, 1},
               {"start again starts no other run", kStart, false, vbYes, false, 1}};
  const std::string partial = kDest + "\\a.dll.remove";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b;
    b.Start({{"", "a.dll", 40000}, {"", "b.dat", 100}});
    ScriptedInet::Reply& reply = b.a.inet.replies["http://srv/u/a.dll"];
    reply.perMs = 1000;  // the body takes some 40 ms
    reply.held = c.beforeAnswer;
    b.w.answers = {vbYes, c.answer};
    b.w.boxHold = std::chrono::milliseconds(30);
    bool clicked = false;
    std::size_t writtenAtClick = 0;  // of the file being received
    b.w.onIdle = [&] {
      const bool due = c.beforeAnswer ? b.Requests() == 2 : b.w.Enabled(Control::Timer1);
      if (clicked || !due) return;
      clicked = true;
      writtenAtClick = b.a.fs.Get(partial).size();
      if (c.click == kCloseBox)
        b.w.PressCloseBox();
      else
        b.w.Click(c.click == kStart ? Control::cmdGET : Control::CmdChiudi);
    };
    // What had arrived when the question came up.
    std::size_t sentAtBox = 0;
    b.w.onBox = [&](const HeadlessWindow::Box& box) {
      if (box.text != "Interrompre l'aggiornamento?") return;
      reply.held = false;
      sentAtBox = b.a.inet.bodySent;
    };
    EXPECT_EQ(b.a.Go(), !c.ends);
    EXPECT_TRUE(clicked);
    ASSERT_EQ(b.w.boxes.size(), c.boxes);
    EXPECT_EQ(b.w.boxes.back().text, c.boxes == 2 ? "Interrompre l'aggiornamento?"
                                                  : "Avviare l'aggiornamento di OrVento?");
    if (c.ends) {
      // Nothing is undone: the list stays, the file as far as it got at
      // the click; nothing of the body is read after Yes.
      EXPECT_FALSE(b.w.Loaded());
      EXPECT_TRUE(b.a.fs.Has(b.a.ListPath()));
      EXPECT_EQ(b.a.fs.Get(partial).size(), writtenAtClick);
      EXPECT_TRUE(b.a.fs.Get(partial) == b.Body("a.dll").substr(0, writtenAtClick));
      // A body under way leaves its flag raised; an answer never read, none.
      EXPECT_EQ(G().CancelRequested, c.beforeAnswer ? vbFalse : vbTrue);
    } else {
      b.ExpectOutcome(true);
      EXPECT_EQ(b.Requests(), 4u);
      EXPECT_EQ(b.a.Dest("a.dll"), b.Body("a.dll"));
    }
    // While the question was open, the body kept coming.
    if (c.boxes == 2) {
      EXPECT_GT(b.a.inet.bodySent, sentAtBox);
    }
  }
}

}  // namespace
}  // namespace ovlu::test
