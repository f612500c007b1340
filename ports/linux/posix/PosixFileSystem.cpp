// Files on Linux with the behaviour the agent relies on from Windows: paths
// written with "\" in Windows-1252, names stored as UTF-8 and found without
// regard to case, characters Windows refuses in names refused, drive letters
// only through the folder of drive links, existence tests that see files
// only, a rename that fails when the new name is taken, and a read-only file
// (no write bit for its owner) that cannot be deleted or written, whoever
// runs the agent.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/GatheringFile.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Vb.h"

namespace ovlu {

namespace {

// "Disk full": a write that found no room.
constexpr int errDiskFull = 61;

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The entry of a folder whose name equals this one (Windows-1252) but for
// case, folded as Windows folds the letters of that code page. Entries that
// are not UTF-8 of Windows-1252 characters match nothing.
std::optional<std::string> FindOtherCase(const std::string& folder, const std::string& ansiName) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return std::nullopt;
  const std::string key = LCase(ansiName);
  std::optional<std::string> found;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    const std::string ansi = Utf8ToAnsi(e->d_name);
    if (LCase(ansi) != key) continue;  // never equal where a character was not representable
    // Several spellings can only exist on a case-sensitive disk; take one
    // that does not depend on the order of the directory.
    if (!found || std::strcmp(e->d_name, found->c_str()) < 0) found = e->d_name;
  }
  ::closedir(dir);
  return found;
}

std::string Slashes(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string FolderOf(const std::string& posixPath) {
  std::string p = posixPath;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::string NameOf(const std::string& posixPath) {
  std::string p = posixPath;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool IsFolder(const std::string& posixPath) {
  struct stat st;
  return ::stat(posixPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The run-time error that Windows raises for the same failure.
int ErrorNumberFor(int err, const std::string& posixPath) {
  switch (err) {
    case ENOENT:
      // Windows tells a missing file from a missing folder.
      return IsFolder(FolderOf(posixPath)) ? errFileNotFound : errPathNotFound;
    case ENOTDIR:
    case ELOOP:
      return errPathNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return errFileExists;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
      return errPermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return errDiskFull;
    default:
      return errPathFileAccess;
  }
}

[[noreturn]] void Fail(int err, const std::string& what, const std::string& posixPath) {
  throw VbError(ErrorNumberFor(err, posixPath), what + " " + posixPath + ": " + std::strerror(err));
}

bool OwnerMayWrite(const struct stat& st) { return (st.st_mode & S_IWUSR) != 0; }

void WriteAll(int fd, const unsigned char* data, std::size_t size, const std::string& posixPath) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno, "cannot write", posixPath);
    }
    if (n == 0) Fail(ENOSPC, "cannot write", posixPath);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// A file descriptor for the file layer's gathering file (platform/GatheringFile).
class PosixRawFile : public RawFile {
 public:
  PosixRawFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  void WriteAll(const unsigned char* data, std::size_t size) override {
    ovlu::WriteAll(fd_, data, size, path_);
  }
  // Some file systems (network ones, those over a full disk) report a write
  // that failed only here: the file is not whole then.
  void Close() override {
    if (::close(fd_) != 0 && errno != EINTR) Fail(errno, "cannot close", path_);
  }

 private:
  int fd_;
  std::string path_;
};

std::unique_ptr<BinaryFile> Gathering(int fd, const std::string& path) {
  return std::make_unique<GatheringFile>(std::make_unique<PosixRawFile>(fd, path));
}

// A scratch file without a name: made nameless in the temporary folder where
// the file system can (O_TMPFILE), else named and unlinked at once, so that
// the system frees it when the descriptor goes, also when the process dies.
// Appends go at the end, reads come from a position of their own; once all
// is read the file is emptied, so a long transfer does not grow it for ever.
class PosixScratchFile : public ScratchFile {
 public:
  PosixScratchFile() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      std::string name = Join(folder, "ovlu-scratch-XXXXXX");
      fd_ = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd_ < 0) Fail(errno, "cannot make a scratch file in", folder);
      ::unlink(name.c_str());
    }
  }
  ~PosixScratchFile() override { ::close(fd_); }
  PosixScratchFile(const PosixScratchFile&) = delete;
  PosixScratchFile& operator=(const PosixScratchFile&) = delete;

  void Append(const unsigned char* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, data, size, end_);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : ENOSPC, "cannot write", "the scratch file");
      data += n;
      size -= static_cast<std::size_t>(n);
      end_ += n;
    }
  }

  std::size_t Read(unsigned char* dst, std::size_t size) override {
    std::size_t got = 0;
    while (got < size && read_ < end_) {
      const std::size_t want =
          std::min<std::size_t>(size - got, static_cast<std::size_t>(end_ - read_));
      const ssize_t n = ::pread(fd_, dst + got, want, read_);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : EIO, "cannot read", "the scratch file");
      got += static_cast<std::size_t>(n);
      read_ += n;
    }
    if (read_ == end_ && end_ > 0) {
      read_ = end_ = 0;
      if (::ftruncate(fd_, 0) != 0) Fail(errno, "cannot empty", "the scratch file");
    }
    return got;
  }

 private:
  int fd_ = -1;
  off_t read_ = 0;
  off_t end_ = 0;
};

}  // namespace

