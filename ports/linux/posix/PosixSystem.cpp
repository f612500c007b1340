// The process and the system around it on Linux: the environment, the
// all-users documents folder under $PUBLIC, the system directory under
// $windir, the shell's "open", the one-instance lock, the executable's own
// name and folder, and the user's decimal separator. Text crosses to the
// agent in Windows-1252, as the ANSI functions of Windows give it, and goes
// back to the system as UTF-8.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "platform/GatheringFile.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Vb.h"

extern char** environ;

namespace ovlu {

namespace {

constexpr int csidlCommonDocuments = 0x2E;
constexpr unsigned maxPath = 260;

// ShellExecute's results: above 32 means started.
constexpr std::intptr_t shellStarted = 42;
constexpr std::intptr_t shellFileNotFound = 2;
constexpr std::intptr_t shellPathNotFound = 3;
constexpr std::intptr_t shellAccessDenied = 5;
constexpr std::intptr_t shellOutOfMemory = 8;
constexpr std::intptr_t shellBadFormat = 11;
constexpr std::intptr_t shellNoAssociation = 31;

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsExecutableFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

// Windows starts any program file, whatever its mode; a downloaded program
// here arrives without an execute bit. A file that begins like a script or
// an ELF program is a program: it gets its owner's execute bit.
bool MakeProgramRunnable(const std::string& path, struct stat& st) {
  if (!S_ISREG(st.st_mode)) return false;
  char head[4] = {};
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  const std::size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  const bool program =
      (n >= 2 && head[0] == '#' && head[1] == '!') || (n == 4 && std::memcmp(head,
                                                                             "\x7f"
                                                                             "ELF",
                                                                             4) == 0);
  if (!program || ::chmod(path.c_str(), st.st_mode | S_IXUSR) != 0) return false;
  return ::stat(path.c_str(), &st) == 0;
}

void MakeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') ::mkdir(path.substr(0, pos).c_str(), 0777);
  }
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

// A program found along $PATH, or "". The name is Windows-1252 text.
std::string FindOnPath(const std::string& name) {
  std::string path = EnvOrEmpty("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find(':', pos);
    if (end == std::string::npos) end = path.size();
    const std::string dir = end > pos ? path.substr(pos, end - pos) : ".";
    pos = end + 1;
    std::string candidate;
    try {
      candidate = ToPosixPath(Utf8ToAnsi(dir) + "/" + name);
    } catch (const VbError&) {
      continue;  // a folder the agent's text cannot name
    }
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && IsExecutableFile(st)) return Absolute(candidate);
  }
  return std::string();
}

void ReportAndExit(int pipeFd, int err) {
  ssize_t ignored = ::write(pipeFd, &err, sizeof err);
  (void)ignored;
  ::_exit(127);
}

// Starts a program in its own session, not a child of ours once it runs,
// with no standard streams and none of our descriptors. Returns 0 when the
// program was started, else the errno of the failing step. Between fork and
// exec only async-signal-safe calls are made.
int SpawnDetached(const std::string& program, const std::vector<std::string>& args,
                  const std::string& directory) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // A script without "#!" is run by the shell, as execvp would do.
  static char sh[] = "/bin/sh";
  std::vector<char*> shArgv;
  shArgv.push_back(sh);
  shArgv.insert(shArgv.end(), argv.begin(), argv.end());

  long maxFd = ::sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigset_t noSignals;
  sigemptyset(&noSignals);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    return err;
  }
  if (child == 0) {
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild < 0) ReportAndExit(report[1], errno);
    if (grandchild > 0) ::_exit(0);

    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaultAction, nullptr);
    ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      if (null > 2) ::close(null);
    }
    // Our descriptors (sockets, the instance lock) close at exec; the report
    // pipe already does.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
      for (int fd = 3; fd < maxFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ReportAndExit(report[1], errno);
    ::execve(program.c_str(), argv.data(), environ);
    if (errno == ENOEXEC) ::execve(sh, shArgv.data(), environ);
    ReportAndExit(report[1], errno);
  }

  ::close(report[1]);
  int err = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got != static_cast<ssize_t>(sizeof err)) err = 0;
  // The middle process ends at once; reaping it leaves no zombie, and the
  // program itself belongs to init from then on.
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return err;
}

