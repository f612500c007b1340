#include "shell/RunLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/Host.h"
#include "shell/Vb.h"

namespace ovlu {

namespace {

// Lines gathered beyond this are dropped until the next write: a log that
// cannot be written does not grow the agent's memory.
constexpr std::size_t kMaxPending = 256 * 1024;

std::string LocalTime() {
  using namespace std::chrono;
  const system_clock::time_point now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  if (const std::tm* t = std::localtime(&seconds)) local = *t;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03lld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms);
  return text;
}

// One line stays one line: line breaks inside a text (a status line, a
// server's error text) are shown as blanks.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

}  // namespace

void RunLog::Open(const std::string& path) { path_ = path; }

void RunLog::Add(const std::string& kind, const std::string& text) {
  if (pending_.size() > kMaxPending) return;
  pending_ += (clock ? clock() : LocalTime()) + " " + kind + " " + AnsiToUtf8(OneLine(text)) + "\n";
}

void RunLog::Flush() {
  if (pending_.empty()) return;
  std::string out;
  out.swap(pending_);
  if (path_.empty() || TheHost().fs == nullptr) return;
  FileSystem& fs = Fs();
  try {
    // No log yet throws here, and a new one starts below.
    if (fs.FileLength(path_) > kLimit) {
      const std::string old = path_ + ".old";
      if (fs.FileExistsAnyAttributes(old)) fs.Delete(old);
      fs.Rename(path_, old);
    }
  } catch (const VbError&) {
    // A log that cannot be turned over is written on.
  }
  try {
    auto file = fs.OpenAppend(path_);
    file->Write(reinterpret_cast<const unsigned char*>(out.data()), out.size());
    file->Close();
  } catch (const VbError&) {
  } catch (const std::exception&) {
  }
}

RunLog& Log() {
  static RunLog log;
  return log;
}

std::string ErrorText(int number, const std::string& what) {
  return "error " + std::to_string(number) + ": " + what;
}

}  // namespace ovlu
