#include "tests/core/TestHost.h"

#include <algorithm>
#include <fstream>
#include <string_view>

#include "shell/Vb.h"

namespace fs = std::filesystem;

namespace ovlu::test {

namespace {

// Names lie on disk in UTF-8, as the Linux file layer keeps them, and are
// Windows-1252 text for the agent, on either platform.
fs::path OnDisk(const std::string& ansi) {
  const std::string utf8 = AnsiToUtf8(ansi);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string Ansi(const std::u8string& utf8) {
  return Utf8ToAnsi(std::string(utf8.begin(), utf8.end()));
}

// Attributes belong to the file, whatever spelling reached it.
std::string Key(const fs::path& real) { return LCase(Ansi(real.generic_u8string())); }

bool IsFile(const fs::path& real) {
  std::error_code ec;
  return fs::is_regular_file(real, ec);
}

class TestBinaryFile : public BinaryFile {
 public:
  explicit TestBinaryFile(std::fstream f) : f_(std::move(f)) {}
  void Write(const unsigned char* data, std::size_t size) override {
    if (!f_.is_open()) throw VbError(errInvalidCall, "file is closed");
    f_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f_) throw VbError(errPathFileAccess, "write failed");
  }
  void Close() override { f_.close(); }

 private:
  std::fstream f_;
};

// A named file that goes with the object; reads and appends by position.
class TestScratchFile : public ScratchFile {
 public:
  explicit TestScratchFile(fs::path path) : path_(std::move(path)) {
    f_.open(path_, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    if (!f_) throw VbError(errPathFileAccess, "cannot make a scratch file");
  }
  ~TestScratchFile() override {
    f_.close();
    std::error_code ec;
    fs::remove(path_, ec);
  }
  void Append(const unsigned char* data, std::size_t size) override {
    f_.seekp(static_cast<std::streamoff>(end_));
    f_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f_) throw VbError(errPathFileAccess, "scratch write failed");
    end_ += size;
  }
  std::size_t Read(unsigned char* dst, std::size_t size) override {
    const std::size_t n = std::min(size, end_ - read_);
    f_.seekg(static_cast<std::streamoff>(read_));
    f_.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(n));
    if (!f_) throw VbError(errPathFileAccess, "scratch read failed");
    read_ += n;
    return n;
  }

 private:
  fs::path path_;
  std::fstream f_;
  std::size_t read_ = 0, end_ = 0;
};

}  // namespace

std::unique_ptr<ScratchFile> TestFileSystem::CreateScratch() {
  return std::make_unique<TestScratchFile>(scratch_.Folder() /
                                           ("scratch" + std::to_string(++scratchMade)));
}

int TestFileSystem::ScratchLeft() const {
  std::error_code ec;
  int n = 0;
  for (const auto& e : fs::directory_iterator(scratch_.Folder(), ec)) n += e.is_regular_file();
  return n;
}

fs::path TestFileSystem::Real(const std::string& windowsPath) const {
  const bool drive = windowsPath.size() >= 2 && windowsPath[1] == ':';
  for (std::size_t i = drive ? 2 : 0; i < windowsPath.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(windowsPath[i]);
    if (c < 0x20 || std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string::npos)
      throw VbError(errPathFileAccess, "Path/File access error");
  }
  std::string path = drive ? windowsPath.substr(2) : windowsPath;
  if (path.empty() || (path[0] != '\\' && path[0] != '/'))
    path = currentDirectory.substr(2) + "\\" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  std::vector<std::string> parts;
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '\\');) {
    if (part == ".." && !parts.empty())
      parts.pop_back();
    else if (!part.empty() && part != "." && part != "..")
      parts.push_back(part);
  }
  fs::path real =
      root_.Folder() / LCase(std::string(1, drive ? windowsPath[0] : currentDirectory[0]));
  for (const std::string& part : parts) {
    fs::path next = real / OnDisk(part);
    std::error_code ec;
    if (!fs::exists(next, ec) && fs::is_directory(real, ec)) {
      for (const auto& entry : fs::directory_iterator(real, ec)) {
        if (LCase(Ansi(entry.path().filename().u8string())) == LCase(part)) {
          next = entry.path();
          break;
        }
      }
    }
    real = next;
  }
  return real;
}