std::intptr_t ShellResultFor(int err) {
  switch (err) {
    case 0:
      return shellStarted;
    case ENOENT:
      return shellFileNotFound;
    case ENOTDIR:
      return shellPathNotFound;
    case ENOMEM:
    case EAGAIN:
      return shellOutOfMemory;
    case ENOEXEC:
      return shellBadFormat;
    default:
      return shellAccessDenied;
  }
}

bool SameIgnoringAsciiCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; b[i] != '\0'; ++i) {
    if (i >= a.size()) return false;
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size();
}

std::string ExecutablePath(const std::string& argv0) {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n > 0 && static_cast<std::size_t>(n) < path.size()) {
    path.resize(static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
      path.resize(path.size() - deleted.size());
    return path;
  }
  if (argv0.empty()) return std::string();
  char real[PATH_MAX];
  if (::realpath(argv0.c_str(), real) != nullptr) return real;
  return Absolute(argv0);
}

}  // namespace

std::vector<std::string> SplitWindowsArguments(const std::string& line) {
  std::vector<std::string> out;
  const std::size_t n = line.size();
  std::size_t i = 0;
  for (;;) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      const char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        std::size_t k = i;
        while (k < n && line[k] == '\\') ++k;
        const std::size_t count = k - i;
        if (k < n && line[k] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            i = k + 1;
          } else {
            i = k;  // the quote groups; it is taken in the next round
          }
        } else {
          arg.append(count, '\\');
          i = k;
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      arg += c;
      ++i;
    }
    out.push_back(arg);
  }
  return out;
}

PosixSystem::PosixSystem(int argc, char** argv) {
  if (argv != nullptr && argc > 0 && argv[0] != nullptr) argv0_ = argv[0];
  for (int i = 1; argv != nullptr && i < argc; ++i)
    if (argv[i] != nullptr) args_.emplace_back(argv[i]);
}

PosixSystem::~PosixSystem() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::string PosixSystem::EnvironmentEntry(int index) {
  if (index < 1) throw VbError(errInvalidCall, "environment index below 1");
  if (environ == nullptr) return std::string();
  for (int i = 1; environ[i - 1] != nullptr; ++i)
    if (i == index) return Utf8ToAnsi(environ[i - 1]);
  return std::string();
}

bool PosixSystem::GetSpecialFolderPath(int csidl, char* buffer260, bool create) {
  if (buffer260 == nullptr) return false;
  buffer260[0] = '\0';
  if (csidl != csidlCommonDocuments) return false;
  // The all-users documents lie under %PUBLIC% on Windows.
  const std::string pub = Utf8ToAnsi(EnvOrEmpty("PUBLIC"));
  std::string folder;
  try {
    folder = ToPosixPath(pub.empty() ? std::string("/home/Public/Documents") : pub + "/Documents");
  } catch (const VbError&) {
    return false;
  }
  if (create) MakeFolders(folder);
  const std::string ansi = Utf8ToAnsi(folder);
  if (!IsFolder(folder) || ansi.size() >= maxPath) return false;
  std::memcpy(buffer260, ansi.c_str(), ansi.size() + 1);
  return true;
}

unsigned PosixSystem::GetSystemDirectory(char* buffer, unsigned size) {
  const std::string windir = Utf8ToAnsi(EnvOrEmpty("windir"));
  if (windir.empty()) return 0;
  const std::string dir = windir + "\\system32";
  // Too small a buffer: the size needed, NUL included, and nothing written.
  if (buffer == nullptr || size <= dir.size()) return static_cast<unsigned>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<unsigned>(dir.size());
}

