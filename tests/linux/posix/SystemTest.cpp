// The POSIX process layer: the command line, the shell's "open" of real
// scripts, the instance lock across processes, the common documents folder
// and what the process still holds in buffers when it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "PosixTestSupport.h"
#include "ports/linux/posix/Posix.h"

namespace ovlu {
namespace {

using posixtest::Get;
using posixtest::Put;
using posixtest::ScopedEnv;
using posixtest::TempDir;
using Strings = std::vector<std::string>;

std::optional<std::string> WaitForFile(const std::string& path, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (auto s = Get(path)) return s;
    if (std::chrono::steady_clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void PutExecutable(const std::string& path, const std::string& text) {
  Put(path, text);
  ::chmod(path.c_str(), 0755);
}

// A script that writes its folder, its arguments, whether it sees a given
// descriptor of ours, and its standard input, to out (complete or not at all).
std::string RecorderScript(const std::string& out, int probeFd) {
  return "{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done;\n"
         "  if [ -e /proc/$$/fd/" +
         std::to_string(probeFd) +
         " ]; then echo inherited; fi;\n"
         "  readlink /proc/$$/fd/0; } > '" +
         out + ".part' && mv '" + out + ".part' '" + out + "'\n";
}

TEST(WindowsArguments, SplitLikeTheCRuntime) {
  struct Row {
    std::string line;
    Strings args;
  } rows[] = {
      {"", {}},
      {"  \t ", {}},
      {"a b  c", {"a", "b", "c"}},
      {"\t a\t", {"a"}},
      {R"("b c" d)", {"b c", "d"}},
      {R"(a"b c"d)", {"ab cd"}},
      {R"(a\\b)", {R"(a\\b)"}},
      {R"("a\\" b)", {R"(a\)", "b"}},
      {R"(a\"b)", {R"(a"b)"}},
      {R"("a\\\"b")", {R"(a\"b)"}},
      {R"("a""b" c)", {R"(a"b)", "c"}},
      {R"("" x)", {"", "x"}},
      {R"("a b)", {"a b"}},
      {R"(/s C:\Program Files\x.ocx)", {"/s", R"(C:\Program)", R"(Files\x.ocx)"}},
  };
  for (const Row& r : rows) EXPECT_EQ(SplitWindowsArguments(r.line), r.args) << r.line;
}

TEST(PosixShell, OpenStartsProgramsDetached) {
  TempDir t;
  std::filesystem::create_directories(t / "work dir");
  std::filesystem::create_directories(t / "fakebin");
  // A descriptor without close-on-exec, which a started program must not get.
  const int probe = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(probe, 3);
  const std::string out = t / "out";
  PutExecutable(t / "bin/Run Me.sh", "#!/bin/sh\n" + RecorderScript(out, probe));
  PutExecutable(t / "bin/plain", RecorderScript(out, probe));  // no "#!": the shell runs it
  PutExecutable(t / "fakebin/xdg-open", "#!/bin/sh\n" + RecorderScript(out, probe));
  Put(t / "bin/Readme.txt", "document");
  ScopedEnv path("PATH", t / "fakebin:" + std::string(std::getenv("PATH")));

  const std::string bin = t / "bin";
  const std::string work = t / "work dir";
  struct Row {
    const char* name;
    std::string file, parameters, directory;
    std::string expected;  // what the started program records
  } rows[] = {
      {"script with quoted parameters", t / "BIN\\run me.SH",
       R"(one "two three" four\"five "six\\")", "\\" + t / "WORK DIR",
       work + "\n[one]\n[two three]\n[four\"five]\n[six\\]\n/dev/null\n"},
      {"script without #!", bin + "\\Plain", "/s " + work + "\\x.ocx", work,
       work + "\n[/s]\n[" + t / "work]\n[dir\\x.ocx]\n/dev/null\n"},
      {"bare name found in the directory", "run me.sh", "", bin, bin + "\n/dev/null\n"},
      {"document goes to xdg-open", t / "bin/readme.TXT", "ignored", work,
       work + "\n[" + t / "bin/Readme.txt]\n/dev/null\n"},
  };
  PosixSystem sys(0, nullptr);
  for (const Row& r : rows) {
    std::filesystem::remove(out);
    EXPECT_GT(sys.ShellExecute(0, "open", r.file, r.parameters, r.directory, 0), 32) << r.name;
    EXPECT_EQ(WaitForFile(out), r.expected) << r.name;
    // The middle process has been reaped and the program is not our child.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << r.name;
    EXPECT_EQ(errno, ECHILD) << r.name;
  }
  ::close(probe);
  std::filesystem::remove(out);

  // Missing file, missing directory, a verb other than "open".
  EXPECT_EQ(sys.ShellExecute(0, "open", t / "bin/none.exe", "", bin, 0), 2);
  EXPECT_EQ(sys.ShellExecute(0, "open", t / "bin/plain", "", t / "nodir", 0), 3);
  EXPECT_EQ(sys.ShellExecute(0, "print", t / "bin/plain", "", bin, 0), 31);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(out));
}

// Whether a new process, forked from this one, sees another instance.
bool ChildSeesInstance() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(PosixSystem(0, nullptr).PreviousInstance() ? 1 : 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(PosixInstance, LockHeldForTheLifeOfTheSystem) {
  TempDir t;
  {
    ScopedEnv lock("OVLU_INSTANCE_LOCK", t / "instance.lock");
    {
      PosixSystem first(0, nullptr);
      EXPECT_FALSE(first.PreviousInstance());
      EXPECT_TRUE(ChildSeesInstance());
    }
    EXPECT_FALSE(ChildSeesInstance());  // released with the first one
    ScopedEnv missing("OVLU_INSTANCE_LOCK", t / "nodir/lock");
    EXPECT_FALSE(PosixSystem(0, nullptr).PreviousInstance());  // no lock possible: it runs
  }
  ScopedEnv unset("OVLU_INSTANCE_LOCK", std::nullopt), runtime("XDG_RUNTIME_DIR", t.Path());
  EXPECT_FALSE(PosixSystem(0, nullptr).PreviousInstance());
  EXPECT_TRUE(std::filesystem::exists(t / "OVLiveUpdate.lock"));
}

TEST(PosixSystemTest, CommonDocumentsUnderPublic) {
  TempDir t;
  const std::string longPublic = t / std::string(240, 'p');  // too long for the buffer
  std::filesystem::create_directories(longPublic + "/Documents");
  std::filesystem::create_directories(t / "lower/documents");
  std::filesystem::create_directories(t / "upper/Documents");
  std::filesystem::create_directories(t / "empty");
  const std::pair<std::string, std::string> rows[] = {
      {t / "upper", t / "upper/Documents"},
      {t / "lower", t / "lower/documents"},
      {t / "empty", ""},
      {longPublic, ""},
  };
  PosixSystem sys(0, nullptr);
  for (const auto& [pub, path] : rows) {
    ScopedEnv env("PUBLIC", pub);
    char buffer[261];
    std::memset(buffer, ' ', 260);
    buffer[260] = '\0';
    EXPECT_EQ(sys.GetSpecialFolderPath(46, buffer, false), !path.empty()) << pub;
    EXPECT_EQ(std::string(buffer), path) << pub;
  }
  char other[261] = "x";
  EXPECT_FALSE(sys.GetSpecialFolderPath(5, other, false));  // only the common documents
}

TEST(PosixSystemTest, EndProcessWritesOutWhatIsBuffered) {
  TempDir t;
  const std::string out = t / "stdout";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (std::freopen(out.c_str(), "w", stdout) == nullptr) ::_exit(99);
    std::printf("still buffered");  // a file: fully buffered
    auto file = PosixFileSystem().OpenBinaryWrite(t / "part", true);
    file->Write(reinterpret_cast<const unsigned char*>("data"), 4);
    PosixSystem(0, nullptr).EndProcess(7);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(Get(out), "still buffered");
  EXPECT_EQ(Get(t / "part"), "data");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
}  // namespace ovlu
