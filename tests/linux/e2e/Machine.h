// A small Windows machine on disk for running the whole agent: the all-users
// documents folder with the product's data folder, the product's own folder
// (where the agent lives beside OrVento.exe), a Windows folder whose
// system32 holds a regsvr32.exe that records its arguments, and a folder of
// files for the HTTP servers to publish. The environment points the agent
// there (PUBLIC, windir, SystemDrive, the instance lock).
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/headless/HeadlessWindow.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "shell/MainForm.h"

namespace ovlu::e2e {

// Thrown where the agent ends its process, so a test can watch it happen.
struct ProcessEnded : std::exception {
  int code;
  explicit ProcessEnded(int c) : code(c) {}
  const char* what() const noexcept override { return "process ended"; }
};

// The POSIX system with the agent installed in the machine's product folder.
// Ending the process throws ProcessEnded unless realExit is set (in a child
// process that a test waits for).
class AgentSystem : public PosixSystem {
 public:
  AgentSystem(std::string appPath);
  std::string AppPath() override { return appPath_; }
  std::string AppExeName() override { return "OVLiveUpdate"; }
  std::string CommandLine() override { return commandLine; }
  [[noreturn]] void EndProcess(int code) override;

  bool realExit = false;
  std::string commandLine;

 private:
  std::string appPath_;
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::string& Root() const { return root_; }
  // The folders, as POSIX paths.
  std::string DataFolder() const;
  std::string ProductFolder() const { return root_ + "/OrVento 7"; }
  std::string WindowsFolder() const { return root_ + "/Win dows"; }
  std::string Www() const { return root_ + "/www"; }
  std::string ListPath() const { return DataFolder() + "/Updates.upd"; }

  // The list, written with CR LF line ends.
  void WriteList(const std::vector<std::string>& lines) const;
  bool ListExists() const;
  // One line of arguments per call of regsvr32.exe, each argument in [].
  std::vector<std::string> Registrations() const;

  // Declared first: the system is made with the product folder under it.
 private:
  std::string root_;

 public:
  PosixFileSystem fs;
  AgentSystem sys;
};

// One start of the agent on the machine: process values reset, the host
// set, a headless window, the libcurl transfer and the main window's
// start-up already run.
struct Agent {
  explicit Agent(Machine& m);
  ~Agent();
  HeadlessWindow window;
  CurlInet inet;
  MainForm form;
};

// File helpers.
std::string Slurp(const std::string& path);  // "" when missing
void Put(const std::string& path, const std::string& content);
bool Exists(const std::string& path);
// Polls for a file for up to timeoutMs; true once it exists.
bool WaitForFile(const std::string& path, int timeoutMs);
std::string Pattern(std::size_t size, unsigned seed);

}  // namespace ovlu::e2e
