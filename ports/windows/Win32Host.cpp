#include "ports/windows/WinApi.h"
// (the Windows headers first: see WinApi.h)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/GatheringFile.h"
#include "ports/windows/Win32Host.h"

namespace ovlu::win {

int FileErrorNumber(unsigned long winError) {
  switch (winError) {
    case ERROR_FILE_NOT_FOUND:
      return errFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return errPathNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return errFileExists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return errPermissionDenied;
    default:
      return errPathFileAccess;
  }
}

namespace {

[[noreturn]] void ThrowLastError(const std::string& what) {
  const DWORD code = ::GetLastError();
  throw VbError(FileErrorNumber(code), what + " (Windows error " + std::to_string(code) + ")");
}

// A file handle for the file layer's gathering file (platform/GatheringFile).
class Win32RawFile : public RawFile {
 public:
  explicit Win32RawFile(HANDLE h) : h_(h) {}
  void WriteAll(const unsigned char* data, std::size_t size) override {
    while (size > 0) {
      const DWORD part = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!::WriteFile(h_, data, part, &written, nullptr) || written == 0)
        ThrowLastError("WriteFile");
      data += written;
      size -= written;
    }
  }
  void Close() override { ::CloseHandle(h_); }

 private:
  HANDLE h_;
};

std::unique_ptr<BinaryFile> Gathering(HANDLE h) {
  return std::make_unique<GatheringFile>(std::make_unique<Win32RawFile>(h));
}

// A scratch file in the user's temporary folder, opened to be deleted when
// its handle closes: the system removes it also when the process dies.
// Appends go at the end, reads come from a position of their own (both by
// explicit offsets); once all is read the file is emptied, so that a long
// transfer does not grow it for ever.
class Win32ScratchFile : public ScratchFile {
 public:
  Win32ScratchFile() {
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof folder, folder);
    if (n == 0 || n > MAX_PATH) ThrowLastError("GetTempPathA");
    if (::GetTempFileNameA(folder, "ovl", 0, name) == 0) ThrowLastError("GetTempFileNameA");
    h_ = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h_ == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      ::DeleteFileA(name);
      ::SetLastError(code);
      ThrowLastError("CreateFileA (scratch)");
    }
  }
  ~Win32ScratchFile() override { ::CloseHandle(h_); }
  Win32ScratchFile(const Win32ScratchFile&) = delete;
  Win32ScratchFile& operator=(const Win32ScratchFile&) = delete;

  void Append(const unsigned char* data, std::size_t size) override {
    while (size > 0) {
      const DWORD part = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
      OVERLAPPED at = At(end_);
      DWORD written = 0;
      if (!::WriteFile(h_, data, part, &written, &at) || written == 0)
        ThrowLastError("WriteFile (scratch)");
      data += written;
      size -= written;
      end_ += written;
    }
  }

  std::size_t Read(unsigned char* dst, std::size_t size) override {
    std::size_t got = 0;
    while (got < size && read_ < end_) {
      const unsigned long long left = end_ - read_;
      const DWORD part = static_cast<DWORD>(std::min<unsigned long long>(
          std::min<unsigned long long>(size - got, left), 0x10000000u));
      OVERLAPPED at = At(read_);
      DWORD n = 0;
      if (!::ReadFile(h_, dst + got, part, &n, &at) || n == 0) ThrowLastError("ReadFile (scratch)");
      got += n;
      read_ += n;
    }
    if (read_ == end_ && end_ > 0) {
      read_ = end_ = 0;
      LARGE_INTEGER zero{};
      if (!::SetFilePointerEx(h_, zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(h_))
        ThrowLastError("SetEndOfFile (scratch)");
    }
    return got;
  }

 private:
  static OVERLAPPED At(unsigned long long offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
  }

  HANDLE h_ = INVALID_HANDLE_VALUE;
  unsigned long long read_ = 0;
  unsigned long long end_ = 0;
};

}  // namespace