std::string DriveLinksFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/')
    return std::string(config) + "/OVLiveUpdate/dosdevices";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/')
    return std::string(home) + "/.config/OVLiveUpdate/dosdevices";
  return std::string();
}

std::string ToPosixPath(const std::string& windowsPath) {
  const std::string p = Slashes(windowsPath);
  if (p.empty()) return p;

  std::string out;
  std::size_t pos = 0;
  const unsigned char first = static_cast<unsigned char>(p[0]);
  if (p.size() >= 2 && p[1] == ':' && ((first | 0x20) >= 'a' && (first | 0x20) <= 'z')) {
    // "C:\x" and "C:x" both start at the drive's root: there is no current
    // folder per drive here.
    const std::string links = DriveLinksFolder();
    const std::string drive = std::string(1, static_cast<char>(first | 0x20)) + ":";
    out = links + "/" + drive;
    if (links.empty() || !IsFolder(out))
      throw VbError(errPathNotFound, "no drive " + drive + " in " + links);
    pos = 2;
  } else if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
    throw VbError(errPathNotFound, "no network paths: " + windowsPath);
  } else if (p[0] == '/') {
    out = "/";
  }
  for (std::size_t i = pos; i < p.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr)
      throw VbError(errPathFileAccess, "a character Windows refuses in names: " + windowsPath);
  }

  bool resolving = true;
  while (pos < p.size()) {
    std::size_t end = p.find('/', pos);
    if (end == std::string::npos) end = p.size();
    const std::string ansi = p.substr(pos, end - pos);
    pos = end + 1;
    if (ansi.empty()) continue;
    std::string name = AnsiToUtf8(ansi);
    if (resolving && name != "." && name != "..") {
      struct stat st;
      if (::lstat(Join(out, name).c_str(), &st) != 0) {
        std::optional<std::string> other;
        if (errno == ENOENT) other = FindOtherCase(out, ansi);
        if (other)
          name = *other;
        else
          resolving = false;  // nothing further down can exist
      }
    }
    out = Join(out, name);
  }
  if (p.back() == '/' && !out.empty() && out.back() != '/') out += '/';
  return out;
}

int RenameByLink(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    const int err = errno;
    ::unlink(to.c_str());
    return err;
  }
  return 0;
}

bool PosixFileSystem::FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  try {
    return ::stat(ToPosixPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  } catch (const VbError&) {
    return false;  // a name that cannot exist
  }
}

bool PosixFileSystem::FileExistsAnyAttributes(const std::string& path) {
  // Nothing is hidden or system here: every file counts.
  return FileExists(path);
}

std::vector<unsigned char> PosixFileSystem::ReadAll(const std::string& path) {
  const std::string p = ToPosixPath(path);
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(errno, "cannot open", p);
  std::vector<unsigned char> data;
  unsigned char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      Fail(err, "cannot read", p);
    }
    if (n == 0) break;
    data.insert(data.end(), buffer, buffer + n);
  }
  ::close(fd);
  return data;
}

namespace {

// Opens a file for writing (creating it when absent) with the extra flags
// (O_APPEND); a read-only one is refused, as Windows refuses it.
int OpenForWrite(const std::string& p, int flags) {
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
    fd = ::open(p.c_str(), O_WRONLY | O_CLOEXEC | flags);
    if (fd >= 0) {
      // An existing file without its owner's write bit is read-only, as
      // the attribute is on Windows, even for root.
      struct stat st;
      if (::fstat(fd, &st) != 0 || !OwnerMayWrite(st)) {
        ::close(fd);
        throw VbError(errPathFileAccess, "read-only file: " + p);
      }
      break;
    }
    if (errno != ENOENT) Fail(errno, "cannot open", p);
    fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | flags, 0666);
    if (fd < 0 && errno != EEXIST) Fail(errno, "cannot create", p);
    // EEXIST: made by someone else meanwhile; open it as an existing file.
  }
  if (fd < 0) Fail(EEXIST, "cannot open", p);
  return fd;
}

}  // namespace

