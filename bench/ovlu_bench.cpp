// Download throughput and memory of the agent's whole path against plain
// libcurl, from nginx on loopback.
//
// The agent's path: the libcurl transfer control, the download sequence,
// the state handler, the 1024-byte chunk loop writing through the POSIX
// file layer, the labels, bar and timers on the headless window, and the
// event pump between chunks. Plain libcurl: one easy transfer writing the
// body to a file with fwrite.
//
// Each download runs in a child process of its own (this program started
// again with --child), so that its peak resident memory is its own.
//
// Usage: ovlu_bench [--sizes MIB,MIB...] [--rounds N]
#include <curl/curl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "NginxServer.h"
#include "ports/headless/HeadlessWindow.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"
#include "shell/MainForm.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace ovlu;

struct Result {
  double seconds = 0;
  long long bytes = 0;
  long maxRssKb = 0;  // getrusage
  long hwmKb = 0;     // VmHWM
};

long VmHwmKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

long long FileSize(const std::string& path) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<long long>(n);
}

// The agent downloading url into folder/name as the update run would.
double RunAgent(const std::string& url, const std::string& server, const std::string& folder,
                const std::string& name) {
  char program[] = "ovlu_bench";
  char* argv[] = {program, nullptr};
  PosixFileSystem fs;
  PosixSystem sys(1, argv);
  SetHost(&fs, &sys);
  ResetProcessValues();

  HeadlessWindow window;
  CurlInet inet([&window] { window.DoEvents(); });
  window.onPump = [&inet] { inet.Poll(); };
  // The headless window keeps every caption for tests to look at; that
  // record is emptied as it goes so that only the agent is measured.
  long long pumps = 0;
  window.onIdle = [&] {
    if (++pumps % 4096 == 0)
      for (auto& [control, history] : window.captionHistory) history.clear();
  };
  MainForm form(window, inet);
  window.Load(&form);

  UpdateItemArray& items = G().UpdateItems;
  items.Redim(0);
  items[0].Sources.Redim(0);
  items[0].Sources[0].Url = url;
  items[0].Sources[0].Server = server;
  items[0].FileName = items[0].DestName = name;
  items[0].DestFolder = folder + "/";
  window.AddRow(name);

  const auto start = Clock::now();
  form.DownloadAllFiles();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  window.onPump = nullptr;
  if (window.SubItem(1, 2) != "100%" || G().CancelRequested != vbFalse) {
    std::fprintf(stderr, "agent download failed: row %s\n", window.SubItem(1, 2).c_str());
    std::exit(3);
  }
  return seconds;
}

double RunPlain(const std::string& url, const std::string& path) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) std::exit(3);
  CURL* e = curl_easy_init();
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_WRITEDATA, out);
  const auto start = Clock::now();
  const CURLcode rc = curl_easy_perform(e);
  std::fclose(out);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  curl_easy_cleanup(e);
  if (rc != CURLE_OK) {
    std::fprintf(stderr, "plain download failed: %s\n", curl_easy_strerror(rc));
    std::exit(3);
  }
  return seconds;
}

// --child MODE URL SERVER FOLDER NAME: one download, then "seconds bytes
// maxrss hwm" on standard output.
int Child(char** argv) {
  const std::string mode = argv[0], url = argv[1], server = argv[2], folder = argv[3],
                    name = argv[4];
  const bool agent = mode != "plain";
  const std::string path = folder + "/" + name + (agent ? ".remove" : "");
  const double seconds = agent ? RunAgent(url, server, folder, name) : RunPlain(url, path);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%.6f %lld %ld %ld\n", seconds, FileSize(path), ru.ru_maxrss, VmHwmKb());
  std::filesystem::remove(path);
  return 0;
}

Result Spawn(const std::string& self, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(self.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(self.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text.c_str(), "%lf %lld %ld %ld", &r.seconds, &r.bytes, &r.maxRssKb, &r.hwmKb) !=
          4) {
    std::fprintf(stderr, "child %s failed (status %d)\n", args[0].c_str(), status);
    std::exit(1);
  }
  return r;
}

double MiBps(const Result& r) { return static_cast<double>(r.bytes) / r.seconds / 1048576.0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 7 && std::strcmp(argv[1], "--child") == 0) return Child(argv + 2);

  std::vector<int> sizes = {16, 256};
  int rounds = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--sizes") == 0) {
      sizes.clear();
      for (const char* p = argv[i + 1]; *p;) {
        sizes.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    }
  }
  if (!bench::NginxServer::Available()) {
    std::fprintf(stderr, "nginx is not installed\n");
    return 2;
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  support::TempDir www("ovlu-bench-www"), out("ovlu-bench-out");
  const std::string mebibyte = support::Pattern(1 << 20);
  for (int mib : sizes) {
    std::ofstream file(www / (std::to_string(mib) + "MiB.dat"), std::ios::binary);
    for (int i = 0; i < mib; ++i) file << mebibyte;
  }
  bench::NginxServer nginx(www.Path());

  std::printf("%-8s %-10s %10s %12s %12s\n", "size", "path", "MiB/s", "maxrss KiB", "VmHWM KiB");
  struct Best {
    Result agent, plain;
  };
  std::vector<Best> best;
  for (int mib : sizes) {
    const std::string name = std::to_string(mib) + "MiB.dat";
    Best b;
    for (int round = 0; round < rounds; ++round) {
      // Alternate so that neither side always meets a warmer cache.
      for (const char* mode : {"agent", "plain"}) {
        const Result r =
            Spawn(self, {"--child", mode, nginx.Url("/" + name), nginx.Root(), out.Path(), name});
        if (r.bytes != static_cast<long long>(mib) << 20) {
          std::fprintf(stderr, "%s: %lld bytes arrived\n", mode, r.bytes);
          return 1;
        }
        Result& keep = std::strcmp(mode, "agent") == 0 ? b.agent : b.plain;
        // The fastest round of each; memory is the highest seen.
        const long rss = std::max(keep.maxRssKb, r.maxRssKb), hwm = std::max(keep.hwmKb, r.hwmKb);
        if (keep.seconds == 0 || r.seconds < keep.seconds) keep = r;
        keep.maxRssKb = rss;
        keep.hwmKb = hwm;
      }
    }
    for (const auto* r : {&b.agent, &b.plain})
      std::printf("%-8s %-10s %10.1f %12ld %12ld\n", (std::to_string(mib) + "MiB").c_str(),
                  r == &b.agent ? "agent" : "plain", MiBps(*r), r->maxRssKb, r->hwmKb);
    best.push_back(b);
  }
  std::printf("\n");
  for (std::size_t i = 0; i < sizes.size(); ++i)
    std::printf("%d MiB: agent/plain throughput %.2f\n", sizes[i],
                MiBps(best[i].agent) / MiBps(best[i].plain));
  if (sizes.size() >= 2) {
    const long grow = best.back().agent.maxRssKb - best.front().agent.maxRssKb;
    std::printf("agent peak RSS, %d MiB minus %d MiB file: %ld KiB\n", sizes.back(), sizes.front(),
                grow);
  }
  return 0;
}
