// Temporary folders, files and environment changes that undo themselves.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace ovlu::posixtest {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/ovluposix.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Writes a file, and the folders it needs.
inline void Put(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (!(std::ofstream(path, std::ios::binary) << bytes)) throw std::runtime_error("write " + path);
}

inline std::optional<std::string> Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Sets (or, with nullopt, removes) a variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }

 private:
  void Apply(const std::optional<std::string>& v) {
    v ? ::setenv(name_.c_str(), v->c_str(), 1) : ::unsetenv(name_.c_str());
  }
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace ovlu::posixtest
