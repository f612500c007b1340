// A small Windows machine on disk for running the whole agent: the all-users
// documents folder with the product's data folder, the product's own folder
// (where the agent lives beside OrVento.exe), a Windows folder whose
// system32 holds a regsvr32.exe that logs its arguments, a Dati folder for
// plain destinations, and a www folder for the HTTP servers to publish. The
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

namespace ovlu::e2e {

using test::ProcessEnded;

// The POSIX system with the agent installed in the machine's product folder.
// Ending the process throws ProcessEnded unless realExit is set (in a child
// process that a test waits for).
struct AgentSystem : PosixSystem {
  explicit AgentSystem(std::string path) : PosixSystem(0, nullptr), appPath(std::move(path)) {}
  std::string AppPath() override { return appPath; }
  std::string AppExeName() override { return "OVLiveUpdate"; }
  [[noreturn]] void EndProcess(int code) override {
    if (realExit) PosixSystem::EndProcess(code);
    throw ProcessEnded(code);
  }
  std::string appPath;
  bool realExit = false;
};

std::string Slurp(const std::string& path);  // "" when missing
void Put(const std::string& path, const std::string& content);
inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }
// Polls for up to 5 s for a file that ends a line; its content, or "".
std::string WaitForLine(const std::string& path);
std::string Pattern(std::size_t size, unsigned seed);

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

  const std::string root;  // first: the system is made with a folder under it
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
