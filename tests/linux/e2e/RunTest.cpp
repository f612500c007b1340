// What only real files and processes show, through the headless window with
// the libcurl transfer against the project's test server on loopback: a
// program the run starts ends the run out of sight. What the Linux file layer
// refuses or finds by another spelling is the shared file suite's, the run's
// logic is tested on the core, and the whole path through the real window is
// acceptance.sh.
#include <gtest/gtest.h>

#include <filesystem>

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
namespace fsys = std::filesystem;

// The POSIX system with the agent installed in the product folder; ending
// the process throws ProcessEnded.
struct AgentSystem : PosixSystem {
  explicit AgentSystem(std::string path) : PosixSystem(0, nullptr), appPath(std::move(path)) {}
  std::string AppPath() override { return appPath; }
  std::string AppExeName() override { return "OVLiveUpdate"; }
  [[noreturn]] void EndProcess(int code) override { throw test::ProcessEnded(code); }
  std::string appPath;
};

// A small Windows machine on disk (the product's data folder under the
// all-users documents, the product's own folder as the current one) and a
// folder of its own on the test server. The list starts a script, then puts
// a file beside the product once the window has gone.
TEST(RunTest, StartedProgramEndsTheRunOutOfSightAndTheListGoes) {
  const std::string served = support::ServerValue("OVLU_TEST_ROOT");
  ASSERT_NE(served, "");
  const support::TempDir dir("ovlue2e");
  const std::string root = dir.Path(), product = root + "/OrVento 7", log = root + "/avvia.log";
  const std::string list = root + "/public/Documents/Tessaro Software/OrVento 7/Updates.upd";
  const std::string name = dir.Folder().filename().string(), www = served + "/" + name;
  const std::string url = support::ServerValue("OVLU_TEST_HTTP") + "/file/" + name + "/";
  Put(www + "/Avvia.sh", "#!/bin/sh\necho \"ran in $(pwd)\" > '" + log + "'\n");
  Put(www + "/Leggimi.txt", "Novit\xe0\r\n");
  Put(product + "/OrVento.exe", "OrVento 7.0\n");
  Put(list, "<v-E><s-" + url + "Avvia.sh><APPPATH-\\Avvia.sh>\r\n<v-><s-" + url +
                "Leggimi.txt><APPPATH-\\Leggimi.txt>\r\n");
  const support::ScopedEnv pub("PUBLIC", root + "/public"),
      lock("OVLU_INSTANCE_LOCK", root + "/instance.lock");
  fsys::current_path(product);

  ResetProcessValues();
  PosixFileSystem fs;
  AgentSystem sys(product);
  SetHost(&fs, &sys);
  HeadlessWindow window;
  CurlInet inet([&] { window.DoEvents(); });
  MainForm form(window, inet);
  window.onPump = [&] { inet.Poll(); };
  form.Form_Initialize();
  window.answers = {vbYes};
  int code = -1;
  try {
    window.Click(Control::cmdGET);
  } catch (const test::ProcessEnded& e) {
    code = e.code;
  }
  window.onPump = nullptr;
  SetHost(nullptr, nullptr);
  fsys::current_path("/");
  fsys::remove_all(www);

  EXPECT_EQ(code, 0);
  EXPECT_FALSE(window.Loaded());
  EXPECT_FALSE(fsys::exists(list));
  EXPECT_EQ(support::Slurp(product + "/Leggimi.txt"), "Novit\xe0\r\n");
  // Started by its bare name in the current directory.
  EXPECT_EQ(support::WaitForLine(log), "ran in " + product + "\n");
}

}  // namespace
}  // namespace ovlu::e2e
