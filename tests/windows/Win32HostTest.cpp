// The Windows file system and process layer: the shared file suite against
// real files in a temporary folder, then the process values.
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ports/windows/Win32Host.h"
#include "tests/contract/FileSystemContract.h"

namespace ovlu::win {
namespace {

using contract::FileSystemContract;

struct Win32Place : contract::FileSystemPlace {
  Win32Place() { root = folder.string(); }
  FileSystem& Fs() override { return fs; }
  Win32FileSystem fs;
};

OVLU_FILE_SYSTEM_CONTRACT(Win32, Win32Place);

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
  // (The all-users documents folder is the end-to-end run's: the agent's data lives there.)
  char sysdir[256];
  const unsigned n = sys.GetSystemDirectory(sysdir, 256);
  EXPECT_TRUE(std::filesystem::exists(std::string(sysdir, n) + "\\regsvr32.exe")) << sysdir;

  // Environment entries count from 1; an empty one ends them.
  ASSERT_TRUE(::SetEnvironmentVariableA("OVLU_TEST_ENTRY", "a=b"));
  std::vector<std::string> seen;
  for (std::string e; !(e = sys.EnvironmentEntry(static_cast<int>(seen.size()) + 1)).empty();)
    seen.push_back(e);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "OVLU_TEST_ENTRY=a=b"), seen.end());
  EXPECT_THROW(sys.EnvironmentEntry(0), VbError);

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
