// What the transfer tests share: the real libcurl transfer, the POSIX file
// layer, a main window wired to the transfer as the program wires it, and
// the records of a download list.
#pragma once

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "TestServer.h"
#include "ports/headless/HeadlessWindow.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"
#include "shell/MainForm.h"

namespace ovlu::nettest {

inline char kProgram[] = "ovlu_net_tests";
inline char* kArgv[] = {kProgram, nullptr};

// A main window (headless or Qt) on the POSIX host, wired to the transfer:
// the window's event pump drives the transfer, and the transfer's waits run
// the window's events.
template <class W>
struct WindowRig {
  WindowRig() {
    SetHost(&fs, &sys);
    ResetProcessValues();
    window.Load(&form);
    window.onPump = [this] { inet.Poll(); };
  }
  ~WindowRig() { window.onPump = nullptr; }

  PosixFileSystem fs;
  PosixSystem sys{1, kArgv};
  W window;
  CurlInet inet{[this] { window.DoEvents(); }};
  MainForm form{window, inet};
};
using Rig = WindowRig<HeadlessWindow>;

// Adds a list record fetching url (no source at all when it is empty) into
// folder/name, and its row in w.
inline void AddItem(Window& w, const std::string& url, const std::string& folder,
                    const std::string& name, const std::string& action = "") {
  UpdateItemArray& items = G().UpdateItems;
  const std::int32_t i = items.Sized() ? items.UBound() + 1 : 0;
  items.Redim(i);
  UpdateItem& item = items[i];
  if (!url.empty()) {
    item.Sources.Redim(0);
    item.Sources[0] = {url, GetServerPart(url)};
  }
  item.FileName = item.DestName = name;
  item.DestFolder = folder + "/";
  item.Action = action;
  w.AddRow(name);
}

// The received-file path of record i (a POSIX path).
inline std::string ReceivedPath(int i) { return ToPosixPath(ReceivedFileName(G().UpdateItems[i])); }

// Whole file, or "<missing>" when there is none.
inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<missing>";
}

// test::PatternBytes as a string.
inline std::string Pattern(std::size_t size, unsigned seed) {
  const auto bytes = test::PatternBytes(size, seed);
  return std::string(bytes.begin(), bytes.end());
}

using Clock = std::chrono::steady_clock;
inline double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace ovlu::nettest
