// The update run end to end through the headless window: the libcurl
// transfer against the project's test server on loopback, the POSIX file
// layer on real folders, and the apply step putting files in place. The
// run's own logic is covered by the core's tests; these check that it holds
// on real files and real connections.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "Machine.h"
#include "TestServer.h"

namespace ovlu::e2e {
namespace {

class RunTest : public ::testing::Test {
 protected:
  // Publishes a file and gives the list line that fetches it (with query) to dest.
  std::string Line(const std::string& action, const std::string& name, const std::string& content,
                   const std::string& dest, const std::string& query = "") {
    Put(m.Www() + "/file/" + name, content);
    return "<v-" + action + "><s-" + ts.Url("/file/" + name + query) + "><" + dest + ">";
  }
  // A file of the Dati folder, as a plain destination of the list and on disk.
  std::string Dati(const std::string& name) { return m.root + "/Dati\\" + name; }
  std::string OnDisk(const std::string& name) { return m.root + "/Dati/" + name; }
  // Runs an update, answering the question; the code the process ended
  // with, or -1 when the run came back.
  int Run(Agent& a, int answer = vbYes) {
    a.window.answers = {answer};
    try {
      a.window.Click(Control::cmdGET);
      return -1;
    } catch (const ProcessEnded& e) {
      return e.code;
    }
  }
  void ExpectOutcome(Agent& a, bool done) {
    const char* text = done ? "Aggiornamento completato." : "Aggiornamento interrotto. Riprovare.";
    EXPECT_EQ(a.window.Caption(Control::LabelST), text);
    EXPECT_EQ(a.window.Caption(Control::LblMesg), text);
    EXPECT_EQ(a.window.Enabled(Control::cmdGET), !done);
    EXPECT_EQ(m.ListExists(), !done);
  }

  Machine m;
  test::TestServer ts{m.Www() + "/file"};
};

TEST_F(RunTest, EveryFileArrivesWithOneGenerationOfOldCopies) {
  const std::string exe = Pattern(300000, 1), ocx = Pattern(5000, 2), dat = Pattern(70001, 3);
  Put(OnDisk("Tabelle.dat"), "tabelle di ieri");
  Put(OnDisk("Tabelle.dat.old"), "tabelle dell'altro ieri");
  m.WriteList({Line("R", "OrVento.exe", exe, "APPPATH-\\OrVento.exe"),
               Line("S", "Motore.ocx", ocx, "S32PATH-\\Motore.ocx"),
               Line("", "Tabelle.dat", dat, Dati("Tabelle.dat"))});
  Agent a(m);
  EXPECT_EQ(Run(a), -1);

  const std::string product = m.ProductFolder() + "/OrVento.exe";
  const std::string control = m.WindowsFolder() + "/system32/Motore.ocx";
  EXPECT_EQ(Slurp(product), exe);
  EXPECT_EQ(Slurp(product + ".old"), "OrVento 7.0\n");
  EXPECT_EQ(Slurp(control), ocx);
  EXPECT_EQ(Slurp(OnDisk("Tabelle.dat")), dat);
  EXPECT_EQ(Slurp(OnDisk("Tabelle.dat.old")), "tabelle di ieri");
  for (const std::string& gone : {product + ".tmp", product + ".tmp.remove", control + ".old",
                                  control + ".remove", OnDisk("Tabelle.dat.remove")})
    EXPECT_FALSE(Exists(gone)) << gone;
  // The registration is started without waiting; the path is not quoted,
  // so the blank in the Windows folder splits it.
  EXPECT_EQ(WaitForLine(m.root + "/regsvr32.log"),
            "[/s][" + m.root + "/Win][dows\\system32\\Motore.ocx]\n");
  ExpectOutcome(a, true);
}

TEST_F(RunTest, StartedProgramEndsTheRunOutOfSightAndTheListGoes) {
  const std::string log = m.root + "/avvia.log";
  // The row after the program is applied once the window has gone.
  m.WriteList({Line("E", "Avvia.sh", "#!/bin/sh\necho \"ran in $(pwd)\" > '" + log + "'\n",
                    "APPPATH-\\Avvia.sh"),
               Line("", "Leggimi.txt", "Novit\xe0\r\n", "APPPATH-\\Leggimi.txt")});
  Agent a(m);
  EXPECT_EQ(Run(a), 0);
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_FALSE(m.ListExists());
  EXPECT_EQ(Slurp(m.ProductFolder() + "/Leggimi.txt"), "Novit\xe0\r\n");
  // Started by its bare name in the current directory.
  EXPECT_EQ(WaitForLine(log), "ran in " + m.ProductFolder() + "\n");
}

TEST_F(RunTest, OneFileFailingKeepsTheListAndASecondRunRepeatsEverything) {
  const std::string a1 = Pattern(20000, 4), b1 = Pattern(9000, 5), c1 = Pattern(3000, 6);
  for (const std::string query : {"?status=404", "?cut=4000", "?chunked=1"}) {
    SCOPED_TRACE(query);
    std::filesystem::remove_all(m.root + "/Dati");
    Put(OnDisk("b.dat"), "b in place");
    m.WriteList({Line("", "a.dat", a1, Dati("a.dat")), Line("", "b.dat", b1, Dati("b.dat"), query),
                 Line("R", "c.dat", c1, Dati("c.dat"))});
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(run);
      Agent a(m);
      Run(a);
      EXPECT_EQ(Slurp(OnDisk("a.dat")), a1);
      EXPECT_EQ(Slurp(OnDisk("c.dat")), c1);
      EXPECT_EQ(Slurp(OnDisk("b.dat")), "b in place");
      EXPECT_FALSE(Exists(OnDisk("b.dat.old")));
      ExpectOutcome(a, false);
    }
    // The second run fetched everything again and kept the first run's files as ".old".
    EXPECT_EQ(Slurp(OnDisk("a.dat.old")), a1);
    const auto requests = ts.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "GET /file/b.dat" + query), 2);
  }
}

