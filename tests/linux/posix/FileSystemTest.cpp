// The POSIX file layer on real folders under /tmp: the shared file suite,
// then what only Linux has to settle: how a Windows path finds its POSIX
// path (case, UTF-8 names, drive links), the no-replace rename without
// kernel help, the mode a read-only file gets, and a full disk. (What a
// read-only file refuses, for root too, is the shared suite's.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <tuple>

#include "ports/linux/posix/Posix.h"
#include "shell/Vb.h"
#include "tests/ErrorOf.h"
#include "tests/contract/FileSystemContract.h"
#include "tests/support/TestSupport.h"

namespace ovlu::posixtest {
namespace {

using namespace support;

using contract::FileSystemContract;

std::string Win(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

struct PosixPlace : contract::FileSystemPlace {
  PosixPlace() { root = Win(folder.string()); }
  FileSystem& Fs() override { return fs; }
  PosixFileSystem fs;
};

OVLU_FILE_SYSTEM_CONTRACT(Posix, PosixPlace);

// Beyond the shared suite: which of several spellings is taken, links, "..",
// names on disk that are not UTF-8, and drive letters through the drive
// links folder.
TEST(PosixPath, WindowsPathsFindTheirPosixPath) {
  TempDir t;
  for (const char* f : {"Data/Sub/File.TXT", "Data/exact", "Data/EXACT", "Amb/aB", "Amb/Ab",
                        "Data/Caff\xE8", "drive/Dati/x"})
    Put(t / f, f);
  std::filesystem::create_symlink(t / "Data/Sub/File.TXT", t / "link");
  std::filesystem::create_directories(t / "config/OVLiveUpdate/dosdevices");
  std::filesystem::create_directory_symlink(t / "drive", t / "config/OVLiveUpdate/dosdevices/c:");
  ScopedEnv config("XDG_CONFIG_HOME", t / "config");
  const std::string w = Win(t.Path()) + "\\";
  // The Windows path, the POSIX path, or the error it raises.
  const std::tuple<std::string, std::string, int> rows[] = {
      {w + "Data\\exact", t / "Data/exact", 0},  // an exact name wins over other spellings
      {w + "data\\Exact", t / "Data/EXACT", 0},  // several others: the first in byte order
      {w + "Amb\\ab", t / "Amb/Ab", 0},
      {w + "data\\\\sub\\", t / "Data/Sub/", 0},
      {w + "data/sub\\..\\SUB\\file.txt", t / "Data/Sub/../Sub/File.TXT", 0},
      {w + "LINK", t / "link", 0},
      {w + "data\\caff\xE8", t / "Data/caff\xC3\xA8", 0},  // a name not in UTF-8 matches nothing
      {"C:\\DATI\\X", t / "config/OVLiveUpdate/dosdevices/c:/Dati/x", 0},
      {"c:dati", t / "config/OVLiveUpdate/dosdevices/c:/Dati", 0},
      {"D:\\Dati\\x", "", errPathNotFound},
      {"\\\\server\\share\\x", "", errPathNotFound},
      {w + "C:\\x", "", errPathFileAccess},
  };
  for (const auto& [in, expected, error] : rows) {
    std::string got;
    EXPECT_EQ(ErrorOf([&, in = in] { got = ToPosixPath(in); }), error) << in;
    EXPECT_EQ(got, expected) << in;
  }
  {
    ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt), home("HOME", t / "nohome");
    EXPECT_EQ(ErrorOf([] { ToPosixPath("C:\\x"); }), errPathNotFound);
  }

  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(t / "Data");
  EXPECT_EQ(ToPosixPath(".\\Exact"), "./EXACT");
  // The current folder comes back in Windows-1252.
  std::filesystem::create_directory(t / "Data/Dir\xC3\x80");
  std::filesystem::current_path(t / "Data/Dir\xC3\x80");
  EXPECT_EQ(PosixFileSystem().CurrentDirectory(), t / "Data/Dir\xC0");
  std::filesystem::current_path(old);
}

// A new name that is the same file in another case only respells it; the
// fallback for file systems without a no-replace rename never replaces.
TEST(PosixFileSystem, RenameRespellsAndNeverReplaces) {
  TempDir t;
  Put(t / "Citt\xC3\xA0.dat", "1");
  Put(t / "b", "2");
  PosixFileSystem().Rename(Win(t / "citt\xE0.DAT"), Win(t / "CITT\xC0.dat"));
  EXPECT_EQ(RenameByLink(t / "CITT\xC3\x80.dat", t / "b"), EEXIST);
  EXPECT_EQ(RenameByLink(t / "CITT\xC3\x80.dat", t / "c"), 0);
  EXPECT_EQ(Slurp(t / "b"), "2");
  EXPECT_EQ(Slurp(t / "c"), "1");
}

// Read-only takes the write bit from everyone, not only from the owner.
TEST(PosixFileSystem, ReadOnlyLeavesNoOneWriting) {
  TempDir t;
  Put(t / "f", "x");
  std::filesystem::permissions(t / "f", std::filesystem::perms(0666));
  PosixFileSystem().SetAttributes(Win(t / "f"), attrReadOnly);
  EXPECT_EQ(std::filesystem::status(t / "f").permissions(), std::filesystem::perms(0444));
}

// A full disk shows when the buffer goes out, once.
TEST(PosixFileSystem, FullDiskShowsAtClose) {
  PosixFileSystem fs;
  auto full = fs.OpenBinaryWrite("\\dev\\full", false);
  full->Write(reinterpret_cast<const unsigned char*>("x"), 1);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 61);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 0);
}

}  // namespace
}  // namespace ovlu::posixtest
