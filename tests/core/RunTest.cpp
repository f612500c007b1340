// The update run the user starts: confirmation, the download sequence over
// a scripted transfer, the apply step on real files, the outcome, and
// breaking off by closing the program.
#include <gtest/gtest.h>

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
  // The rows' percentages and check marks, "100%:1" each.
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int row = 1; row <= w.RowCount(); ++row)
      rows.push_back(w.SubItem(row, 2) + ":" + std::to_string(w.RowSmallIcon(row)));
    return rows;
  }
  std::string Dest(const std::string& name) const {
    return a.fs.Get(std::string(kDest) + "\\" + name);
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
  EXPECT_TRUE(w.pointerHistory.empty());
  EXPECT_TRUE(a.inet.log.empty());
  EXPECT_TRUE(a.fs.Has(a.ListPath()));
}

TEST_F(RunTest, EveryFileArrivesAndIsApplied) {
  Start({{"S", "a.dll", 3000}, {"R", "b.dat", 1024}, {"", "c.txt", 10}});
  a.fs.Put(std::string(kDest) + "\\b.dat", "old b");
  ASSERT_TRUE(Go());

  // Each file: a probe of its server, then the request with its settings.
  std::vector<std::string> expected;
  for (const char* name : {"a.dll", "b.dat", "c.txt"})
    for (const std::string& l :
         {std::string("probe http://srv"), std::string("timeout 40"), std::string("protocol 4"),
          "GET http://srv/u/" + std::string(name)})
      expected.push_back(l);
  EXPECT_EQ(a.inet.log, expected);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"100%:1", "100%:1", "100%:1"}));
  EXPECT_EQ(Dest("a.dll"), Body("a.dll"));
  EXPECT_EQ(Dest("b.dat"), Body("b.dat"));
  EXPECT_EQ(Dest("b.dat.old"), "old b");
  EXPECT_EQ(Dest("c.txt"), Body("c.txt"));
  ASSERT_EQ(a.sys.shellCalls.size(), 1u);
  EXPECT_EQ(a.sys.shellCalls[0].parameters, "/s C:\\Dest\\a.dll");

  ExpectOutcome(true);
  EXPECT_EQ(w.captionHistory[Control::CmdChiudi],
            (std::vector<std::string>{"&Annulla", "&Chiudi"}));
  EXPECT_EQ(w.pointerHistory, (std::vector<int>{vbHourglass, vbDefault}));
}

TEST(RunFailureTest, FailedFilesKeepTheListForAnotherRun) {
  const std::vector<std::string> all = {"probe http://srv", "GET http://srv/u/a.dll",
                                        "probe http://srv", "GET http://srv/u/b.dat",
                                        "probe http://srv", "GET http://srv/u/c.dat"};
  struct Case {
    const char* name;
    std::function<void(ScriptedInet&)> spoil;  // what goes wrong
    std::size_t sizeB;
    std::vector<std::string> requests;
    std::vector<std::string> rows;
  } cases[] = {
      {"error state",
       [](ScriptedInet& n) { n.replies["http://srv/u/b.dat"].fails = true; },
       4000,
       all,
       {"100%:1", "0%:0", "100%:1"}},
      {"cut short",
       [](ScriptedInet& n) { n.replies["http://srv/u/b.dat"].breakAt = 1500; },
       4000,
       all,
       {"100%:1", "51%:0", "100%:1"}},
      // A progress bar cannot have a maximum of 0: an empty file never arrives.
      {"zero bytes", [](ScriptedInet&) {}, 0, all, {"100%:1", "0%:0", "100%:1"}},
      {"server unreachable",
       [](ScriptedInet& n) { n.unreachable.insert("http://srv"); },
       4000,
       {"probe http://srv"},
       {":0", ":0", ":0"}},
      // A record without a source ends the downloads.
      {"no source", [](ScriptedInet&) {}, kNoSource, {all[0], all[1]}, {"100%:1", ":0", ":0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b;
    b.Start({{"", "a.dll", 4000}, {"", "b.dat", c.sizeB}, {"", "c.dat", 2000}});
    c.spoil(b.a.inet);
    ASSERT_TRUE(b.Go());
    EXPECT_EQ(b.Requests(), c.requests);
    EXPECT_EQ(b.Rows(), c.rows);
    EXPECT_EQ(b.Dest("a.dll").empty(), c.rows[0] != "100%:1");
    EXPECT_EQ(b.Dest("c.dat").empty(), c.rows[2] != "100%:1");
    EXPECT_FALSE(b.a.fs.Has(std::string(kDest) + "\\b.dat"));
    b.ExpectOutcome(false);

    // Another click asks again and repeats the whole run.
    ASSERT_TRUE(b.Go());
    EXPECT_EQ(b.w.boxes.size(), 2u);
    EXPECT_EQ(b.Requests().size(), 2 * c.requests.size());
    b.ExpectOutcome(false);
  }
}

TEST(RunFailureTest, OnlyTheRowsTellWhichFilesArrived) {
  // The transfer's flag follows the last file read, whichever failed.
  for (const char* failed : {"a.dll", "b.dat"}) {
    SCOPED_TRACE(failed);
    Bench b;
    b.Start({{"", "a.dll", 2000}, {"", "b.dat", 2000}});
    b.a.inet.replies[std::string("http://srv/u/") + failed].fails = true;
    ASSERT_TRUE(b.Go());
    b.ExpectOutcome(false);
  }
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
      if (closed || b.a.inet.raised.empty() || b.a.inet.raised.back() != icResponseCompleted)
        return;
      closed = true;
      if (c.closeBox)
        b.w.PressCloseBox();
      else
        b.w.Click(Control::CmdChiudi);
    };
    EXPECT_EQ(b.Go(), !c.ends);
    EXPECT_TRUE(closed);
    // The close box asks nothing.
    EXPECT_EQ(b.w.boxes.back().text,
              c.closeBox ? "Avviare l'aggiornamento di OrVento?" : "Interrompre l'aggiornamento?");
    if (c.ends) {
      // Nothing is undone: the list stays, the file as far as it got.
      EXPECT_FALSE(b.w.Loaded());
      EXPECT_TRUE(b.a.fs.Has(b.a.ListPath()));
      EXPECT_EQ(b.Dest("a.dll.remove"), b.Body("a.dll").substr(0, 1024));
      EXPECT_FALSE(b.a.fs.Has(std::string(kDest) + "\\a.dll"));
      EXPECT_EQ(G().CancelRequested, vbTrue);
    } else {
      b.ExpectOutcome(true);
      EXPECT_EQ(b.Dest("a.dll"), b.Body("a.dll"));
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
  ExpectOutcome(true);
}

TEST_F(RunTest, OpenedProgramEndsTheRunOutOfSight) {
  Start({{"E", "Setup.exe", 1500}, {"", "b.dat", 700}});
  EXPECT_FALSE(Go());
  ASSERT_EQ(a.sys.shellCalls.size(), 1u);
  EXPECT_EQ(a.sys.shellCalls[0].file, "Setup.exe");
  EXPECT_FALSE(w.Loaded());
  EXPECT_EQ(Dest("Setup.exe"), Body("Setup.exe"));
  EXPECT_EQ(Dest("b.dat"), Body("b.dat"));
  EXPECT_EQ(G().CancelRequested, vbFalse);
  EXPECT_FALSE(a.fs.Has(a.ListPath()));
}

}  // namespace
}  // namespace ovlu::test
