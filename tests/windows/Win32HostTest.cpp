// The Windows file system and process layer, against real files in a
// temporary folder.
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ports/windows/Win32Host.h"

namespace ovlu::win {
namespace {

class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "ovlu-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(counter_++);
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() { Remove(path_); }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& path() const { return path_; }

 private:
  static void Remove(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = dir + "\\" + name;
        ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          Remove(full);
        else
          ::DeleteFileA(full.c_str());
      } while (::FindNextFileA(h, &fd));
      ::FindClose(h);
    }
    ::RemoveDirectoryA(dir.c_str());
  }
  static inline int counter_ = 0;
  std::string path_;
};

void Put(const std::string& path, const std::string& text, DWORD attributes = 0) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD n = 0;
  ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  ::CloseHandle(h);
  if (attributes != 0) ::SetFileAttributesA(path.c_str(), attributes);
}

std::string Content(const std::string& path) {
  Win32FileSystem fs;
  const std::vector<unsigned char> bytes = fs.ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const VbError& e) {
    return e.number;
  }
  return 0;
}

TEST(Win32FileSystem, ExistenceTestsByAttributes) {
  TempFolder dir;
  Put(dir / "plain.txt", "x");
  Put(dir / "ro.txt", "x", FILE_ATTRIBUTE_READONLY);
  Put(dir / "hidden.txt", "x", FILE_ATTRIBUTE_HIDDEN);
  Put(dir / "system.txt", "x", FILE_ATTRIBUTE_SYSTEM);
  Put(dir / "all.txt", "x", 39);
  ::CreateDirectoryA((dir / "folder").c_str(), nullptr);
  struct Case {
    const char* name;
    bool exists;
    bool existsAny;
  };
  const Case cases[] = {
      {"plain.txt", true, true},  {"PLAIN.TXT", true, true},   {"ro.txt", true, true},
      {"hidden.txt", false, true}, {"system.txt", false, true}, {"all.txt", false, true},
      {"folder", false, false},   {"missing.txt", false, false},
  };
  Win32FileSystem fs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fs.FileExists(dir / c.name), c.exists);
    EXPECT_EQ(fs.FileExistsAnyAttributes(dir / c.name), c.existsAny);
  }
}

TEST(Win32FileSystem, RenameAndDeleteFailLikeTheFileSystem) {
  TempFolder dir;
  Win32FileSystem fs;
  Put(dir / "a", "A");
  Put(dir / "b", "B");
  Put(dir / "locked", "L", FILE_ATTRIBUTE_READONLY);

  EXPECT_NE(ErrorOf([&] { fs.Rename(dir / "a", dir / "b"); }), 0);  // destination exists
  EXPECT_EQ(Content(dir / "a"), "A");
  EXPECT_EQ(Content(dir / "b"), "B");
  EXPECT_EQ(ErrorOf([&] { fs.Rename(dir / "nothing", dir / "c"); }), errFileNotFound);
  EXPECT_EQ(ErrorOf([&] { fs.Rename(dir / "a", dir / "c"); }), 0);
  EXPECT_EQ(Content(dir / "c"), "A");
  EXPECT_FALSE(fs.FileExists(dir / "a"));

  EXPECT_NE(ErrorOf([&] { fs.Delete(dir / "locked"); }), 0);  // read-only stays
  EXPECT_TRUE(fs.FileExists(dir / "locked"));
  EXPECT_EQ(ErrorOf([&] { fs.Delete(dir / "gone"); }), errFileNotFound);
  EXPECT_EQ(ErrorOf([&] { fs.Delete(dir / "c"); }), 0);
  EXPECT_FALSE(fs.FileExistsAnyAttributes(dir / "c"));
  EXPECT_EQ(ErrorOf([&] { fs.ReadAll(dir / "c"); }), errFileNotFound);
}

TEST(Win32FileSystem, WritingFiles) {
  TempFolder dir;
  Win32FileSystem fs;
  // Binary writes start at the first byte; without truncation the old tail stays.
  Put(dir / "keep", "0123456789");
  {
    auto f = fs.OpenBinaryWrite(dir / "keep", false);
    f->Write(reinterpret_cast<const unsigned char*>("ab"), 2);
    f->Close();
    f->Close();
  }
  EXPECT_EQ(Content(dir / "keep"), "ab23456789");
  Put(dir / "cut", "0123456789");
  {
    auto f = fs.OpenBinaryWrite(dir / "cut", true);
    f->Write(reinterpret_cast<const unsigned char*>("ab\r\n\0z"), 6);
  }  // closed by its destructor
  EXPECT_EQ(Content(dir / "cut"), std::string("ab\r\n\0z", 6));
  {
    auto f = fs.OpenBinaryWrite(dir / "new", false);
    f->Write(reinterpret_cast<const unsigned char*>("n"), 1);
  }
  EXPECT_EQ(Content(dir / "new"), "n");
  EXPECT_NE(ErrorOf([&] { fs.OpenBinaryWrite(dir / "no\\such\\folder\\f", false); }), 0);

  // A text file is made new, byte for byte, and never over an existing one.
  EXPECT_EQ(ErrorOf([&] { fs.CreateTextFile(dir / "t.manifest", "line 1\r\nline 2"); }), 0);
  EXPECT_EQ(Content(dir / "t.manifest"), "line 1\r\nline 2");
  EXPECT_NE(ErrorOf([&] { fs.CreateTextFile(dir / "t.manifest", "other"); }), 0);
  EXPECT_EQ(Content(dir / "t.manifest"), "line 1\r\nline 2");

  // Read-only, hidden, system and archive together read back as 39.
  fs.SetAttributes(dir / "t.manifest", 39);
  EXPECT_EQ(fs.GetAttributes(dir / "t.manifest"), 39u);
  EXPECT_TRUE(fs.FileExistsAnyAttributes(dir / "t.manifest"));
  EXPECT_FALSE(fs.FileExists(dir / "t.manifest"));
  EXPECT_EQ(fs.GetAttributes(dir.path()) & attrDirectory, unsigned{attrDirectory});
  EXPECT_NE(ErrorOf([&] { fs.GetAttributes(dir / "missing"); }), 0);
}

