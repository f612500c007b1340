// The POSIX layer on real folders under /tmp and real processes. Files: the
// shared file suite, then what only Linux has to settle: how a Windows path
// finds its POSIX path (case, UTF-8 names, drive links), the no-replace
// rename without kernel help, the mode a read-only file gets, and a full
// disk (what a read-only file refuses, for root too, is the shared suite's).
// Processes: the shell's "open" of real scripts, the instance lock across
// processes, the folders and locale taken from the environment, and what the
// process still holds in buffers when it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <tuple>

#include "ports/linux/posix/Posix.h"
#include "shell/Vb.h"
#include "tests/ErrorOf.h"
#include "tests/contract/FileSystemContract.h"
#include "tests/support/TestSupport.h"

extern char** environ;

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
  for (const char* f : {"Data/Sub/File.TXT", "Data/exact", "Data/EXACT", "Data/Caff\xE8",
                        "Data/Dir\xC3\x80/f", "drive/Dati/x"})
    Put(t / f, f);
  std::filesystem::create_symlink(t / "Data/Sub/File.TXT", t / "link");
  std::filesystem::create_directories(t / ".config/OVLiveUpdate/dosdevices");
  std::filesystem::create_directory_symlink(t / "drive", t / ".config/OVLiveUpdate/dosdevices/c:");
  ScopedEnv config("XDG_CONFIG_HOME", t / ".config");
  const std::string w = Win(t.Path()) + "\\";
  // The Windows path, the POSIX path, or the error it raises.
  const std::tuple<std::string, std::string, int> rows[] = {
      {w + "Data\\exact", t / "Data/exact", 0},  // an exact name wins over other spellings
      {w + "data\\Exact", t / "Data/EXACT", 0},  // several others: the first in byte order
      {w + "data\\\\sub\\", t / "Data/Sub/", 0},
      {w + "data/sub\\..\\SUB\\file.txt", t / "Data/Sub/../Sub/File.TXT", 0},
      {w + "LINK", t / "link", 0},
      {w + "data\\caff\xE8", t / "Data/caff\xC3\xA8", 0},  // a name not in UTF-8 matches nothing
      {"C:\\DATI\\X", t / ".config/OVLiveUpdate/dosdevices/c:/Dati/x", 0},
      {"c:dati", t / ".config/OVLiveUpdate/dosdevices/c:/Dati", 0},
      {"\\\\server\\share\\x", "", errPathNotFound},
      {w + "C:\\x", "", errPathFileAccess},
  };
  for (const auto& [in, expected, error] : rows) {
    std::string got;
    EXPECT_EQ(ErrorOf([&, in = in] { got = ToPosixPath(in); }), error) << in;
    EXPECT_EQ(got, expected) << in;
  }
  {
    ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt), home("HOME", t.Path());
    EXPECT_EQ(ToPosixPath("C:\\dati"), t / ".config/OVLiveUpdate/dosdevices/c:/Dati");
  }

  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(t / "Data/Dir\xC3\x80");
  EXPECT_EQ(ToPosixPath("..\\Exact"), "../EXACT");
  // The current folder comes back in Windows-1252.
  EXPECT_EQ(PosixFileSystem().CurrentDirectory(), t / "Data/Dir\xC0");
  std::filesystem::current_path(old);
}

// What only Linux settles in writing: a new name that is the same file in
// another case only respells it; the fallback for file systems without a
// no-replace rename never replaces; read-only takes the write bit from
// everyone, not only from the owner; a full disk shows when the buffer goes
// out, once.
TEST(PosixFileSystem, RespellNoReplaceReadOnlyAndFullDisk) {
  TempDir t;
  PosixFileSystem fs;
  Put(t / "Citt\xC3\xA0.dat", "1");
  Put(t / "b", "2");
  fs.Rename(Win(t / "citt\xE0.DAT"), Win(t / "CITT\xC0.dat"));
  EXPECT_EQ(RenameByLink(t / "CITT\xC3\x80.dat", t / "b"), EEXIST);
  EXPECT_EQ(RenameByLink(t / "CITT\xC3\x80.dat", t / "c"), 0);
  EXPECT_EQ(Slurp(t / "b"), "2");
  EXPECT_EQ(Slurp(t / "c"), "1");

  std::filesystem::permissions(t / "b", std::filesystem::perms(0666));
  fs.SetAttributes(Win(t / "b"), attrReadOnly);
  EXPECT_EQ(std::filesystem::status(t / "b").permissions(), std::filesystem::perms(0444));

  auto full = fs.OpenBinaryWrite("\\dev\\full", false);
  full->Write(reinterpret_cast<const unsigned char*>("x"), 1);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 61);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 0);
}