// ---------------------------------------------------------------- files

bool Win32FileSystem::FileExists(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  return (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

bool Win32FileSystem::FileExistsAnyAttributes(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::vector<unsigned char> Win32FileSystem::ReadAll(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError("cannot open " + path);
  std::vector<unsigned char> data;
  unsigned char buffer[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      const DWORD code = ::GetLastError();
      ::CloseHandle(h);
      throw VbError(FileErrorNumber(code), "cannot read " + path);
    }
    if (got == 0) break;
    data.insert(data.end(), buffer, buffer + got);
  }
  ::CloseHandle(h);
  return data;
}

namespace {

// Opens a file for writing with the access asked (creating it when absent).
// Windows refuses to write a read-only file whoever asks; Wine lets its
// root user through, so the attribute is read first.
HANDLE OpenForWrite(const std::string& path, DWORD access) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES &&
      (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_READONLY)
    throw VbError(errPathFileAccess, "read-only file: " + path);
  HANDLE h = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError("cannot open " + path);
  return h;
}

}  // namespace

std::unique_ptr<BinaryFile> Win32FileSystem::OpenBinaryWrite(const std::string& path,
                                                             bool truncate) {
  HANDLE h = OpenForWrite(path, GENERIC_WRITE);
  if (truncate && !::SetEndOfFile(h)) {
    const DWORD code = ::GetLastError();
    ::CloseHandle(h);
    throw VbError(FileErrorNumber(code), "cannot empty " + path);
  }
  return Gathering(h);
}

std::unique_ptr<BinaryFile> Win32FileSystem::OpenAppend(const std::string& path) {
  return Gathering(OpenForWrite(path, FILE_APPEND_DATA));
}

long long Win32FileSystem::FileLength(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    ThrowLastError("cannot read the size of " + path);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    throw VbError(errFileNotFound, "no file: " + path);
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Win32FileSystem::CreateTextFile(const std::string& path, const std::string& text) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError("cannot create " + path);
  const std::unique_ptr<BinaryFile> file = Gathering(h);
  file->Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  file->Close();
}

void Win32FileSystem::Rename(const std::string& from, const std::string& to) {
  if (!::MoveFileA(from.c_str(), to.c_str())) ThrowLastError("cannot rename " + from);
}

void Win32FileSystem::Delete(const std::string& path) {
  if (!::DeleteFileA(path.c_str())) ThrowLastError("cannot delete " + path);
}

void Win32FileSystem::SetAttributes(const std::string& path, unsigned attributes) {
  if (!::SetFileAttributesA(path.c_str(), attributes))
    ThrowLastError("cannot set attributes of " + path);
}

unsigned Win32FileSystem::GetAttributes(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) ThrowLastError("cannot read attributes of " + path);
  // Only the classic attribute bits; "normal" (128) and the NTFS extras are
  // not part of the values the agent works with.
  return a & (attrReadOnly | attrHidden | attrSystem | 8u | attrDirectory | attrArchive);
}

std::string Win32FileSystem::CurrentDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = ::GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0) ThrowLastError("GetCurrentDirectoryA");
  if (n < sizeof buffer) return std::string(buffer, n);
  std::string big(n, '\0');
  n = ::GetCurrentDirectoryA(n, big.data());
  big.resize(n);
  return big;
}

std::unique_ptr<ScratchFile> Win32FileSystem::CreateScratch() {
  return std::make_unique<Win32ScratchFile>();
}

// ---------------------------------------------------------------- text helpers

std::string ArgumentsAfterProgramName(const std::string& commandLine) {
  std::size_t p = 0;
  const std::size_t n = commandLine.size();
  if (p < n && commandLine[p] == '"') {
    const std::size_t close = commandLine.find('"', p + 1);
    p = close == std::string::npos ? n : close + 1;
  }
  // An unquoted name, or whatever sticks to the closing quote, runs to the
  // first blank.
  while (p < n && commandLine[p] != ' ' && commandLine[p] != '\t') ++p;
  while (p < n && (commandLine[p] == ' ' || commandLine[p] == '\t')) ++p;
  return commandLine.substr(p);
}

