// The run log: OVLiveUpdate.log beside the update list, one event a line,
// each line starting with the local time to the millisecond and a word
// naming the kind of event. It tells support and publishers what the window
// does not: which file failed, at which step, and why.
//
// Lines are gathered in memory and written out at the points the agent
// chooses (after each record, at the end of a run, before the process
// ends). A log that cannot be written is dropped quietly: it never changes
// the run or what the window shows. Once the file has passed kLimit bytes
// it becomes OVLiveUpdate.log.old, replacing the older one, and a new log
// starts.
#pragma once

#include <functional>
#include <string>

namespace ovlu {

class RunLog {
 public:
  static constexpr long long kLimit = 1024 * 1024;
  static constexpr const char* kFileName = "OVLiveUpdate.log";

  // Where the log goes from now on (a Windows path); "" writes nothing.
  void Open(const std::string& path);
  const std::string& Path() const { return path_; }

  // One event: its kind ("start", "hop", "move"...) and its text, both in
  // the system ANSI code page; the file gets UTF-8.
  void Add(const std::string& kind, const std::string& text);
  // Writes out what is gathered. Never throws.
  void Flush();

  // The time stamp of a line, "YYYY-MM-DD HH:MM:SS.mmm" in local time;
  // tests set a clock of their own.
  std::function<std::string()> clock;

 private:
  std::string path_;
  std::string pending_;
};

// The agent's one log.
RunLog& Log();

// "ERROR n: text" of a run-time error, as the log shows failures.
std::string ErrorText(int number, const std::string& what);

}  // namespace ovlu