std::unique_ptr<BinaryFile> PosixFileSystem::OpenBinaryWrite(const std::string& path,
                                                             bool truncate) {
  const std::string p = ToPosixPath(path);
  const int fd = OpenForWrite(p, 0);
  if (truncate && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    Fail(err, "cannot empty", p);
  }
  return Gathering(fd, p);
}

std::unique_ptr<BinaryFile> PosixFileSystem::OpenAppend(const std::string& path) {
  const std::string p = ToPosixPath(path);
  return Gathering(OpenForWrite(p, O_APPEND), p);
}

long long PosixFileSystem::FileLength(const std::string& path) {
  const std::string p = ToPosixPath(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) Fail(errno, "cannot read the size of", p);
  if (!S_ISREG(st.st_mode)) Fail(ENOENT, "no file", p);
  return static_cast<long long>(st.st_size);
}

void PosixFileSystem::CreateTextFile(const std::string& path, const std::string& text) {
  // An existing file in any case of its name counts: the name resolves to it.
  const std::string p = ToPosixPath(path);
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) Fail(errno, "cannot create", p);
  const std::unique_ptr<BinaryFile> file = Gathering(fd, p);
  file->Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  file->Close();
}

void PosixFileSystem::Rename(const std::string& from, const std::string& to) {
  const std::string src = ToPosixPath(from);
  struct stat sst;
  if (::lstat(src.c_str(), &sst) != 0) Fail(errno, "cannot rename", src);

  std::string dst = ToPosixPath(to);
  // The new name may be the same file in another case: then only the
  // spelling changes, as on Windows.
  const std::string written = AnsiToUtf8(NameOf(Slashes(to)));
  struct stat dst_st;
  if (NameOf(dst) != written && ::lstat(dst.c_str(), &dst_st) == 0 && dst_st.st_dev == sst.st_dev &&
      dst_st.st_ino == sst.st_ino)
    dst = Join(FolderOf(dst), written);

  int err = 0;
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) != 0) {
    err = errno;
    // File systems without the no-replace flag still refuse a taken name
    // through link().
    if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) err = RenameByLink(src, dst);
  }
  if (err != 0) Fail(err, "cannot rename " + src + " to", dst);
}

void PosixFileSystem::Delete(const std::string& path) {
  const std::string p = ToPosixPath(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) Fail(errno, "cannot delete", p);
  if (S_ISDIR(st.st_mode)) throw VbError(errPathFileAccess, "a folder, not a file: " + p);
  if (!S_ISLNK(st.st_mode) && !OwnerMayWrite(st))
    throw VbError(errPathFileAccess, "read-only file: " + p);
  if (::unlink(p.c_str()) != 0) Fail(errno, "cannot delete", p);
}

void PosixFileSystem::SetAttributes(const std::string& path, unsigned attributes) {
  const std::string p = ToPosixPath(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) Fail(errno, "cannot set attributes of", p);
  mode_t mode = st.st_mode & 07777;
  // Only read-only has a place here; hidden, system and archive do not.
  if (attributes & attrReadOnly)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  if (::chmod(p.c_str(), mode) != 0) Fail(errno, "cannot set attributes of", p);
}

unsigned PosixFileSystem::GetAttributes(const std::string& path) {
  const std::string p = ToPosixPath(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) Fail(errno, "cannot read attributes of", p);
  unsigned a = S_ISDIR(st.st_mode) ? attrDirectory : attrArchive;
  if (!OwnerMayWrite(st)) a |= attrReadOnly;
  return a;
}

std::string PosixFileSystem::CurrentDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::strlen(buffer.c_str()));
      return Utf8ToAnsi(buffer);
    }
    if (errno != ERANGE)
      throw VbError(errPathNotFound, std::string("getcwd: ") + std::strerror(errno));
    buffer.resize(buffer.size() * 2);
  }
}

std::unique_ptr<ScratchFile> PosixFileSystem::CreateScratch() {
  return std::make_unique<PosixScratchFile>();
}

}  // namespace ovlu