using Var = std::optional<std::string>;

// A script that writes its folder, its arguments, whether it sees our descriptor
// $PROBE, and its standard input, to $OUT (complete or not at all).
const char kRecorder[] =
    "{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"
    "  [ -e /proc/$$/fd/$PROBE ] && echo inherited; readlink /proc/$$/fd/0; } >\"$OUT.part\"\n"
    "mv \"$OUT.part\" \"$OUT\"\n";

TEST(WindowsArguments, SplitLikeTheCRuntime) {
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"", {}},
      {" \ta b  c\t", {"a", "b", "c"}},
      {R"("b c" d a"b c"d)", {"b c", "d", "ab cd"}},
      {R"(a\\b a\"b "a\\\"b")", {R"(a\\b)", R"(a"b)", R"(a\"b)"}},
      {R"("a\\" b)", {R"(a\)", "b"}},
      {R"("a""b" "" x)", {R"(a"b)", "", "x"}},
      {R"("a b)", {"a b"}},
  };
  for (const auto& [line, args] : rows) EXPECT_EQ(SplitWindowsArguments(line), args) << line;
}

TEST(PosixShell, OpenStartsProgramsDetached) {
  TempDir t;
  std::filesystem::create_directories(t / "work dir");
  // A descriptor without close-on-exec, which a started program must not get.
  const int probe = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(probe, 3);
  const std::string out = t / "out";
  // A script arrives without an execute bit, as a download does, and still runs.
  Put(t / "bin/Run Me.sh", std::string("#!/bin/sh\n") + kRecorder);
  Put(t / "bin/plain", kRecorder);  // no "#!": the shell runs it
  Put(t / "fakebin/xdg-open", std::string("#!/bin/sh\n") + kRecorder);
  for (const char* exe : {"bin/plain", "fakebin/xdg-open"})
    std::filesystem::permissions(t / exe, std::filesystem::perms(0755));
  Put(t / "bin/Readme.txt", "document");
  ScopedEnv path("PATH", t / "fakebin:" + std::string(std::getenv("PATH"))), o("OUT", out),
      p("PROBE", std::to_string(probe));

  const std::string bin = t / "bin";
  const std::string work = t / "work dir";
  // What the started program records, from the file, parameters and folder given.
  const std::tuple<const char*, std::string, std::string, std::string, std::string> rows[] = {
      {"script with quoted parameters", t / "BIN\\run me.SH",
       R"(one "two three" four\"five "six\\")", t.Path() + "\\WORK DIR",
       work + "\n[one]\n[two three]\n[four\"five]\n[six\\]\n/dev/null\n"},
      {"script without #!", bin + "\\Plain", "/s " + work + "\\x.ocx", work,
       work + "\n[/s]\n[" + t / "work]\n[dir\\x.ocx]\n/dev/null\n"},
      {"bare name found in the directory", "run me.sh", "", bin, bin + "\n/dev/null\n"},
      {"document goes to xdg-open", t / "bin/readme.TXT", "ignored", work,
       work + "\n[" + t / "bin/Readme.txt]\n/dev/null\n"},
  };
  PosixSystem sys(0, nullptr);
  for (const auto& [name, file, parameters, directory, expected] : rows) {
    std::filesystem::remove(out);
    EXPECT_GT(sys.ShellExecute(0, "open", file, parameters, directory, 0), 32) << name;
    EXPECT_EQ(WaitForLine(out), expected) << name;
    // The middle process has been reaped and the program is not our child.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << name;
    EXPECT_EQ(errno, ECHILD) << name;
  }
  ::close(probe);

  // Missing file, missing directory, a verb other than "open".
  EXPECT_EQ(sys.ShellExecute(0, "open", t / "bin/none.exe", "", bin, 0), 2);
  EXPECT_EQ(sys.ShellExecute(0, "open", t / "bin/plain", "", t / "nodir", 0), 3);
  EXPECT_EQ(sys.ShellExecute(0, "print", t / "bin/plain", "", bin, 0), 31);
}

// The exit status of a process forked from this one to run f (-1: killed).
int InChild(const std::function<int()>& f) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(f());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each run uses a lock file of its own, never the one of a real agent.
TEST(PosixInstance, LockHeldForTheLifeOfTheSystem) {
  const auto childSeesInstance = [] {
    return InChild([] { return int{PosixSystem(0, nullptr).PreviousInstance()}; }) == 1;
  };
  TempDir t;
  ScopedEnv runtime("XDG_RUNTIME_DIR", t.Path()), unset("OVLU_INSTANCE_LOCK", std::nullopt);
  {
    PosixSystem first(0, nullptr);
    EXPECT_FALSE(first.PreviousInstance());
    EXPECT_TRUE(childSeesInstance());
    EXPECT_TRUE(std::filesystem::exists(t / "OVLiveUpdate.lock"));
    // A lock named in the environment is another one; this one cannot be made: it runs.
    ScopedEnv missing("OVLU_INSTANCE_LOCK", t / "nodir/lock");
    EXPECT_FALSE(childSeesInstance());
  }
  EXPECT_FALSE(childSeesInstance());  // released with the first one
}