// A missing product program comes back from its ".old" after the first
// record; a read-only ".old" then stops the step before the new file moves
// in, and nothing is lost.
TEST_F(RunTest, ApplyStepOnDiskRestoresTheProductAndStopsAtAReadOnlyOldCopy) {
  const std::string product = m.ProductFolder() + "/OrVento.exe";
  std::filesystem::rename(product, product + ".old");
  Put(OnDisk("x.dat"), "x in place");
  Put(OnDisk("x.dat.old"), "older x");
  chmod(OnDisk("x.dat.old").c_str(), 0444);
  m.WriteList({Line("", "y.dat", "y", Dati("y.dat")), Line("", "x.dat", "new x", Dati("x.dat"))});
  Agent a(m);
  Run(a);
  EXPECT_EQ(Slurp(product), "OrVento 7.0\n");
  EXPECT_EQ(Slurp(OnDisk("y.dat")), "y");
  EXPECT_EQ(Slurp(OnDisk("x.dat")), "x in place");
  EXPECT_EQ(Slurp(OnDisk("x.dat.old")), "older x");
  EXPECT_EQ(Slurp(OnDisk("x.dat.remove")), "new x");
  ExpectOutcome(a, false);
}

// Rows that Windows refuses: a placeholder the agent does not know (its text
// is no folder name) and a drive without a link. They fail and write nothing
// anywhere; an accented name (Windows-1252 in the list) finds its UTF-8 file
// in another case and replaces it, keeping it as ".old".
TEST_F(RunTest, RowsWindowsRefusesFailAndAnAccentedNameIsReplaced) {
  setenv("XDG_CONFIG_HOME", (m.root + "/config").c_str(), 1);  // no drive links
  Put(OnDisk("CAFF\xC3\x88.DAT"), "caff\xC3\xA8 di ieri");
  m.WriteList({Line("R", "y.dat", "y", "TMPPATH-\\y.dat"), Line("", "x.dat", "x", "Q:\\Dati\\x.dat"),
               Line("", "caffe.dat", "nuovo", Dati("Caff\xE8.dat"))});
  const auto tree = [this] {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(m.root))
      if (!e.is_directory())
        files[std::filesystem::relative(e.path(), m.root).string()] = Slurp(e.path().string());
    return files;
  };
  Agent a(m);
  auto expected = tree();
  Run(a);
  expected.erase("Dati/CAFF\xC3\x88.DAT");
  expected["Dati/Caff\xC3\xA8.dat"] = "nuovo";
  expected["Dati/Caff\xC3\xA8.dat.old"] = "caff\xC3\xA8 di ieri";
  EXPECT_EQ(tree(), expected);
  ExpectOutcome(a, false);
}

TEST_F(RunTest, NoToTheQuestionStartsNothingAndCloseThenEndsWithoutAQuestion) {
  m.WriteList({Line("", "y.dat", "y", Dati("y.dat"))});
  Agent a(m);
  EXPECT_EQ(Run(a, vbNo), -1);
  EXPECT_TRUE(ts.Requests().empty());
  EXPECT_TRUE(a.window.Enabled(Control::cmdGET));
  EXPECT_THROW(a.window.Click(Control::CmdChiudi), ProcessEnded);
  EXPECT_EQ(a.window.boxes.size(), 1u);
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_TRUE(m.ListExists());
}

// In a child process, as the agent ends its process for real: No lets the
// run finish, Yes ends it with the list and the partial file left.
TEST_F(RunTest, CloseDuringARun) {
  const std::string body = Pattern(60000, 8);
  for (int answer : {vbNo, vbYes}) {
    SCOPED_TRACE(answer);
    Put(OnDisk("slow.dat"), "slow in place");
    m.WriteList({Line("", "slow.dat", body, Dati("slow.dat"), "?rate=30000")});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      alarm(60);  // a run that hangs ends here
      m.sys.realExit = true;
      Agent a(m);
      bool clicked = false;
      a.window.onIdle = [&] {
        if (clicked || a.window.ProgressValue() < 4096) return;
        clicked = true;
        a.window.Click(Control::CmdChiudi);
      };
      a.window.answers = {vbYes, answer};
      a.window.Click(Control::cmdGET);
      _exit(clicked && a.window.boxes.size() == 2 ? 3 : 4);  // the run came back
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (answer == vbNo) {
      EXPECT_EQ(WEXITSTATUS(status), 3);
      EXPECT_EQ(Slurp(OnDisk("slow.dat")), body);
      EXPECT_FALSE(m.ListExists());
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_TRUE(m.ListExists());
      EXPECT_EQ(Slurp(OnDisk("slow.dat")), "slow in place");
      const std::string partial = Slurp(OnDisk("slow.dat.remove"));
      EXPECT_GE(partial.size(), 4096u);
      EXPECT_LT(partial.size(), body.size());
      EXPECT_EQ(partial, body.substr(0, partial.size()));
    }
  }
}

}  // namespace
}  // namespace ovlu::e2e
