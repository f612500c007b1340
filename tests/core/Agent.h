// One start of the agent for the core's tests: fresh process values, the
// test machine as host, the headless window and a scripted transfer.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ports/headless/HeadlessWindow.h"
#include "shell/MainForm.h"
#include "tests/core/TestHost.h"
#include "transfer/Inet.h"

namespace ovlu::test {

// A transfer control that answers from a script, for tests of the run's own
// logic; real HTTP is covered by the end-to-end tests. It keeps the contract
// of the real controls: states are raised one per event pump, only while the
// window lets events run; StillExecuting stays true until the completion
// handler has returned; GetChunk hands out at most 1024 bytes and the size
// asked, and an empty chunk at the end.
class ScriptedInet : public Inet {
 public:
  struct Reply {
    std::string body;
    std::map<std::string, std::string> headers;  // a Content-Length is added when absent
    bool omitLength = false;
    bool fails = false;                     // raises icError instead of icResponseCompleted
    std::size_t breakAt = std::size_t(-1);  // GetChunk fails once this many bytes went out
  };

  void OpenURL(const std::string& url) override;
  void SetRequestTimeout(int seconds) override {
    log.push_back("timeout " + std::to_string(seconds));
  }
  bool StillExecuting() override { return executing_; }
  void SetProtocol(int protocol) override { log.push_back("protocol " + std::to_string(protocol)); }
  void Execute(const std::string& url, const std::string& operation) override;
  std::string GetHeader(const std::string& name) override;
  std::vector<unsigned char> GetChunk(int size, int dataType) override;

  // Makes this the response being read, as if its request had just been
  // answered (for tests that raise the completion themselves).
  void Serve(const Reply& reply);
  // Raises the next state of the running request; the window calls it on
  // every event pump.
  void Pump();

  std::map<std::string, Reply> replies;  // by URL; an unknown URL fails
  std::set<std::string> unreachable;     // servers whose probe fails
  std::vector<std::string> log;          // "probe S", "timeout N", "protocol N", "GET U"
  std::vector<std::int16_t> raised;

 private:
  Reply current_;
  std::size_t sent_ = 0;
  std::deque<std::int16_t> pending_;
  bool executing_ = false;
  bool inHandler_ = false;
};

struct Agent {
  Agent();
  ~Agent();

  // Windows paths of the machine.
  std::string DataFolder() const { return sys.commonDocuments + "\\Tessaro Software\\OrVento 7"; }
  std::string ListPath() const { return DataFolder() + "\\Updates.upd"; }
  std::string AppFolder() const { return sys.appPath; }

  // Writes the list with CR LF after every line.
  void WriteList(const std::vector<std::string>& lines);
  // Runs the start-up; false when it ended the process.
  bool Start();

  TestFileSystem fs;
  TestSystem sys;
  HeadlessWindow window;
  ScriptedInet inet;
  MainForm form;
};

}  // namespace ovlu::test
