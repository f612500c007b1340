// The POSIX process layer: the shell's "open" of real scripts, the instance
// lock across processes, the special and system folders from the
// environment, the command line and the locale's decimal separator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
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

  struct Failure {
    const char* name;
    std::string verb, file, directory;
    std::intptr_t result;
  } failures[] = {
      {"missing file", "open", t / "bin/none.exe", bin, 2},
      {"missing directory", "open", t / "bin/plain", t / "nodir", 3},
      {"other verb", "print", t / "bin/plain", bin, 31},
  };
  for (const Failure& f : failures)
    EXPECT_EQ(sys.ShellExecute(0, f.verb, f.file, "", f.directory, 0), f.result) << f.name;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(out));
}

// Whether a new process, forked from this one, sees another instance.
bool ChildSeesInstance() {
  const pid_t pid = ::fork();
  if (pid == 0) {
    PosixSystem child(0, nullptr);
    ::_exit(child.PreviousInstance() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(PosixInstance, LockHeldForTheLifeOfTheSystem) {
  TempDir t;
  ScopedEnv lock("OVLU_INSTANCE_LOCK", t / "instance.lock");
  {
    PosixSystem first(0, nullptr);
    EXPECT_FALSE(first.PreviousInstance());
    EXPECT_FALSE(first.PreviousInstance());
    EXPECT_TRUE(ChildSeesInstance());
    {
      ScopedEnv other("OVLU_INSTANCE_LOCK", t / "other.lock");
      EXPECT_FALSE(ChildSeesInstance());  // another lock file: not the same agent
    }
  }
  EXPECT_FALSE(ChildSeesInstance());  // released with the first one

  {
    ScopedEnv missing("OVLU_INSTANCE_LOCK", t / "nodir/lock");
    PosixSystem sys(0, nullptr);
    EXPECT_FALSE(sys.PreviousInstance());  // no lock possible: the agent runs
  }
  ScopedEnv unset("OVLU_INSTANCE_LOCK", std::nullopt);
  ScopedEnv runtime("XDG_RUNTIME_DIR", t.Path());
  PosixSystem sys(0, nullptr);
  EXPECT_FALSE(sys.PreviousInstance());
  EXPECT_TRUE(std::filesystem::exists(t / "OVLiveUpdate.lock"));
  EXPECT_TRUE(ChildSeesInstance());
}

TEST(PosixSystemTest, CommandLineAndOwnName) {
  struct Row {
    Strings argv;
    std::string line;
  } rows[] = {
      {{}, ""},
      {{"/opt/ov/OVLiveUpdate"}, ""},
      {{"OVLiveUpdate", "auto"}, "auto"},
      {{"OVLiveUpdate", "a b", "c"}, "a b c"},
      {{"OVLiveUpdate", "", "x"}, " x"},
  };
  for (const Row& r : rows) {
    std::vector<char*> argv;
    for (const std::string& a : r.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    PosixSystem sys(static_cast<int>(r.argv.size()), argv.data());
    EXPECT_EQ(sys.CommandLine(), r.line);
  }
  PosixSystem sys(0, nullptr);
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(sys.AppPath(), exe.parent_path().string());
  EXPECT_EQ(sys.AppExeName(), exe.stem().string());
}

TEST(PosixSystemTest, CommonDocumentsUnderPublic) {
  TempDir t;
  const std::string longPublic = t / std::string(240, 'p');
  std::filesystem::create_directories(longPublic + "/Documents");
  std::filesystem::create_directories(t / "lower/documents");
  std::filesystem::create_directories(t / "upper/Documents");
  std::filesystem::create_directories(t / "empty");
  const bool homePublic = std::filesystem::is_directory("/home/Public/Documents");
  struct Row {
    const char* name;
    std::optional<std::string> pub;
    int csidl;
    bool create;
    bool ok;
    std::string path;
  } rows[] = {
      {"PUBLIC set", t / "upper", 46, false, true, t / "upper/Documents"},
      {"other case on disk", t / "lower", 46, false, true, t / "lower/documents"},
      {"no Documents there", t / "empty", 46, false, false, ""},
      {"made on request", t / "empty", 46, true, true, t / "empty/Documents"},
      {"PUBLIC unset", std::nullopt, 46, false, homePublic,
       homePublic ? "/home/Public/Documents" : ""},
      {"longer than MAX_PATH", longPublic, 46, false, false, ""},
      {"another folder", t / "upper", 5, false, false, ""},
  };
  PosixSystem sys(0, nullptr);
  for (const Row& r : rows) {
    ScopedEnv pub("PUBLIC", r.pub);
    char buffer[261];
    std::memset(buffer, ' ', 260);
    buffer[260] = '\0';
    EXPECT_EQ(sys.GetSpecialFolderPath(r.csidl, buffer, r.create), r.ok) << r.name;
    EXPECT_EQ(std::string(buffer), r.path) << r.name;
  }
}

TEST(PosixSystemTest, SystemDirectoryUnderWindir) {
  struct Row {
    std::optional<std::string> windir;
    unsigned size;
    unsigned result;
    std::string text;  // buffer afterwards
  } rows[] = {
      {std::nullopt, 256, 0, "untouched"},
      {"", 256, 0, "untouched"},
      {"C:\\Windows", 256, 19, "C:\\Windows\\system32"},
      {"/tmp/Win dows", 256, 22, "/tmp/Win dows\\system32"},
      {"C:\\Windows", 19, 20, "untouched"},  // no room for the NUL
      {"C:\\Windows", 20, 19, "C:\\Windows\\system32"},
  };
  PosixSystem sys(0, nullptr);
  for (const Row& r : rows) {
    ScopedEnv windir("windir", r.windir);
    char buffer[256] = "untouched";
    EXPECT_EQ(sys.GetSystemDirectory(buffer, r.size), r.result) << r.size;
    EXPECT_EQ(std::string(buffer), r.text) << r.size;
  }
}

bool LocaleInstalled(const char* name) {
  locale_t loc = ::newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return false;
  ::freelocale(loc);
  return true;
}

TEST(PosixSystemTest, DecimalSeparatorOfTheUsersLocale) {
  using Var = std::optional<std::string>;
  const std::string it = "it_IT.UTF-8";
  struct Row {
    Var all, numeric, lang;
    std::string sep;
    bool needsItalian;
  } rows[] = {
      {std::nullopt, std::nullopt, std::nullopt, ".", false},
      {"C", std::nullopt, std::nullopt, ".", false},
      {std::nullopt, "POSIX", std::nullopt, ".", false},
      {std::nullopt, std::nullopt, "xx_YY.nonsense", ".", false},
      {std::nullopt, it, std::nullopt, ",", true},
      {std::nullopt, std::nullopt, it, ",", true},
      {"", "", it, ",", true},  // empty variables count as unset
      {"C", it, it, ".", true},
      {it, "C", "C", ",", true},
      {std::nullopt, "C", it, ".", true},
  };
  const bool italian = LocaleInstalled(it.c_str());
  PosixSystem sys(0, nullptr);
  for (const Row& r : rows) {
    if (r.needsItalian && !italian) continue;
    ScopedEnv all("LC_ALL", r.all), numeric("LC_NUMERIC", r.numeric), lang("LANG", r.lang);
    EXPECT_EQ(sys.DecimalSeparator(), r.sep)
        << r.all.value_or("-") << " " << r.numeric.value_or("-") << " " << r.lang.value_or("-");
  }
  if (!italian) GTEST_SKIP() << it << " is not installed";
}

TEST(PosixSystemTest, EndProcessFlushesAndExits) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    std::printf("still buffered");  // a pipe: fully buffered, no newline
    PosixSystem(0, nullptr).EndProcess(7);
  }
  ::close(pipeFds[1]);
  std::string got;
  char buffer[64];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(got, "still buffered");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
}  // namespace ovlu
