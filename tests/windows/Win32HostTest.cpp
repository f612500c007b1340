// The Windows file system and process layer, against real files in a
// temporary folder.
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "ports/windows/Win32Host.h"
#include "tests/ErrorOf.h"

namespace ovlu::win {
namespace {

// A fresh folder under %TEMP%, removed with what it holds.
struct TempFolder {
  std::string path;
  TempFolder() {
    char base[MAX_PATH];
    path = std::string(base, ::GetTempPathA(MAX_PATH, base)) + "ovlu-" +
           std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(path.c_str(), nullptr);
  }
  ~TempFolder() {
    std::error_code ec;  // read-only files are made writable first
    for (const auto& e : std::filesystem::directory_iterator(path, ec))
      ::SetFileAttributesA(e.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return path + "\\" + name; }
};

class FileSystemTest : public ::testing::Test {
 protected:
  void Put(const std::string& name, const std::string& text, unsigned attributes = 0) {
    fs.OpenBinaryWrite(dir / name, true)
        ->Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (attributes != 0) fs.SetAttributes(dir / name, attributes);
  }
  std::string Content(const std::string& name) {
    const std::vector<unsigned char> bytes = fs.ReadAll(dir / name);
    return std::string(bytes.begin(), bytes.end());
  }
  TempFolder dir;
  Win32FileSystem fs;
};

TEST_F(FileSystemTest, ExistenceTestsByAttributes) {
  ::CreateDirectoryA((dir / "folder").c_str(), nullptr);
  const struct {
    const char* name;
    unsigned attributes;  // 0: not made
    bool exists, existsAny;
  } cases[] = {
      {"plain.txt", attrArchive, true, true},
      {"ro.txt", attrReadOnly, true, true},
      {"hidden.txt", attrHidden, false, true},
      {"system.txt", attrSystem, false, true},
      {"all.txt", 39, false, true},
      {"folder", 0, false, false},
      {"missing.txt", 0, false, false},
  };
  for (const auto& c : cases)
    if (c.attributes != 0) Put(c.name, "x", c.attributes);
  EXPECT_EQ(fs.GetAttributes(dir / "all.txt"), 39u);
  EXPECT_EQ(fs.GetAttributes(dir / "folder") & attrDirectory, unsigned{attrDirectory});
  EXPECT_NE(ErrorOf([&] { fs.GetAttributes(dir / "missing"); }), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fs.FileExists(dir / c.name), c.exists);
    EXPECT_EQ(fs.FileExistsAnyAttributes(dir / c.name), c.existsAny);
  }
}

TEST_F(FileSystemTest, RenameDeleteAndCreateFailLikeTheFileSystem) {
  Put("a", "A");
  Put("b", "B");
  Put("locked", "L", attrReadOnly);
  // Error 0: the call succeeds; -1: any error.
  const struct {
    std::function<void()> call;
    int error;
  } cases[] = {
      {[&] { fs.Rename(dir / "a", dir / "b"); }, -1},  // never over an existing file
      {[&] { fs.Rename(dir / "nothing", dir / "c"); }, errFileNotFound},
      {[&] { fs.Rename(dir / "a", dir / "c"); }, 0},
      {[&] { fs.Delete(dir / "locked"); }, -1},
      {[&] { fs.Delete(dir / "gone"); }, errFileNotFound},
      {[&] { fs.ReadAll(dir / "a"); }, errFileNotFound},
      {[&] { fs.CreateTextFile(dir / "t", "line 1\r\nline 2"); }, 0},
      {[&] { fs.CreateTextFile(dir / "t", "other"); }, -1},
      {[&] { fs.OpenBinaryWrite(dir / "no\\such\\folder\\f", false); }, -1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const int error = ErrorOf(cases[i].call);
    EXPECT_TRUE(cases[i].error < 0 ? error != 0 : error == cases[i].error) << error;
  }
  EXPECT_EQ(Content("b"), "B");
  EXPECT_EQ(Content("c"), "A");
  EXPECT_EQ(Content("t"), "line 1\r\nline 2");
  EXPECT_TRUE(fs.FileExists(dir / "locked"));
}

TEST_F(FileSystemTest, BinaryWritesEmptyTheFileOnlyWhenAsked) {
  for (bool truncate : {false, true}) {
    SCOPED_TRACE(truncate);
    Put("f", "0123456789");
    {
      auto f = fs.OpenBinaryWrite(dir / "f", truncate);
      f->Write(reinterpret_cast<const unsigned char*>("ab\r\n\0z"), 6);
    }  // closed by its destructor, as when a download fails
    EXPECT_EQ(Content("f"), std::string("ab\r\n\0z", 6) + (truncate ? "" : "6789"));
    EXPECT_EQ(ErrorOf([&] { fs.Delete(dir / "f"); }), 0);
  }
  auto f = fs.OpenBinaryWrite(dir / "new", false);
  f->Close();
  f->Close();
  EXPECT_EQ(Content("new"), "");
}

TEST(Win32System, TextOfPathsAndCommandLines) {
  const std::pair<const char*, const char*> lines[] = {
      {"C:\\OrVento\\OVLiveUpdate.exe", ""},
      {"\"C:\\Program Files\\OV\\OVLiveUpdate.exe\" /auto  now ", "/auto  now "},
      {"\"C:\\Program Files\\OV\\OVLiveUpdate.exe\"", ""},
      {"OVLiveUpdate.exe   -a", "-a"},
      {"OVLiveUpdate\tfoo", "foo"},
  };
  for (auto [line, arguments] : lines)
    EXPECT_EQ(ArgumentsAfterProgramName(line), arguments) << line;
  const struct {
    const char *path, *folder, *base;
  } paths[] = {
      {"C:\\OrVento\\OVLiveUpdate.exe", "C:\\OrVento", "OVLiveUpdate"},
      {"C:\\OVLiveUpdate.exe", "C:\\", "OVLiveUpdate"},
      {"C:\\OV\\x.exe.exe", "C:\\OV", "x.exe"},
      {"\\\\server\\share\\agent.exe", "\\\\server\\share", "agent"},
      {"C:\\v1.2\\prog", "C:\\v1.2", "prog"},
  };
  for (const auto& p : paths) {
    EXPECT_EQ(FolderOfPath(p.path), p.folder) << p.path;
    EXPECT_EQ(BaseNameWithoutExtension(p.path), p.base) << p.path;
  }
  // The same program whatever the case of its path; another folder differs;
  // a mutex name holds no "\" past its prefix and fits MAX_PATH.
  EXPECT_EQ(InstanceMutexName("C:\\OV\\A.EXE"), InstanceMutexName("c:\\ov\\a.exe"));
  EXPECT_NE(InstanceMutexName("C:\\OV\\a.exe"), InstanceMutexName("C:\\OW\\a.exe"));
  EXPECT_EQ(InstanceMutexName("C:\\OV\\a.exe").find('\\', 6), std::string::npos);
  EXPECT_LT(InstanceMutexName(std::string(300, 'x')).size(), 260u);
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
  EXPECT_TRUE(std::filesystem::is_directory(buffer)) << buffer;
  char sysdir[256];
  const unsigned n = sys.GetSystemDirectory(sysdir, 256);
  EXPECT_TRUE(std::filesystem::exists(std::string(sysdir, n) + "\\regsvr32.exe")) << sysdir;
  EXPECT_GT(sys.GetSystemDirectory(sysdir, 2), 2u);  // too small: the size needed

  // Environment entries count from 1; an empty one ends them.
  ASSERT_TRUE(::SetEnvironmentVariableA("OVLU_TEST_ENTRY", "a=b"));
  std::vector<std::string> seen;
  for (std::string e; !(e = sys.EnvironmentEntry(static_cast<int>(seen.size()) + 1)).empty();)
    seen.push_back(e);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "OVLU_TEST_ENTRY=a=b"), seen.end());
  EXPECT_THROW(sys.EnvironmentEntry(0), VbError);
  EXPECT_EQ(SplitEnvironmentBlock("=C:=C:\\\0windir=C:\\windows\0"),
            (std::vector<std::string>{"=C:=C:\\", "windir=C:\\windows"}));
  EXPECT_TRUE(SplitEnvironmentBlock("\0").empty());

  // A second holder of the instance name sees the first; its own does not count.
  _putenv_s("OVLU_INSTANCE_NAME", ("test-" + std::to_string(::GetCurrentProcessId())).c_str());
  Win32System first;
  EXPECT_FALSE(first.PreviousInstance());
  EXPECT_FALSE(first.PreviousInstance());
  EXPECT_TRUE(Win32System().PreviousInstance());
  _putenv_s("OVLU_INSTANCE_NAME", "");
}

}  // namespace
}  // namespace ovlu::win
