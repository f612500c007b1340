#include "Machine.h"

#include <filesystem>

#include "shell/Globals.h"

namespace ovlu::e2e {

namespace fsys = std::filesystem;

Machine::Machine() : sys(ProductFolder()) {
  for (const auto& folder : {DataFolder(), WindowsFolder(), Www() + "/file", root + "/Dati"})
    fsys::create_directories(folder);
  Put(ProductFolder() + "/OrVento.exe", "OrVento 7.0\n");

  setenv("PUBLIC", (root + "/public").c_str(), 1);
  setenv("windir", WindowsFolder().c_str(), 1);
  setenv("SystemDrive", root.c_str(), 1);
  setenv("OVLU_INSTANCE_LOCK", (root + "/instance.lock").c_str(), 1);
  fsys::current_path(ProductFolder());
}

Machine::~Machine() {
  std::error_code ec;
  fsys::current_path("/", ec);
}

Agent::Agent(Machine& m) : inet([this] { window.DoEvents(); }), form(window, inet) {
  ResetProcessValues();
  SetHost(&m.fs, &m.sys);
  window.onPump = [this] { inet.Poll(); };
  form.Form_Initialize();
}

}  // namespace ovlu::e2e