unsigned& TestFileSystem::Attributes(const fs::path& real) {
  return attributes_.try_emplace(Key(real), attrArchive).first->second;
}

fs::path TestFileSystem::File(const std::string& path) const {
  fs::path real = Real(path);
  std::error_code ec;
  if (IsFile(real)) return real;
  if (fs::is_directory(real, ec)) throw VbError(errPathFileAccess, "Path/File access error");
  if (!fs::is_directory(real.parent_path(), ec)) throw VbError(errPathNotFound, "Path not found");
  throw VbError(errFileNotFound, "File not found");
}

fs::path TestFileSystem::Writable(const std::string& path) {
  fs::path real = Real(path);
  std::error_code ec;
  if (fs::exists(real, ec) && (Attributes(real) & attrReadOnly))
    throw VbError(errPathFileAccess, "Path/File access error");
  if (!fs::is_directory(real.parent_path(), ec)) throw VbError(errPathNotFound, "Path not found");
  return real;
}

bool TestFileSystem::FileExists(const std::string& path) {
  return Has(path) && (Attributes(Real(path)) & (attrHidden | attrSystem)) == 0;
}

std::vector<unsigned char> TestFileSystem::ReadAll(const std::string& path) {
  std::ifstream in(File(path), std::ios::binary);
  if (!in) throw VbError(errPathFileAccess, "Path/File access error");
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::unique_ptr<BinaryFile> TestFileSystem::OpenBinaryWrite(const std::string& path,
                                                            bool truncate) {
  const fs::path real = Writable(path);
  const bool keep = !truncate && IsFile(real);
  std::fstream f(real, std::ios::binary | std::ios::out | (keep ? std::ios::in : std::ios::trunc));
  if (!f) throw VbError(errPathFileAccess, "Path/File access error");
  return std::make_unique<TestBinaryFile>(std::move(f));
}

std::unique_ptr<BinaryFile> TestFileSystem::OpenAppend(const std::string& path) {
  const fs::path real = Writable(path);
  std::fstream f(real, std::ios::binary | std::ios::out | std::ios::app);
  if (!f) throw VbError(errPathFileAccess, "Path/File access error");
  return std::make_unique<TestBinaryFile>(std::move(f));
}

long long TestFileSystem::FileLength(const std::string& path) {
  return static_cast<long long>(fs::file_size(File(path)));
}

void TestFileSystem::CreateTextFile(const std::string& path, const std::string& text) {
  const fs::path real = Writable(path);
  if (IsFile(real)) throw VbError(errFileExists, "File already exists");
  std::ofstream out(real, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw VbError(errPathFileAccess, "Path/File access error");
  attributes_.erase(Key(real));
}

void TestFileSystem::Rename(const std::string& from, const std::string& to) {
  const fs::path src = File(from), dst = Real(to);
  std::error_code ec;
  if (fs::exists(dst, ec)) throw VbError(errFileExists, "File already exists");
  Writable(to);
  fs::rename(src, dst, ec);
  if (ec) throw VbError(errPathFileAccess, "Path/File access error");
  if (auto node = attributes_.extract(Key(src))) attributes_[Key(dst)] = node.mapped();
}

void TestFileSystem::Delete(const std::string& path) {
  const fs::path real = File(path);
  std::error_code ec;
  if (Attributes(real) & attrReadOnly) throw VbError(errPathFileAccess, "Path/File access error");
  if (!fs::remove(real, ec) || ec) throw VbError(errPathFileAccess, "Path/File access error");
  attributes_.erase(Key(real));
}

unsigned TestFileSystem::GetAttributes(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(Real(path), ec) ? attrDirectory : Attributes(File(path));
}

bool TestFileSystem::Has(const std::string& path) const {
  try {
    return IsFile(Real(path));
  } catch (const VbError&) {
    return false;  // a name that cannot exist
  }
}

}  // namespace ovlu::test
