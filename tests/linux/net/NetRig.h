// What the transfer tests share: the real libcurl transfer (with a time-out
// that a test may shorten), the POSIX file layer, a headless main window
// with its list rows, and the records of a download list.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "TestServer.h"
#include "ports/headless/HeadlessWindow.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "shell/MainForm.h"

namespace ovlu::nettest {

// The transfer control exactly as the agent gets it, except that the
// agent's 40 s request time-out can be turned into a few seconds so that a
// stalled server does not hold a test for long. The times asked for are
// kept.
class TestInet : public CurlInet {
 public:
  using CurlInet::CurlInet;
  void SetRequestTimeout(int seconds) override {
    asked.push_back(seconds);
    CurlInet::SetRequestTimeout(shortSeconds > 0 && seconds == 40 ? shortSeconds : seconds);
  }
  int shortSeconds = 0;
  std::vector<int> asked;
};

// The POSIX host, set for the agent's file and system calls.
struct PosixHost {
  PosixHost();
  PosixFileSystem fs;
  PosixSystem sys;
};

// A main window on the headless window, wired to the transfer as the
// program wires it, with every state number it was given recorded.
struct Rig {
  Rig();
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Adds a list record fetching url into folder/name, and its row.
  void AddItem(const std::string& url, const std::string& server, const std::string& folder,
               const std::string& name, const std::string& action = "");
  // The received-file path of record i (a POSIX path).
  std::string Received(int i) const;

  PosixHost host;
  HeadlessWindow window;
  TestInet inet;
  MainForm form;
  std::vector<std::int16_t> states;
};

// Adds a list record fetching url into folder/name, and its row in w.
void AddItem(Window& w, const std::string& url, const std::string& server,
             const std::string& folder, const std::string& name, const std::string& action = "");
// The received-file path of record i (a POSIX path).
std::string ReceivedPath(int i);

// Whole file, or "<missing>" when there is none.
std::string Slurp(const std::string& path);

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t);

}  // namespace ovlu::nettest
