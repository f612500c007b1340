// A small Windows machine on disk for running the whole agent: the all-users
// documents folder with the product's data folder, the product's own folder
// (where the agent lives beside OrVento.exe), a Windows folder, a Dati
// folder for plain destinations, and a www folder for the HTTP server to
// publish. The
// environment points the agent there (PUBLIC, windir, SystemDrive, the
// instance lock).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ports/headless/HeadlessWindow.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "shell/MainForm.h"
#include "tests/core/TestHost.h"
#include "tests/support/TestSupport.h"

namespace ovlu::e2e {

using test::ProcessEnded;

// The POSIX system with the agent installed in the machine's product folder.
// Ending the process throws ProcessEnded.
struct AgentSystem : PosixSystem {
  explicit AgentSystem(std::string path) : PosixSystem(0, nullptr), appPath(std::move(path)) {}
  std::string AppPath() override { return appPath; }
  std::string AppExeName() override { return "OVLiveUpdate"; }
  [[noreturn]] void EndProcess(int code) override { throw ProcessEnded(code); }
  std::string appPath;
};

using support::Put;
using support::Slurp;
using support::WaitForLine;
inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

struct Machine {
  Machine();
  ~Machine();

  std::string DataFolder() const { return root + "/public/Documents/Tessaro Software/OrVento 7"; }
  std::string ProductFolder() const { return root + "/OrVento 7"; }
  std::string WindowsFolder() const { return root + "/Win dows"; }
  std::string Www() const { return root + "/www"; }
  std::string ListPath() const { return DataFolder() + "/Updates.upd"; }
  void WriteList(const std::vector<std::string>& lines) const {  // with CR LF line ends
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    Put(ListPath(), text);
  }
  bool ListExists() const { return Exists(ListPath()); }

  support::TempDir dir{"ovlue2e"};  // first: the system is made with a folder under it
  const std::string root = dir.Path();
  PosixFileSystem fs;
  AgentSystem sys;
};

// One start of the agent on the machine: process values reset, the host
// set, a headless window, the libcurl transfer and the start-up run.
struct Agent {
  explicit Agent(Machine& m);
  ~Agent() { window.onPump = nullptr; }
  HeadlessWindow window;
  CurlInet inet;
  MainForm form;
};

}  // namespace ovlu::e2e