std::intptr_t PosixSystem::ShellExecute(Handle, const std::string& verb, const std::string& file,
                                        const std::string& parameters, const std::string& directory,
                                        int) {
  if (!verb.empty() && !SameIgnoringAsciiCase(verb, "open")) return shellNoAssociation;
  if (file.empty()) return shellFileNotFound;

  // A relative name is looked for in the given folder, then in the
  // current one, then (a bare name) along the path.
  std::string dir, target;
  struct stat st;
  try {
    dir = directory.empty() ? std::string() : Absolute(ToPosixPath(directory));
    if (!dir.empty() && !IsFolder(dir)) return shellPathNotFound;
    const bool absolute = file[0] == '/' || file[0] == '\\' || (file.size() >= 2 && file[1] == ':');
    if (absolute) {
      target = ToPosixPath(file);
    } else {
      std::vector<std::string> candidates;
      if (!dir.empty()) candidates.push_back(Absolute(ToPosixPath(directory + "\\" + file)));
      candidates.push_back(Absolute(ToPosixPath(file)));
      for (const std::string& c : candidates)
        if (::stat(c.c_str(), &st) == 0) {
          target = c;
          break;
        }
      if (target.empty() && file.find_first_of("/\\") == std::string::npos)
        target = FindOnPath(file);
      if (target.empty()) target = candidates.front();
    }
  } catch (const VbError& e) {
    return e.number == errPathNotFound ? shellPathNotFound : shellFileNotFound;
  }
  if (::stat(target.c_str(), &st) != 0) return ShellResultFor(errno);

  const std::vector<std::string> args = SplitWindowsArguments(AnsiToUtf8(parameters));
  if (IsExecutableFile(st) || MakeProgramRunnable(target, st))
    return ShellResultFor(SpawnDetached(target, args, dir));
  // A document or folder goes to the desktop's opener.
  const std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) return shellNoAssociation;
  return ShellResultFor(SpawnDetached(opener, {target}, dir));
}

bool PosixSystem::PreviousInstance() {
  // The lock is taken once and held until the process ends; asking again
  // gives the first answer.
  if (instanceState_ < 0) {
    std::string path = EnvOrEmpty("OVLU_INSTANCE_LOCK");
    int flags = O_RDWR | O_CREAT | O_CLOEXEC;
    if (path.empty()) {
      const std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
      if (!runtime.empty() && IsFolder(runtime)) {
        path = runtime + "/OVLiveUpdate.lock";
      } else {
        path = "/tmp/OVLiveUpdate-" + std::to_string(::getuid()) + ".lock";
        flags |= O_NOFOLLOW;  // a shared folder: follow no planted link
      }
    }
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) {
      instanceState_ = 0;  // no way to tell: let this one run
    } else if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lockFd_ = fd;
      instanceState_ = 0;
    } else {
      instanceState_ = errno == EWOULDBLOCK ? 1 : 0;
      ::close(fd);
    }
  }
  return instanceState_ == 1;
}

std::string PosixSystem::AppPath() {
  const std::string exe = ExecutablePath(argv0_);
  const std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return Utf8ToAnsi(exe.substr(0, slash));
}

std::string PosixSystem::AppExeName() {
  const std::string exe = ExecutablePath(argv0_);
  const std::size_t slash = exe.rfind('/');
  std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return Utf8ToAnsi(name);
}

std::string PosixSystem::CommandLine() {
  std::string line;
  for (std::size_t i = 0; i < args_.size(); ++i) {
    if (i > 0) line += ' ';
    line += args_[i];
  }
  return Utf8ToAnsi(line);
}

std::string PosixSystem::DecimalSeparator() {
  // The locale that would decide numbers, looked up as setlocale would.
  std::string name;
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    name = EnvOrEmpty(var);
    if (!name.empty()) break;
  }
  if (name.empty()) return ".";
  locale_t loc = ::newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return ".";
  const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
  std::string sep = radix != nullptr ? radix : "";
  ::freelocale(loc);
  // The agent works in Windows-1252: a separator outside ASCII has no
  // place there.
  if (sep.empty()) return ".";
  for (unsigned char c : sep)
    if (c >= 0x80) return ".";
  return sep;
}

void PosixSystem::InitCommonControls() {}

void PosixSystem::EndProcess(int code) {
  GatheringFile::FlushAll();
  std::cout.flush();
  std::clog.flush();
  std::fflush(nullptr);
  ::_exit(code);
}

}  // namespace ovlu
