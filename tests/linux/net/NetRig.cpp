#include "NetRig.h"

#include <fstream>
#include <iterator>

#include "shell/Globals.h"

namespace ovlu::nettest {

namespace {
char kProgram[] = "ovlu_net_tests";
char* kArgv[] = {kProgram, nullptr};
}  // namespace

PosixHost::PosixHost() : sys(1, kArgv) { SetHost(&fs, &sys); }

Rig::Rig() : inet([this] { window.DoEvents(); }), form(window, inet) {
  ResetProcessValues();
  window.Load(&form);
  window.onPump = [this] { inet.Poll(); };
  auto handler = inet.StateChanged;
  inet.StateChanged = [this, handler](std::int16_t s) {
    states.push_back(s);
    handler(s);
  };
}

Rig::~Rig() { window.onPump = nullptr; }

void Rig::AddItem(const std::string& url, const std::string& server, const std::string& folder,
                  const std::string& name, const std::string& action) {
  nettest::AddItem(window, url, server, folder, name, action);
}

std::string Rig::Received(int i) const { return ReceivedPath(i); }

void AddItem(Window& w, const std::string& url, const std::string& server,
             const std::string& folder, const std::string& name, const std::string& action) {
  UpdateItemArray& items = G().UpdateItems;
  const std::int32_t i = items.Sized() ? items.UBound() + 1 : 0;
  items.Redim(i);
  UpdateItem& item = items[i];
  item.Sources.Redim(0);
  item.Sources[0].Url = url;
  item.Sources[0].Server = server;
  item.FileName = name;
  item.DestName = name;
  item.DestFolder = folder + "/";
  item.Action = action;
  w.AddRow(name);
}

std::string ReceivedPath(int i) {
  const UpdateItem& item = G().UpdateItems[i];
  return ToPosixPath(ReceivedFileName(item));
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(f), {});
}

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace ovlu::nettest
