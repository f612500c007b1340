// What only real files and processes show, through the headless window with
// the libcurl transfer against the project's test server on loopback: a
// program the run starts, a read-only ".old" on disk, and the rows the Linux
// file layer refuses or matches by another spelling. The run's logic is
// tested on the core; the whole path through the real window is
// acceptance.sh.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
  m.WriteList({Line("R", "y.dat", "y", "TMPPATH-\\y.dat"),
               Line("", "x.dat", "x", "Q:\\Dati\\x.dat"),
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

}  // namespace
}  // namespace ovlu::e2e
