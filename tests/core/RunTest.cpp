// The update run the user starts: confirmation, the download sequence over
// a scripted transfer, the apply step on real files, the outcome, and
// breaking off by closing the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

const char* const kDest = "C:\\Dest";
constexpr std::size_t kNoSource = static_cast<std::size_t>(-1);

struct File {
  std::string action, name;
  std::size_t size;
};

// One start of the agent with a list of files on one server.
struct Bench {
  // A list of files on one server, each served with a body of its size.
  void Start(const std::vector<File>& files) {
    std::vector<std::string> lines;
    for (const File& f : files) {
      const std::string url = "http://srv/u/" + f.name;
      const std::string source = f.size == kNoSource ? "" : "<s-" + url + ">";
      lines.push_back("<v-" + f.action + ">" + source + "<" + kDest + "\\" + f.name + ">");
      if (f.size == kNoSource) continue;
      ScriptedInet::Reply reply;
      for (std::size_t i = 0; i < f.size; ++i) reply.body += static_cast<char>('A' + i % 23);
      a.inet.replies[url] = reply;
    }
    a.WriteList(lines);
    a.fs.Put(a.AppFolder() + "\\OrVento.exe", "product");
    a.fs.MakeFolder(kDest);
    ASSERT_TRUE(a.Start());
  }
  // Clicks cmdGET; false when the process ended during the click.
  bool Go() {
    try {
      w.Click(Control::cmdGET);
      return true;
    } catch (const ProcessEnded& e) {
      EXPECT_EQ(e.code, 0);
      return false;
    }
  }
  std::vector<std::string> Requests() const {
    std::vector<std::string> r;
    for (const std::string& l : a.inet.log)
      if (l.rfind("probe ", 0) == 0 || l.rfind("GET ", 0) == 0) r.push_back(l);
    return r;
  }
  std::string Body(const std::string& name) const { return a.inet.replies.at("http://srv/u/" + name).body; }
  void ExpectOutcome(const char* text, bool listKept) {
    EXPECT_EQ(w.Caption(Control::LabelST), text);
    EXPECT_EQ(w.Caption(Control::LblMesg), text);
    EXPECT_EQ(w.Caption(Control::CmdChiudi), "&Chiudi");
    EXPECT_EQ(w.pointer(), vbDefault);
    EXPECT_EQ(a.fs.Has(a.ListPath()), listKept);
    EXPECT_EQ(w.Enabled(Control::cmdGET), listKept);
    EXPECT_FALSE(w.Enabled(Control::TimerTimeOut));
    EXPECT_FALSE(w.Enabled(Control::Timer1));
  }

  Agent a;
  HeadlessWindow& w = a.window;
};

class RunTest : public ::testing::Test, protected Bench {};

TEST_F(RunTest, NoToTheQuestionStartsNothing) {
  Start({{"S", "a.dll", 100}});
  w.answers = {vbNo};
  ASSERT_TRUE(Go());
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].text, "Avviare l'aggiornamento di OrVento?");
  EXPECT_EQ(w.boxes[0].flags, 68);
  EXPECT_EQ(w.boxes[0].title, "OrVento");
  EXPECT_TRUE(w.pointerHistory.empty());
  EXPECT_TRUE(w.captionHistory[Control::CmdChiudi].empty());
  EXPECT_TRUE(a.inet.log.empty());
  EXPECT_EQ(a.form.SystemDirectory, "");
}

