// What only real files and processes show, through the headless window with
// the libcurl transfer against the project's test server on loopback: a
// program the run starts, and a failing run on disk (rows the Linux file
// layer refuses or matches by another spelling, a read-only ".old"). The run's logic is
// tested on the core; the whole path through the real window is
// acceptance.sh.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "ports/headless/HeadlessWindow.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"
#include "shell/MainForm.h"
#include "tests/core/TestHost.h"
#include "tests/support/TestSupport.h"

namespace ovlu::e2e {
namespace {

using support::Put;
using support::Slurp;
using test::ProcessEnded;
namespace fsys = std::filesystem;

// The POSIX system with the agent installed in the product folder; ending
// the process throws ProcessEnded.
struct AgentSystem : PosixSystem {
  explicit AgentSystem(std::string path) : PosixSystem(0, nullptr), appPath(std::move(path)) {}
  std::string AppPath() override { return appPath; }
  std::string AppExeName() override { return "OVLiveUpdate"; }
  [[noreturn]] void EndProcess(int code) override { throw ProcessEnded(code); }
  std::string appPath;
};

// A small Windows machine on disk: the product's data folder under the
// all-users documents, the product's own folder (the agent beside
// OrVento.exe), a Windows folder, a Dati folder for plain destinations and a
// folder of its own on the test server. The environment points the agent there.
struct Machine {
  Machine() {
    for (const auto& folder : {DataFolder(), root + "/Win dows", root + "/Dati"})
      fsys::create_directories(folder);
    Put(ProductFolder() + "/OrVento.exe", "OrVento 7.0\n");
    setenv("PUBLIC", (root + "/public").c_str(), 1);
    setenv("windir", (root + "/Win dows").c_str(), 1);
    setenv("SystemDrive", root.c_str(), 1);
    setenv("OVLU_INSTANCE_LOCK", (root + "/instance.lock").c_str(), 1);
    fsys::current_path(ProductFolder());
  }
  ~Machine() {
    std::error_code ec;
    fsys::current_path("/", ec);
    fsys::remove_all(Www(), ec);
  }
  std::string DataFolder() const { return root + "/public/Documents/Tessaro Software/OrVento 7"; }
  std::string ProductFolder() const { return root + "/OrVento 7"; }
  // The machine's folder on the test server, served under /file/NAME/.
  std::string Name() const { return dir.Folder().filename().string(); }
  std::string Www() const { return support::ServerValue("OVLU_TEST_ROOT") + "/" + Name(); }
  std::string ListPath() const { return DataFolder() + "/Updates.upd"; }
  void WriteList(const std::vector<std::string>& lines) const {  // with CR LF line ends
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    Put(ListPath(), text);
  }
  bool ListExists() const { return fsys::exists(ListPath()); }

  support::TempDir dir{"ovlue2e"};  // first: the system is made with a folder under it
  const std::string root = dir.Path();
  PosixFileSystem fs;
  AgentSystem sys{ProductFolder()};
};

// One start of the agent on the machine: process values reset, the host
// set, a headless window, the libcurl transfer and the start-up run.
struct Agent {
  explicit Agent(Machine& m) : inet([this] { window.DoEvents(); }), form(window, inet) {
    ResetProcessValues();
    SetHost(&m.fs, &m.sys);
    window.onPump = [this] { inet.Poll(); };
    form.Form_Initialize();
  }
  ~Agent() { window.onPump = nullptr; }
  HeadlessWindow window;
  CurlInet inet;
  MainForm form;
};

class RunTest : public ::testing::Test {
 protected:
  // Publishes a file and gives the list line that fetches it to dest.
  std::string Line(const std::string& action, const std::string& name, const std::string& content,
                   const std::string& dest) {
    Put(m.Www() + "/" + name, content);
    const std::string url = support::ServerValue("OVLU_TEST_HTTP") + "/file/" + m.Name() + "/";
    return "<v-" + action + "><s-" + url + name + "><" + dest + ">";
  }
  // A file of the Dati folder, as a plain destination of the list and on disk.
  std::string Dati(const std::string& name) { return m.root + "/Dati\\" + name; }
  std::string OnDisk(const std::string& name) { return m.root + "/Dati/" + name; }
  // Runs an update, answering Yes; the code the process ended with, or -1
  // when the run came back.
  int Run(Agent& a) {
    a.window.answers = {vbYes};
    try {
      a.window.Click(Control::cmdGET);
      return -1;
    } catch (const ProcessEnded& e) {
      return e.code;
    }
  }

  void SetUp() override { ASSERT_NE(support::ServerValue("OVLU_TEST_ROOT"), ""); }

  Machine m;
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
  EXPECT_EQ(support::WaitForLine(log), "ran in " + m.ProductFolder() + "\n");
}

// A failing run on disk. Rows that Windows refuses: a placeholder the agent
// does not know (its text is no folder name) and a drive without a link;
// they fail and write nothing anywhere. An accented name (Windows-1252 in
// the list) finds its UTF-8 file in another case and replaces it, keeping
// it as ".old"; the missing product program then comes back from its
// ".old". A read-only ".old" stops the step before the new file moves in,
// and nothing is lost.
TEST_F(RunTest, RefusedRowsAndAReadOnlyOldCopyChangeOnlyWhatTheyShould) {
  setenv("XDG_CONFIG_HOME", (m.root + "/config").c_str(), 1);  // no drive links
  const std::string product = m.ProductFolder() + "/OrVento.exe";
  fsys::rename(product, product + ".old");
  Put(OnDisk("CAFF\xC3\x88.DAT"), "caff\xC3\xA8 di ieri");
  Put(OnDisk("x.dat"), "x in place");
  Put(OnDisk("x.dat.old"), "older x");
  chmod(OnDisk("x.dat.old").c_str(), 0444);
  m.WriteList({Line("R", "y.dat", "y", "TMPPATH-\\y.dat"),
               Line("", "z.dat", "z", "Q:\\Dati\\z.dat"),
               Line("", "caffe.dat", "nuovo", Dati("Caff\xE8.dat")),
               Line("", "x.dat", "new x", Dati("x.dat"))});
  const auto tree = [this] {
    std::map<std::string, std::string> files;
    for (const auto& e : fsys::recursive_directory_iterator(m.root))
      if (!e.is_directory()) files[fsys::relative(e.path(), m.root).string()] = Slurp(e.path());
    return files;
  };
  Agent a(m);
  auto expected = tree();
  Run(a);
  expected.erase("Dati/CAFF\xC3\x88.DAT");
  expected["Dati/Caff\xC3\xA8.dat"] = "nuovo";
  expected["Dati/Caff\xC3\xA8.dat.old"] = "caff\xC3\xA8 di ieri";
  expected.erase("OrVento 7/OrVento.exe.old");
  expected["OrVento 7/OrVento.exe"] = "OrVento 7.0\n";
  expected["Dati/x.dat.remove"] = "new x";
  EXPECT_EQ(tree(), expected);
  EXPECT_EQ(a.window.Caption(Control::LblMesg), "Aggiornamento interrotto. Riprovare.");
  EXPECT_TRUE(a.window.Enabled(Control::cmdGET));
}

}  // namespace
}  // namespace ovlu::e2e