TEST(PosixSystemTest, FoldersFromTheEnvironment) {
  TempDir t;
  const std::string longPublic = t / std::string(240, 'p');  // too long for the buffer
  for (const std::string& d : {longPublic + "/Documents", t / "lower/documents",
                               t / "upper/Documents", t / "empty", t / "Citt\xC3\xA0/Documents"})
    std::filesystem::create_directories(d);
  const std::pair<Var, std::string> documents[] = {{t / "upper", t / "upper/Documents"},
                                                   {t / "lower", t / "lower/documents"},
                                                   {t / "empty", ""},
                                                   {t / "Citt\xC3\xA0", t / "Citt\xE0/Documents"},
                                                   {longPublic, ""}};
  PosixSystem sys(0, nullptr);
  for (const auto& [pub, path] : documents) {
    ScopedEnv env("PUBLIC", pub);
    std::string buffer(260, ' ');
    EXPECT_EQ(sys.GetSpecialFolderPath(46, buffer.data(), false), !path.empty());
    EXPECT_EQ(std::string(buffer.c_str()), path) << pub.value_or("-");
  }
  EXPECT_FALSE(sys.GetSpecialFolderPath(5, std::string(260, ' ').data(), false));  // only 46

  // windir, the buffer size, what it returns and what the buffer then holds.
  const std::tuple<Var, unsigned, unsigned, std::string> system[] = {
      {std::nullopt, 256, 0, "untouched"},
      {"C:\\Windows", 19, 20, "untouched"},  // no room for the NUL: the size needed
      {"C:\\Windows", 20, 19, "C:\\Windows\\system32"},
  };
  for (const auto& [windir, size, result, text] : system) {
    ScopedEnv env("windir", windir);
    // "#" after the NUL: a copy without its own NUL shows.
    std::string buffer = std::string("untouched", 10) + std::string(246, '#');
    EXPECT_EQ(sys.GetSystemDirectory(buffer.data(), size), result) << size;
    EXPECT_EQ(std::string(buffer.c_str()), text) << size;
  }

  int n = 0;
  for (; environ[n] != nullptr; ++n) EXPECT_EQ(sys.EnvironmentEntry(n + 1), environ[n]);
  EXPECT_EQ(sys.EnvironmentEntry(n + 1), "");
  EXPECT_THROW(sys.EnvironmentEntry(0), VbError);
}

TEST(PosixSystemTest, DecimalSeparatorOfTheUsersLocale) {
  const Var it = "it_IT.UTF-8", c = "C", none;
  locale_t loc = ::newlocale(LC_NUMERIC_MASK, it->c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) GTEST_SKIP() << *it << " is not installed";
  ::freelocale(loc);
  // LC_ALL, LC_NUMERIC and LANG, and the separator they give.
  const std::tuple<Var, Var, Var, std::string> rows[] = {
      {none, none, none, "."}, {none, none, "xx_YY.nonsense", "."},
      {none, none, it, ","},   {"", "", it, ","},  // empty variables count as unset
      {c, it, it, "."},        {it, c, c, ","},
      {none, c, it, "."},
  };
  PosixSystem sys(0, nullptr);
  for (const auto& [all, numeric, lang, sep] : rows) {
    ScopedEnv a("LC_ALL", all), n("LC_NUMERIC", numeric), l("LANG", lang);
    EXPECT_EQ(sys.DecimalSeparator(), sep)
        << all.value_or("-") << " " << numeric.value_or("-") << " " << lang.value_or("-");
  }
}

TEST(PosixSystemTest, EndProcessWritesOutWhatIsBuffered) {
  TempDir t;
  const std::string out = t / "stdout";
  EXPECT_EQ(InChild([&] {
              if (std::freopen(out.c_str(), "w", stdout) == nullptr) return 99;
              std::printf("still buffered");  // a file: fully buffered
              auto file = PosixFileSystem().OpenBinaryWrite(t / "part", true);
              file->Write(reinterpret_cast<const unsigned char*>("data"), 4);
              PosixSystem(0, nullptr).EndProcess(7);
            }),
            7);
  EXPECT_EQ(Slurp(out), "still buffered");
  EXPECT_EQ(Slurp(t / "part"), "data");
}

}  // namespace
}  // namespace ovlu::posixtest