TEST(Win32System, TextOfPathsAndCommandLines) {
  struct Line {
    const char* commandLine;
    const char* arguments;
  };
  const Line lines[] = {
      {"C:\\OrVento\\OVLiveUpdate.exe", ""},
      {"\"C:\\Program Files\\OV\\OVLiveUpdate.exe\" /auto  now ", "/auto  now "},
      {"\"C:\\Program Files\\OV\\OVLiveUpdate.exe\"", ""},
      {"OVLiveUpdate.exe   -a", "-a"},
      {"OVLiveUpdate\tfoo", "foo"},
      {"OVLiveUpdate.exe ", ""},
  };
  for (const Line& l : lines) EXPECT_EQ(ArgumentsAfterProgramName(l.commandLine), l.arguments)
                                  << l.commandLine;

  struct Path {
    const char* path;
    const char* folder;
    const char* base;
  };
  const Path paths[] = {
      {"C:\\OrVento\\OVLiveUpdate.exe", "C:\\OrVento", "OVLiveUpdate"},
      {"C:\\OVLiveUpdate.exe", "C:\\", "OVLiveUpdate"},
      {"C:\\OV\\x.exe.exe", "C:\\OV", "x.exe"},
      {"\\\\server\\share\\agent.exe", "\\\\server\\share", "agent"},
      {"C:\\v1.2\\prog", "C:\\v1.2", "prog"},
  };
  for (const Path& p : paths) {
    EXPECT_EQ(FolderOfPath(p.path), p.folder) << p.path;
    EXPECT_EQ(BaseNameWithoutExtension(p.path), p.base) << p.path;
  }
  // The same program whatever the case of its path; another folder differs.
  EXPECT_EQ(InstanceMutexName("C:\\OV\\A.EXE"), InstanceMutexName("c:\\ov\\a.exe"));
  EXPECT_NE(InstanceMutexName("C:\\OV\\a.exe"), InstanceMutexName("C:\\OW\\a.exe"));
  EXPECT_EQ(InstanceMutexName("C:\\OV\\a.exe").find('\\', 6), std::string::npos);
  EXPECT_LT(InstanceMutexName(std::string(300, 'x')).size(), 260u);
}

TEST(Win32System, EnvironmentEntriesInOrderFromOne) {
  ASSERT_TRUE(::SetEnvironmentVariableA("OVLU_TEST_ENTRY", "a=b"));
  Win32System sys;
  std::vector<std::string> seen;
  for (int i = 1; i < 100000; ++i) {
    const std::string e = sys.EnvironmentEntry(i);
    if (e.empty()) break;
    seen.push_back(e);
  }
  char* block = ::GetEnvironmentStringsA();
  EXPECT_EQ(seen, SplitEnvironmentBlock(block));
  ::FreeEnvironmentStringsA(block);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "OVLU_TEST_ENTRY=a=b"), seen.end());
  EXPECT_EQ(sys.EnvironmentEntry(static_cast<int>(seen.size()) + 1), "");
  EXPECT_THROW(sys.EnvironmentEntry(0), VbError);

  const char block2[] = "=C:=C:\\\0windir=C:\\windows\0\0";
  EXPECT_EQ(SplitEnvironmentBlock(block2),
            (std::vector<std::string>{"=C:=C:\\", "windir=C:\\windows"}));
  EXPECT_TRUE(SplitEnvironmentBlock("\0\0").empty());
}

TEST(Win32System, PreviousInstanceSeesAnotherHolderOfTheName) {
  const std::string name = "test-" + std::to_string(::GetCurrentProcessId());
  _putenv_s("OVLU_INSTANCE_NAME", name.c_str());
  Win32System first;
  EXPECT_FALSE(first.PreviousInstance());
  EXPECT_FALSE(first.PreviousInstance());  // its own mutex does not count
  Win32System second;
  EXPECT_TRUE(second.PreviousInstance());
  _putenv_s("OVLU_INSTANCE_NAME", "");
}

TEST(Win32System, ProcessValues) {
  Win32System sys;
  char exe[MAX_PATH];
  ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
  EXPECT_EQ(sys.AppExeName(), "ovlu_windows_tests");
  EXPECT_EQ(sys.AppPath() + "\\" + sys.AppExeName() + ".exe", std::string(exe));

  // The all-users documents folder exists and is a folder.
  char buffer[260];
  std::fill(buffer, buffer + 260, ' ');
  ASSERT_TRUE(sys.GetSpecialFolderPath(0x2E, buffer, false));
  const DWORD a = ::GetFileAttributesA(buffer);
  ASSERT_NE(a, INVALID_FILE_ATTRIBUTES) << buffer;
  EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);

  char sysdir[256];
  const unsigned n = sys.GetSystemDirectory(sysdir, 256);
  ASSERT_GT(n, 0u);
  EXPECT_NE(::GetFileAttributesA((std::string(sysdir, n) + "\\regsvr32.exe").c_str()),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(sys.GetSystemDirectory(sysdir, 2) > 2, true);  // too small: the size needed

  const std::string sep = sys.DecimalSeparator();
  EXPECT_TRUE(sep == "." || sep == ",") << sep;
}

}  // namespace
}  // namespace ovlu::win