TEST_F(RunTest, EveryFileArrivesAndIsApplied) {
  Start({{"S", "a.dll", 3000}, {"R", "b.dat", 1024}, {"", "c.txt", 10}});
  a.fs.Put(std::string(kDest) + "\\b.dat", "old b");
  ASSERT_TRUE(Go());

  EXPECT_EQ(Requests(), (std::vector<std::string>{
                            "probe http://srv", "GET http://srv/u/a.dll", "probe http://srv",
                            "GET http://srv/u/b.dat", "probe http://srv", "GET http://srv/u/c.txt"}));
  EXPECT_EQ(std::count(a.inet.log.begin(), a.inet.log.end(), "timeout 40"), 3);
  EXPECT_EQ(std::count(a.inet.log.begin(), a.inet.log.end(), "protocol 4"), 3);
  EXPECT_EQ(a.form.SystemDirectory, "C:\\Windows\\system32");
  for (int row = 1; row <= 3; ++row) {
    EXPECT_EQ(w.SubItem(row, 2), "100%") << row;
    EXPECT_EQ(w.RowSmallIcon(row), 1) << row;
  }
  EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\a.dll"), Body("a.dll"));
  EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\b.dat"), Body("b.dat"));
  EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\b.dat.old"), "old b");
  EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\c.txt"), Body("c.txt"));
  ASSERT_EQ(a.sys.shellCalls.size(), 1u);
  EXPECT_EQ(a.sys.shellCalls[0].parameters, "/s C:\\Dest\\a.dll");

  ExpectOutcome("Aggiornamento completato.", false);
  EXPECT_EQ(w.captionHistory[Control::CmdChiudi],
            (std::vector<std::string>{"&Annulla", "&Chiudi"}));
  EXPECT_EQ(w.pointerHistory, (std::vector<int>{vbHourglass, vbDefault}));
  const auto& st = w.captionHistory[Control::LabelST];
  ASSERT_GE(st.size(), 2u);
  EXPECT_EQ(st.end()[-2], "download completato");
  // What the last file left in the labels out of sight.
  EXPECT_EQ(w.Caption(Control::LabelStatus1), "Download del file...\r\nhttp://srv/u/c.txt");
  EXPECT_EQ(w.Caption(Control::LabelFName), "File name: c.txt");
  EXPECT_EQ(w.Caption(Control::LabelDest), "Destination: C:\\Dest\\");
  EXPECT_EQ(w.SelectedRow(), 3);
  EXPECT_EQ(w.timerEnables[Control::TimerTimeOut], 3);
  EXPECT_EQ(w.timerEnables[Control::Timer1], 3);
}