std::string FolderOfPath(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  std::string folder = path.substr(0, slash);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';  // "C:\x.exe" -> "C:\"
  return folder;
}

std::string BaseNameWithoutExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string InstanceMutexName(const std::string& exePath) {
  // Mutex names may not hold "\" beyond the namespace prefix, and the same
  // program must map to the same name whatever the case of its path.
  std::string key;
  for (char c : exePath) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z') u = static_cast<unsigned char>(u - 'A' + 'a');
    key += u == '\\' ? '/' : static_cast<char>(u);
  }
  if (key.size() > 200) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char u : key) h = (h ^ u) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    key = hex;
  }
  return "Local\\OVLiveUpdate:" + key;
}

// ---------------------------------------------------------------- system

std::string Win32System::EnvironmentEntry(int index) {
  if (index < 1) throw VbError(errInvalidCall, "environment index below 1");
  char* block = ::GetEnvironmentStringsA();
  std::string entry;
  const char* p = block;
  for (int i = 1; p != nullptr && *p != '\0'; ++i) {
    const std::size_t n = std::strlen(p);
    if (i == index) {
      entry.assign(p, n);
      break;
    }
    p += n + 1;
  }
  if (block != nullptr) ::FreeEnvironmentStringsA(block);
  return entry;
}

bool Win32System::GetSpecialFolderPath(int csidl, char* buffer260, bool create) {
  return ::SHGetSpecialFolderPathA(nullptr, buffer260, csidl, create ? TRUE : FALSE) != FALSE;
}

unsigned Win32System::GetSystemDirectory(char* buffer, unsigned size) {
  return ::GetSystemDirectoryA(buffer, size);
}

std::intptr_t Win32System::ShellExecute(Handle owner, const std::string& verb,
                                        const std::string& file, const std::string& parameters,
                                        const std::string& directory, int showCommand) {
  HINSTANCE r = ::ShellExecuteA(reinterpret_cast<HWND>(owner), verb.c_str(), file.c_str(),
                                parameters.c_str(), directory.c_str(), showCommand);
  return reinterpret_cast<std::intptr_t>(r);
}

bool Win32System::PreviousInstance() {
  // The mutex is made once and held until the process ends; asking again
  // gives the first answer.
  if (instanceState_ < 0) {
    std::string name;
    if (const char* over = std::getenv("OVLU_INSTANCE_NAME"); over != nullptr && *over != '\0') {
      name = std::string("Local\\OVLiveUpdate:") + over;
    } else {
      char exe[MAX_PATH + 1];
      const DWORD n = ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
      name = InstanceMutexName(n > 0 ? std::string(exe, n) : std::string("OVLiveUpdate"));
    }
    HANDLE m = ::CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD code = ::GetLastError();
    instanceMutex_ = m;
    instanceState_ = (m != nullptr && code == ERROR_ALREADY_EXISTS) || code == ERROR_ACCESS_DENIED;
  }
  return instanceState_ == 1;
}

namespace {
std::string ModulePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}
}  // namespace

std::string Win32System::AppPath() { return FolderOfPath(ModulePath()); }

std::string Win32System::AppExeName() { return BaseNameWithoutExtension(ModulePath()); }

std::string Win32System::CommandLine() {
  const char* line = ::GetCommandLineA();
  return ArgumentsAfterProgramName(line != nullptr ? line : "");
}

std::string Win32System::DecimalSeparator() {
  char buffer[8] = {};
  const int n = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer);
  if (n <= 1) return ".";
  return std::string(buffer);
}

void Win32System::InitCommonControls() {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS;
  ::InitCommonControlsEx(&icc);
}

void Win32System::EndProcess(int code) {
  // What was received stays on disk as far as it got.
  GatheringFile::FlushAll();
  ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace ovlu::win
