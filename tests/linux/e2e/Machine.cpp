#include "Machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "TestServer.h"
#include "shell/Globals.h"

namespace ovlu::e2e {

namespace fsys = std::filesystem;

AgentSystem::AgentSystem(std::string appPath)
    : PosixSystem(0, nullptr), appPath_(std::move(appPath)) {}

void AgentSystem::EndProcess(int code) {
  if (realExit) PosixSystem::EndProcess(code);
  throw ProcessEnded(code);
}

namespace {
std::string MakeRoot() {
  // No "-" in the root: plain destination paths under it must not read as
  // placeholders.
  char pattern[] = "/tmp/ovlue2e.XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  return pattern;
}
}  // namespace

Machine::Machine() : root_(MakeRoot()), sys(ProductFolder()) {
  fsys::create_directories(DataFolder());
  fsys::create_directories(ProductFolder());
  fsys::create_directories(WindowsFolder() + "/system32");
  fsys::create_directories(Www());
  Put(ProductFolder() + "/OrVento.exe", "OrVento 7.0\n");

  const std::string reg = WindowsFolder() + "/system32/regsvr32.exe";
  Put(reg, "#!/bin/sh\nline=''\nfor a in \"$@\"; do line=\"$line[$a]\"; done\n"
           "echo \"$line\" >> '" + root_ + "/regsvr32.log'\n");
  chmod(reg.c_str(), 0755);

  setenv("PUBLIC", (root_ + "/public").c_str(), 1);
  setenv("windir", WindowsFolder().c_str(), 1);
  setenv("SystemDrive", root_.c_str(), 1);
  setenv("OVLU_INSTANCE_LOCK", (root_ + "/instance.lock").c_str(), 1);
  fsys::current_path(ProductFolder());
}

Machine::~Machine() {
  std::error_code ec;
  fsys::current_path("/", ec);
  // Read-only files inside do not stop the clean-up.
  for (auto& e : fsys::recursive_directory_iterator(root_, ec))
    fsys::permissions(e.path(), fsys::perms::owner_write, fsys::perm_options::add, ec);
  fsys::remove_all(root_, ec);
}

std::string Machine::DataFolder() const {
  return root_ + "/public/Documents/Tessaro Software/OrVento 7";
}

void Machine::WriteList(const std::vector<std::string>& lines) const {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  Put(ListPath(), text);
}

bool Machine::ListExists() const { return Exists(ListPath()); }

std::vector<std::string> Machine::Registrations() const {
  std::vector<std::string> out;
  std::istringstream in(Slurp(root_ + "/regsvr32.log"));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

Agent::Agent(Machine& m) : inet([this] { window.DoEvents(); }), form(window, inet) {
  ResetProcessValues();
  SetHost(&m.fs, &m.sys);
  window.onPump = [this] { inet.Poll(); };
  form.Form_Initialize();
}

Agent::~Agent() { window.onPump = nullptr; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& content) {
  fsys::create_directories(fsys::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool WaitForFile(const std::string& path, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string Pattern(std::size_t size, unsigned seed) {
  const auto bytes = test::PatternBytes(size, seed);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace ovlu::e2e