TEST(RunFailureTest, FailedFilesKeepTheListForAnotherRun) {
  const std::vector<std::string> all = {
      "probe http://srv", "GET http://srv/u/a.dll", "probe http://srv",
      "GET http://srv/u/b.dat", "probe http://srv", "GET http://srv/u/c.dat"};
  struct Case {
    const char* name;
    std::size_t sizeB;
    std::function<void(Bench&)> spoil;  // what goes wrong
    std::vector<std::string> requests;
    std::vector<std::string> rows;      // percentages after the run
    int selected;
  } cases[] = {
      {"error state", 4000, [](Bench& b) { b.a.inet.replies["http://srv/u/b.dat"].fails = true; },
       all, {"100%", "0%", "100%"}, 3},
      {"cut short", 4000, [](Bench& b) { b.a.inet.replies["http://srv/u/b.dat"].breakAt = 1500; },
       all, {"100%", "51%", "100%"}, 3},
      {"no length", 4000,
       [](Bench& b) { b.a.inet.replies["http://srv/u/b.dat"].omitLength = true; }, all,
       {"100%", "0%", "100%"}, 3},
      // A progress bar cannot have a maximum of 0: an empty file never arrives.
      {"zero bytes", 0, [](Bench&) {}, all, {"100%", "0%", "100%"}, 3},
      {"server unreachable", 4000, [](Bench& b) { b.a.inet.unreachable.insert("http://srv"); },
       {"probe http://srv"}, {"", "", ""}, 1},
      {"no source", kNoSource, [](Bench&) {}, {"probe http://srv", "GET http://srv/u/a.dll"},
       {"100%", "", ""}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b;
    b.Start({{"", "a.dll", 4000}, {"", "b.dat", c.sizeB}, {"", "c.dat", 2000}});
    c.spoil(b);
    ASSERT_TRUE(b.Go());
    EXPECT_EQ(b.Requests(), c.requests);
    for (int row = 1; row <= 3; ++row) {
      const bool whole = c.rows[static_cast<std::size_t>(row - 1)] == "100%";
      EXPECT_EQ(b.w.SubItem(row, 2), c.rows[static_cast<std::size_t>(row - 1)]) << row;
      EXPECT_EQ(b.w.RowSmallIcon(row), whole ? 1 : 0) << row;
      const std::string name = std::string(kDest) + (row == 1 ? "\\a.dll" : row == 2 ? "\\b.dat" : "\\c.dat");
      EXPECT_EQ(b.a.fs.Has(name), whole) << row;
    }
    EXPECT_FALSE(b.a.fs.Has(std::string(kDest) + "\\b.dat"));
    EXPECT_EQ(b.w.SelectedRow(), c.selected);
    b.ExpectOutcome("Aggiornamento interrotto. Riprovare.", true);

    // Another click asks again and repeats the whole run.
    ASSERT_TRUE(b.Go());
    EXPECT_EQ(b.w.boxes.size(), 2u);
    std::vector<std::string> twice = c.requests;
    twice.insert(twice.end(), c.requests.begin(), c.requests.end());
    EXPECT_EQ(b.Requests(), twice);
    b.ExpectOutcome("Aggiornamento interrotto. Riprovare.", true);
  }
}

TEST_F(RunTest, FlagOfAFailedFileIsClearedByTheNextOne) {
  // Only the rows tell which files arrived: the transfer's flag follows the
  // last file read.
  Start({{"", "a.dll", 2000}, {"", "b.dat", 2000}});
  a.inet.replies["http://srv/u/a.dll"].fails = true;
  ASSERT_TRUE(Go());
  const auto& st = w.captionHistory[Control::LabelST];
  EXPECT_NE(std::find(st.begin(), st.end(), "download completato"), st.end());
  ExpectOutcome("Aggiornamento interrotto. Riprovare.", true);

  Bench last;
  last.Start({{"", "a.dll", 2000}, {"", "b.dat", 2000}});
  last.a.inet.replies["http://srv/u/b.dat"].fails = true;
  ASSERT_TRUE(last.Go());
  const auto& st2 = last.w.captionHistory[Control::LabelST];
  EXPECT_NE(std::find(st2.begin(), st2.end(), "download interrotto"), st2.end());
  last.ExpectOutcome("Aggiornamento interrotto. Riprovare.", true);
}

TEST_F(RunTest, CloseWhileIdleEndsWithoutAQuestion) {
  Start({{"", "a.dll", 100}});
  EXPECT_THROW(w.Click(Control::CmdChiudi), ProcessEnded);
  EXPECT_TRUE(w.boxes.empty());
  EXPECT_FALSE(w.Loaded());
  EXPECT_TRUE(a.fs.Has(a.ListPath()));
}

TEST_F(RunTest, CloseDuringTheRun) {
  struct Case {
    const char* name;
    bool closeBox;
    int answer;
    bool ends;
  } cases[] = {
      {"answer no", false, vbNo, false},
      {"answer yes", false, vbYes, true},
      {"close box", true, vbNo, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b;
    b.Start({{"", "a.dll", 5000}, {"", "b.dat", 100}});
    b.w.answers = {vbYes, c.answer};
    bool closed = false;
    // While the first body is being read.
    b.w.onIdle = [&] {
      if (closed || b.a.inet.raised.empty() || b.a.inet.raised.back() != icResponseCompleted) return;
      closed = true;
      if (c.closeBox)
        b.w.PressCloseBox();
      else
        b.w.Click(Control::CmdChiudi);
    };
    EXPECT_EQ(b.Go(), !c.ends);
    EXPECT_TRUE(closed);
    if (!c.closeBox) {
      ASSERT_EQ(b.w.boxes.size(), 2u);
      EXPECT_EQ(b.w.boxes[1].text, "Interrompre l'aggiornamento?");
      EXPECT_EQ(b.w.boxes[1].flags, 68);
      EXPECT_EQ(b.w.boxes[1].title, "OrVento");
    } else {
      EXPECT_EQ(b.w.boxes.size(), 1u);
    }
    if (c.ends) {
      // Nothing is undone: the list stays, the file as far as it got.
      EXPECT_FALSE(b.w.Loaded());
      EXPECT_TRUE(b.a.fs.Has(b.a.ListPath()));
      EXPECT_EQ(b.a.fs.Get(std::string(kDest) + "\\a.dll.remove"), b.Body("a.dll").substr(0, 1024));
      EXPECT_FALSE(b.a.fs.Has(std::string(kDest) + "\\a.dll"));
      EXPECT_EQ(G().CancelRequested, vbTrue);
    } else {
      b.ExpectOutcome("Aggiornamento completato.", false);
      EXPECT_EQ(b.a.fs.Get(std::string(kDest) + "\\a.dll"), b.Body("a.dll"));
    }
  }
}

TEST_F(RunTest, AClickDuringTheRunStartsNoOther) {
  Start({{"", "a.dll", 3000}});
  bool clicked = false;
  w.onIdle = [&] {
    if (clicked || a.inet.raised.empty()) return;
    clicked = true;
    w.Click(Control::cmdGET);
  };
  ASSERT_TRUE(Go());
  EXPECT_TRUE(clicked);
  EXPECT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(Requests().size(), 2u);
  ExpectOutcome("Aggiornamento completato.", false);
}

TEST_F(RunTest, OpenedProgramEndsTheRunOutOfSight) {
  Start({{"E", "Setup.exe", 1500}, {"", "b.dat", 700}});
  EXPECT_FALSE(Go());
  ASSERT_EQ(a.sys.shellCalls.size(), 1u);
  EXPECT_EQ(a.sys.shellCalls[0].file, "Setup.exe");
  EXPECT_FALSE(w.Loaded());
  EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\Setup.exe"), Body("Setup.exe"));
  EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\b.dat"), Body("b.dat"));
  EXPECT_EQ(G().CancelRequested, vbFalse);
  EXPECT_FALSE(a.fs.Has(a.ListPath()));
}

}  // namespace
}  // namespace ovlu::test
