// One start of the agent for the core's tests: fresh process values, the
// test machine as host, the headless window and a scripted transfer.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ports/headless/HeadlessWindow.h"
#include "shell/MainForm.h"
#include "tests/core/TestHost.h"
#include "transfer/InetControl.h"

namespace ovlu::test {

// The transfer control with a scripted network under it, for tests of the
// run's own logic: the states, redirects, time-out and end of a body come
// from the same InetControl as on every platform, so the script cannot
// drift from the real controls. Every URL answers at once; a URL without a
// reply answers 404, and the name of a server in unreachable is not found.
class ScriptedInet : public InetControl {
 public:
  struct Reply {
    std::string body;       // sent with its Content-Length
    bool fails = false;     // answers 500
    bool held = false;      // the server says nothing while this is set
    std::size_t perMs = 0;  // body bytes per millisecond at most; 0: as many as fit
  };

  std::map<std::string, Reply> replies;  // by URL
  std::set<std::string> unreachable;     // URLs (servers) whose name is not found
  std::vector<std::string> log;          // "URL TIMEOUT" of every probe and request
  std::size_t bodySent = 0;              // body bytes handed over, all requests together

 protected:
  void Open(const Request& request) override;
  void Close() override { url_.clear(); }
  void Drive() override;
  void WaitForIo(int) override {}

 private:
  std::string url_;  // of the connection, "" for none
  bool answered_ = false;
  Reply reply_;
  std::size_t sent_ = 0;
  std::chrono::steady_clock::time_point lastSent_{};
};

// Where the tests' lists put files.
inline const std::string kDest = "C:\\Dest";

// A list line that fetches http://srv/u/NAME into FOLDER\NAME.
std::string Line(const std::string& action, const std::string& name,
                 const std::string& folder = kDest);

// The machine holds the data folder, the product's executable in the
// agent's folder and an empty C:\Dest.
struct Agent {
  Agent();
  ~Agent();

  // Windows paths of the machine; the data folder is relative when the shell gives no folder.
  std::string DataFolder() const {
    return (sys.commonDocuments.empty() ? "" : sys.commonDocuments + "\\") +
           "Tessaro Software\\OrVento 7";
  }
  std::string ListPath() const { return DataFolder() + "\\Updates.upd"; }
  std::string AppFolder() const { return sys.appPath; }

  // Writes the list with CR LF after every line.
  void WriteList(const std::vector<std::string>& lines);
  // Runs the start-up; false when it ended the process.
  bool Start();
  bool Start(const std::vector<std::string>& lines) {
    WriteList(lines);
    return Start();
  }
  // Clicks cmdGET; false when the process ended (with code 0) during the click.
  bool Go();
  // The rows' check marks, "1" or "0" each.
  std::string Marks();
  // The rows' percentages and check marks, "100%:1" each.
  std::vector<std::string> Rows();
  // A file of C:\Dest, "" when missing.
  std::string Dest(const std::string& name) const { return fs.Get(kDest + "\\" + name); }

  TestFileSystem fs;
  TestSystem sys;
  HeadlessWindow window;
  ScriptedInet inet;
  MainForm form;
};

}  // namespace ovlu::test
