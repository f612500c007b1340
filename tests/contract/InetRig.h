// The agent's download sequence over this platform's transfer control
// (libcurl on Linux, WinINet on Windows), on a window (the headless one
// unless told) and the test machine: one record fetched into C:\Dest\a.dat.remove, the window's
// events driving the control and the control's waits running the events.
#pragma once

#ifdef _WIN32
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include "ports/windows/WinInetTransfer.h"
#else
#include "ports/linux/net/CurlInet.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "ports/headless/HeadlessWindow.h"
#include "shell/Globals.h"
#include "shell/MainForm.h"
#include "shell/RunLog.h"
#include "tests/core/TestHost.h"
#include "tests/support/TestSupport.h"

namespace ovlu::test {

#ifdef _WIN32
using PlatformInet = win::WinInetTransfer;
#else
using PlatformInet = CurlInet;
#endif

using Clock = std::chrono::steady_clock;
inline double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// The request time-out, cut from the agent's 40 seconds so that the stalled
// servers end soon.
inline constexpr int kTimeout = 2;
struct ShortInet : PlatformInet {
  void SetRequestTimeout(int seconds) override {
    PlatformInet::SetRequestTimeout(seconds == 40 ? kTimeout : seconds);
  }
};

// Resident memory of this process in KiB (Linux only; 0 elsewhere).
inline long RssKiB() {
#ifdef _WIN32
  return 0;
#else
  const std::string status = support::Slurp("/proc/self/status");
  const std::size_t at = status.find("VmRSS:");
  return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
#endif
}

inline constexpr char kNoFile[] = "<no file>";

template <class W = HeadlessWindow>
struct AgentRun {
  AgentRun(PlatformInet& control, const std::string& url)
      : AgentRun(control, std::vector<std::string>{url}) {}
  // One record a file, fetched into C:\Dest\a.dat.remove, b.dat.remove, ...
  AgentRun(PlatformInet& control, const std::vector<std::string>& urls) : inet(control) {
    SetHost(&fs, &sys);
    ResetProcessValues();
    window.Load(&form);
    window.onPump = [this] {
      longestWait = std::max(longestWait, SecondsSince(last));
      last = Clock::now();
      inet.Poll();
    };
    // As ConnectPump does, with the longest wait between rounds measured.
    window.onBackground = [this] { inet.Receive(); };
    inet.SetPump([this] { window.DoEvents(); });
    // The agent's handler; a test that watches the states sets its own.
    inet.StateChanged = [this](std::int16_t s) { form.Inet1_StateChanged(s); };
    fs.MakeFolder("C:\\Dest");
    // The run log of this run alone.
    fs.MakeFolder("C:\\Log");
    Log().Open("");
    Log().Flush();
    Log().Open(kLog);
    UpdateItemArray& items = G().UpdateItems;
    items.Redim(static_cast<std::int32_t>(urls.size()) - 1);
    for (std::size_t i = 0; i < urls.size(); ++i) {
      UpdateItem& item = items[static_cast<std::int32_t>(i)];
      item.Sources.Redim(0);
      item.Sources[0] = {urls[i], GetServerPart(urls[i])};
      item.FileName = item.DestName = std::string(1, static_cast<char>('a' + i)) + ".dat";
      item.DestFolder = "C:\\Dest\\";
      window.AddRow(item.FileName);
    }
  }
  ~AgentRun() {
    inet.StateChanged = nullptr;
    inet.SetPump(nullptr);
    window.onPump = nullptr;
    window.onBackground = nullptr;
    Log().Open("");
    Log().Flush();
    SetHost(nullptr, nullptr);
  }

  // DownloadAllFiles; the seconds it took.
  double Run() {
    const auto start = last = Clock::now();
    form.DownloadAllFiles();
    return SecondsSince(start);
  }
  // What the run log says so far.
  std::string Logged() {
    Log().Flush();
    return fs.Has(kLog) ? fs.Get(kLog) : "";
  }
  static constexpr char kLog[] = "C:\\Log\\OVLiveUpdate.log";
  // The received file of the record at index i.
  std::string File(int i = 0) {
    const std::string path =
        "C:\\Dest\\" + std::string(1, static_cast<char>('a' + i)) + ".dat.remove";
    return fs.Has(path) ? fs.Get(path) : kNoFile;
  }

  PlatformInet& inet;
  TestFileSystem fs;
  TestSystem sys;
  W window;
  MainForm form{window, inet};
  double longestWait = 0;  // seconds without window events
  Clock::time_point last = Clock::now();
};

}  // namespace ovlu::test
