#include "tests/core/TestHost.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "shell/Vb.h"

namespace fs = std::filesystem;

namespace ovlu::test {

namespace {

// Paths carry ANSI names; on disk they are UTF-8 on every host.
fs::path FromAnsi(const std::string& ansi) {
  const std::string utf8 = AnsiToUtf8(ansi);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ToAnsi(const fs::path& p) {
  const std::u8string u = p.u8string();
  return Utf8ToAnsi(std::string(u.begin(), u.end()));
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

class TestBinaryFile : public BinaryFile {
 public:
  explicit TestBinaryFile(std::fstream f) : f_(std::move(f)) {}
  void Write(const unsigned char* data, std::size_t size) override {
    if (!f_.is_open()) throw VbError(errPathFileAccess, "file closed");
    f_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f_) throw VbError(errPathFileAccess, "write failed");
  }
  void Close() override {
    if (f_.is_open()) f_.close();
  }

 private:
  std::fstream f_;
};

}  // namespace

TestFileSystem::TestFileSystem() {
  static std::atomic<int> serial{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = fs::temp_directory_path() /
          ("ovlu-core-" + std::to_string(stamp) + "-" + std::to_string(++serial));
  fs::create_directories(root_);
}

TestFileSystem::~TestFileSystem() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

fs::path TestFileSystem::Real(const std::string& windowsPath) const {
  std::string path = windowsPath;
  std::string drive;
  if (path.size() >= 2 && path[1] == ':') {
    drive = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    path = path.substr(2);
  } else {
    drive = std::string(1, currentDirectory[0]);
  }
  std::vector<std::string> parts;
  const bool rooted = !path.empty() && (path[0] == '\\' || path[0] == '/');
  if (!rooted) parts = Split(currentDirectory.substr(2));
  for (const std::string& part : Split(path)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  fs::path real = root_ / drive;
  for (const std::string& part : parts) {
    fs::path next = real / FromAnsi(part);
    std::error_code ec;
    if (!fs::exists(next, ec) && fs::is_directory(real, ec)) {
      const std::string wanted = LCase(part);
      for (const auto& entry : fs::directory_iterator(real, ec)) {
        if (LCase(ToAnsi(entry.path().filename())) == wanted) {
          next = entry.path();
          break;
        }
      }
    }
    real = next;
  }
  return real;
}

std::string TestFileSystem::Key(const fs::path& real) const {
  // Attributes belong to the file, whatever spelling reached it.
  const std::u8string u = real.generic_u8string();
  std::string key(u.begin(), u.end());
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

unsigned& TestFileSystem::AttributesOf(const fs::path& real) {
  auto it = attributes_.find(Key(real));
  if (it == attributes_.end()) it = attributes_.emplace(Key(real), attrArchive).first;
  return it->second;
}

void TestFileSystem::RequireWritableFolder(const std::string& path) const {
  const fs::path folder = Real(path).parent_path();
  for (const std::string& denied : noWriteFolders)
    if (Real(denied) == folder) throw VbError(errPermissionDenied, "Permission denied");
}

bool TestFileSystem::FileExists(const std::string& path) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (!fs::is_regular_file(real, ec)) return false;
  auto it = attributes_.find(Key(real));
  const unsigned a = it == attributes_.end() ? attrArchive : it->second;
  return (a & (attrHidden | attrSystem)) == 0;
}

bool TestFileSystem::FileExistsAnyAttributes(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(Real(path), ec);
}

std::vector<unsigned char> TestFileSystem::ReadAll(const std::string& path) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (!fs::is_regular_file(real, ec)) throw VbError(errFileNotFound, "File not found");
  std::ifstream in(real, std::ios::binary);
  if (!in) throw VbError(errPermissionDenied, "Permission denied");
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::unique_ptr<BinaryFile> TestFileSystem::OpenBinaryWrite(const std::string& path,
                                                            bool truncate) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (fs::is_regular_file(real, ec)) {
    if (AttributesOf(real) & attrReadOnly) throw VbError(errPermissionDenied, "Permission denied");
  } else {
    RequireWritableFolder(path);
  }
  if (!fs::is_directory(real.parent_path(), ec)) throw VbError(errPathNotFound, "Path not found");
  auto mode = std::ios::binary | std::ios::out | (truncate ? std::ios::trunc : std::ios::in);
  if (!fs::exists(real, ec)) mode = std::ios::binary | std::ios::out | std::ios::trunc;
  std::fstream f(real, mode);
  if (!f) throw VbError(errPathFileAccess, "Path/File access error");
  return std::make_unique<TestBinaryFile>(std::move(f));
}

void TestFileSystem::CreateTextFile(const std::string& path, const std::string& text) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (fs::exists(real, ec)) {
    if (AttributesOf(real) & attrReadOnly) throw VbError(errPermissionDenied, "Permission denied");
  } else {
    RequireWritableFolder(path);
  }
  if (!fs::is_directory(real.parent_path(), ec)) throw VbError(errPathNotFound, "Path not found");
  std::ofstream out(real, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw VbError(errPathFileAccess, "Path/File access error");
  attributes_.erase(Key(real));
}

void TestFileSystem::Rename(const std::string& from, const std::string& to) {
  const fs::path src = Real(from), dst = Real(to);
  std::error_code ec;
  if (!fs::is_regular_file(src, ec)) throw VbError(errFileNotFound, "File not found");
  if (fs::exists(dst, ec)) throw VbError(errFileExists, "File already exists");
  RequireWritableFolder(to);
  fs::rename(src, dst, ec);
  if (ec) throw VbError(errPathFileAccess, "Path/File access error");
  auto it = attributes_.find(Key(src));
  if (it != attributes_.end()) {
    const unsigned a = it->second;
    attributes_.erase(it);
    attributes_[Key(dst)] = a;
  }
}

void TestFileSystem::Delete(const std::string& path) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (!fs::is_regular_file(real, ec)) throw VbError(errFileNotFound, "File not found");
  if (AttributesOf(real) & attrReadOnly) throw VbError(errPermissionDenied, "Permission denied");
  if (!fs::remove(real, ec) || ec) throw VbError(errPathFileAccess, "Path/File access error");
  attributes_.erase(Key(real));
}

void TestFileSystem::SetAttributes(const std::string& path, unsigned attributes) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (!fs::is_regular_file(real, ec)) throw VbError(errFileNotFound, "File not found");
  AttributesOf(real) = attributes;
}

unsigned TestFileSystem::GetAttributes(const std::string& path) {
  const fs::path real = Real(path);
  std::error_code ec;
  if (fs::is_directory(real, ec)) return attrDirectory;
  if (!fs::is_regular_file(real, ec)) throw VbError(errFileNotFound, "File not found");
  return AttributesOf(real);
}

void TestFileSystem::Put(const std::string& path, const std::string& bytes) {
  const fs::path real = Real(path);
  fs::create_directories(real.parent_path());
  std::ofstream out(real, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + real.string());
}

std::string TestFileSystem::Get(const std::string& path) const {
  std::ifstream in(Real(path), std::ios::binary);
  if (!in) return std::string();
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TestFileSystem::Has(const std::string& path) const {
  std::error_code ec;
  return fs::is_regular_file(Real(path), ec);
}

void TestFileSystem::MakeFolder(const std::string& path) { fs::create_directories(Real(path)); }

std::string TestSystem::EnvironmentEntry(int index) {
  if (index < 1 || static_cast<std::size_t>(index) > environment.size()) return std::string();
  return environment[static_cast<std::size_t>(index - 1)];
}

bool TestSystem::GetSpecialFolderPath(int csidl, char* buffer260, bool) {
  foldersAsked.push_back(csidl);
  if (csidl != 46 || commonDocuments.empty() || commonDocuments.size() >= 260) return false;
  std::memcpy(buffer260, commonDocuments.c_str(), commonDocuments.size() + 1);
  return true;
}

unsigned TestSystem::GetSystemDirectory(char* buffer, unsigned size) {
  const auto n = static_cast<unsigned>(systemDirectory.size());
  if (n == 0) return 0;
  if (n + 1 > size) return n + 1;  // the size it would need
  std::memcpy(buffer, systemDirectory.c_str(), n + 1);
  return n;
}

std::intptr_t TestSystem::ShellExecute(Handle owner, const std::string& verb,
                                       const std::string& file, const std::string& parameters,
                                       const std::string& directory, int showCommand) {
  shellCalls.push_back({owner, verb, file, parameters, directory, showCommand});
  return 42;
}

}  // namespace ovlu::test
