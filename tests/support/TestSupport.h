// The helpers every test program shares: temporary folders and environment
// changes that undo themselves, whole-file reads and writes, the test
// server's byte pattern and where that server listens.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace ovlu::support {

// A new empty folder under the system's temporary folder (no "-" in its name,
// so that paths under it never read as list placeholders), removed with the
// object, read-only files too.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "ovlu") {
    static std::atomic<int> serial{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = std::filesystem::temp_directory_path() /
              (prefix + "." + std::to_string(stamp) + "." + std::to_string(++serial));
    std::filesystem::create_directories(folder_);
  }
  ~TempDir() {
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(folder_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  std::string Path() const { return folder_.string(); }
  std::string operator/(const std::string& rel) const { return Path() + "/" + rel; }

 private:
  std::filesystem::path folder_;
};

// Writes a file, and the folders it needs.
inline void Put(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  if (!(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes))
    throw std::runtime_error("cannot write " + path.string());
}

// A file's bytes, "" when it is missing.
inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  if (in) s << in.rdbuf();
  return s.str();
}

// Polls for up to 5 s for a file whose content ends a line; that content, or "".
inline std::string WaitForLine(const std::filesystem::path& path) {
  for (int i = 0; i < 250; ++i) {
    const std::string text = Slurp(path);
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::string();
}

// The test server's /gen/N body: byte i is (7 * i + 13 * (i >> 10)) mod 256,
// so a piece at the wrong offset or a lost block of 1024 shows.
inline std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(7 * i + 13 * (i >> 10));
  return s;
}

// A value the test server gives (OVLU_TEST_HTTP, OVLU_TEST_ROOT, ...): from
// the environment under "ovlu_testserver.py --run", else from the file that
// "--start FILE" wrote, named by OVLU_TEST_SERVER (CTest's fixture sets it).
// "" when neither has it.
inline std::string ServerValue(const std::string& name) {
  if (const char* v = std::getenv(name.c_str())) return v;
  const char* file = std::getenv("OVLU_TEST_SERVER");
  std::ifstream in(file ? file : "");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  return std::string();
}

// Sets (or, with nullopt, removes) a variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const std::optional<std::string>& v) {
#ifdef _WIN32
    ::_putenv_s(name_.c_str(), v ? v->c_str() : "");
#else
    v ? ::setenv(name_.c_str(), v->c_str(), 1) : ::unsetenv(name_.c_str());
#endif
  }
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace ovlu::support
