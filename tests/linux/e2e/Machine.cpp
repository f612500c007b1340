#include "Machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "TestServer.h"
#include "shell/Globals.h"

namespace ovlu::e2e {

namespace fsys = std::filesystem;

namespace {
std::string MakeRoot() {
  // No "-" in the root: plain destination paths under it must not read as
  // placeholders.
  char pattern[] = "/tmp/ovlue2e.XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  return pattern;
}
}  // namespace

Machine::Machine() : root(MakeRoot()), sys(ProductFolder()) {
  for (const auto& folder :
       {DataFolder(), WindowsFolder() + "/system32", Www() + "/file", root + "/Dati"})
    fsys::create_directories(folder);
  Put(ProductFolder() + "/OrVento.exe", "OrVento 7.0\n");
  const std::string reg = WindowsFolder() + "/system32/regsvr32.exe";
  Put(reg, "#!/bin/sh\n{ printf '[%s]' \"$@\"; echo; } >> '" + root + "/regsvr32.log'\n");
  chmod(reg.c_str(), 0755);

  setenv("PUBLIC", (root + "/public").c_str(), 1);
  setenv("windir", WindowsFolder().c_str(), 1);
  setenv("SystemDrive", root.c_str(), 1);
  setenv("OVLU_INSTANCE_LOCK", (root + "/instance.lock").c_str(), 1);
  fsys::current_path(ProductFolder());
}

Machine::~Machine() {
  std::error_code ec;
  fsys::current_path("/", ec);
  fsys::remove_all(root, ec);
}

Agent::Agent(Machine& m) : inet([this] { window.DoEvents(); }), form(window, inet) {
  ResetProcessValues();
  SetHost(&m.fs, &m.sys);
  window.onPump = [this] { inet.Poll(); };
  form.Form_Initialize();
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  if (in) s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& content) {
  fsys::create_directories(fsys::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string WaitForLine(const std::string& path) {
  for (int i = 0; i < 250; ++i) {
    const std::string text = Slurp(path);
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::string();
}

std::string Pattern(std::size_t size, unsigned seed) {
  const auto bytes = test::PatternBytes(size, seed);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace ovlu::e2e
