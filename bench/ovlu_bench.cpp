// Download time and memory of the agent as the user meets it, against curl,
// from the same nginx on 127.0.0.1 in the same run.
//
// The agent: the program's own parts (the Qt window on the display, the
// libcurl transfer control, the POSIX file layer, the main form) started on
// a data folder whose update list names one file; "Avvia Aggiornamento" is
// clicked and the question answered Yes. The time runs from the Yes until
// the click handler returns, after the file is in place and the list is
// deleted. curl: the curl program writing the same file.
//
// With --signed each size runs signed too: the publisher's key lies beside
// the agent and the file's signature beside the file, so the agent also
// fetches the .sig and checks it; against it, one shell fetches the file
// and the signature with curl and checks them with openssl dgst -verify.
//
// Every download runs in a child process of its own, so that its peak
// resident memory is its own. Needs a display: run it under xvfb-run.
//
// Usage: ovlu_bench [--sizes MIB,MIB...] [--rounds N] [--signed]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
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
#include "ports/linux/crypto/OpenSslCrypto.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "ports/linux/qt/QtWindow.h"
#include "shell/EventDispatch.h"
#include "shell/MainForm.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fsys = std::filesystem;

struct Result {
  double seconds = 0;
  long maxRssKb = 0;
};

// The agent's run in this process; prints the seconds from the Yes to the
// end of the run. The machine: PUBLIC holds the data folder with the list.
// With a key file, it lies beside the agent and the run checks signatures.
int Agent(int argc, char** argv, const std::string& url, const std::string& root,
          const std::string& keyFile) {
  const std::string data = root + "/public/Documents/Tessaro Software/OrVento 7";
  fsys::create_directories(data);
  fsys::create_directories(root + "/OrVento 7");
  std::ofstream(root + "/OrVento 7/OrVento.exe") << "OrVento 7.0\n";  // the product beside it
  if (!keyFile.empty()) fsys::copy_file(keyFile, root + "/OrVento 7/PublisherKey.pem");
  const std::string name = url.substr(url.rfind('/') + 1);
  std::ofstream(data + "/Updates.upd", std::ios::binary)
      << "<v-R><s-" << url << "><ARCPATH-\\" << name << ">\r\n";
  setenv("PUBLIC", (root + "/public").c_str(), 1);
  setenv("OVLU_INSTANCE_LOCK", (root + "/instance.lock").c_str(), 1);
  fsys::current_path(root + "/OrVento 7");

  QApplication app(argc, argv);
  ovlu::PosixFileSystem fs;
  // The agent lives in the product's folder of the machine.
  struct Installed : ovlu::PosixSystem {
    using PosixSystem::PosixSystem;
    std::string AppPath() override { return fsys::current_path().string(); }
  } sys(1, argv);
  ovlu::SetHost(&fs, &sys);
  ovlu::OpenSslCrypto crypto;
  ovlu::SetCrypto(&crypto);
  ovlu::QtWindow window;
  ovlu::CurlInet inet;
  ovlu::ConnectPump(window, inet);
  Clock::time_point yes;
  window.msgBoxHook = [&yes](const std::string&, int, const std::string&) {
    yes = Clock::now();
    return ovlu::vbYes;
  };
  ovlu::MainForm form(window, inet);
  form.Form_Initialize();
  for (const auto end = Clock::now() + std::chrono::milliseconds(300); Clock::now() < end;)
    window.DoEvents();  // shown, painted and activated

  qobject_cast<QAbstractButton*>(window.Widget(ovlu::Control::cmdGET))->click();
  const double seconds = std::chrono::duration<double>(Clock::now() - yes).count();
  ovlu::DisconnectPump(window, inet);
  if (fsys::exists(data + "/Updates.upd") ||
      window.Caption(ovlu::Control::LblMesg) != "Aggiornamento completato.") {
    std::fprintf(stderr, "the run did not complete: %s (row: %s)\n",
                 window.Caption(ovlu::Control::LblMesg).c_str(), window.SubItem(1, 2).c_str());
    return 3;
  }
  std::printf("%.6f %lld\n", seconds, static_cast<long long>(fsys::file_size(data + "/" + name)));
  return 0;
}

// Runs argv in a child; its time (measured inside when it prints one) and
// its peak memory.
Result Spawn(const std::vector<std::string>& args, bool timesItself, long long expectBytes,
             const std::string& file) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.maxRssKb = ru.ru_maxrss;
  long long bytes = -1;
  std::error_code ec;
  if (!timesItself) bytes = static_cast<long long>(fsys::file_size(file, ec));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      (timesItself && std::sscanf(text.c_str(), "%lf %lld", &r.seconds, &bytes) != 2) ||
      bytes != expectBytes) {
    std::fprintf(stderr, "%s failed (status %d, %lld bytes)\n", args[0].c_str(), status, bytes);
    std::exit(1);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--agent") == 0)
    return Agent(1, argv, argv[2], argv[3], argc >= 5 ? argv[4] : "");

  std::vector<int> sizes = {16, 256};
  int rounds = 3;
  bool withSigned = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--signed") == 0) {
      withSigned = true;
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
      sizes.clear();
      for (const char* p = argv[++i]; *p;) {
        sizes.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    }
  }
  if (!ovlu::bench::NginxServer::Available() || !std::getenv("DISPLAY")) {
    std::fprintf(stderr, "needs nginx and a display (run under xvfb-run)\n");
    return 2;
  }
  const std::string self = fsys::read_symlink("/proc/self/exe").string();
  // No "-" in the machine's folders: a destination path with one reads as
  // a placeholder.
  ovlu::support::TempDir www("ovlu-bench-www");
  char pattern[] = "/tmp/ovlubench.XXXXXX";
  if (!mkdtemp(pattern)) return 2;
  const std::string out = pattern;
  const std::string mebibyte = ovlu::support::Pattern(1 << 20);
  for (int mib : sizes) {
    std::ofstream file(www / (std::to_string(mib) + "MiB.dat"), std::ios::binary);
    for (int i = 0; i < mib; ++i) file << mebibyte;
  }
  // The publisher's key pair and the signatures, made with openssl as a
  // publisher makes them.
  const std::string key = out + "/publisher.key", pem = out + "/PublisherKey.pem";
  if (withSigned) {
    std::string make = "openssl ecparam -name prime256v1 -genkey -noout -out '" + key +
                       "' 2>/dev/null && openssl ec -in '" + key + "' -pubout -out '" + pem +
                       "' 2>/dev/null";
    for (int mib : sizes) {
      const std::string f = www / (std::to_string(mib) + "MiB.dat");
      make += " && openssl dgst -sha256 -sign '" + key + "' -out '" + f + ".sig' '" + f + "'";
    }
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "openssl could not make the key and the signatures\n");
      return 2;
    }
  }
  ovlu::bench::NginxServer nginx(www.Path());

  std::printf("%-7s %-12s %9s %9s %12s\n", "size", "path", "seconds", "MiB/s", "peak RSS KiB");
  std::vector<std::pair<Result, Result>> best, bestSigned;
  for (int mib : sizes) {
    const std::string url = nginx.Url("/" + std::to_string(mib) + "MiB.dat");
    const long long bytes = static_cast<long long>(mib) << 20;
    Result agent, curl, agentSigned, curlSigned;
    auto keep = [](Result& k, const Result& r) {
      const long rss = std::max(k.maxRssKb, r.maxRssKb);
      if (k.seconds == 0 || r.seconds < k.seconds) k = r;  // the fastest round
      k.maxRssKb = rss;                                    // the highest memory
    };
    for (int round = 0; round < rounds; ++round) {
      // Alternate so that neither side always meets a warmer cache.
      const std::string root = out + "/agent" + std::to_string(round);
      keep(agent, Spawn({self, "--agent", url, root}, true, bytes, ""));
      fsys::remove_all(root);
      const std::string file = out + "/curl.dat";
      keep(curl, Spawn({"curl", "-s", "-o", file, url}, false, bytes, file));
      fsys::remove(file);
      if (!withSigned) continue;
      keep(agentSigned, Spawn({self, "--agent", url, root, pem}, true, bytes, ""));
      fsys::remove_all(root);
      const std::string pair = "curl -s -o '" + file + "' '" + url + "' && curl -s -o '" + file +
                               ".sig' '" + url + ".sig' && openssl dgst -sha256 -verify '" + pem +
                               "' -signature '" + file + ".sig' '" + file + "' >/dev/null";
      keep(curlSigned, Spawn({"sh", "-c", pair}, false, bytes, file));
      fsys::remove(file);
      fsys::remove(file + ".sig");
    }
    std::vector<std::pair<const char*, Result>> shown = {{"agent", agent}, {"curl", curl}};
    if (withSigned) {
      shown.push_back({"agent+sig", agentSigned});
      shown.push_back({"curl+openssl", curlSigned});
    }
    for (const auto& [name, r] : shown)
      std::printf("%-7s %-12s %9.3f %9.1f %12ld\n", (std::to_string(mib) + "MiB").c_str(), name,
                  r.seconds, mib / r.seconds, r.maxRssKb);
    best.emplace_back(agent, curl);
    bestSigned.emplace_back(agentSigned, curlSigned);
  }
  fsys::remove_all(out);
  std::printf("\n");
  for (std::size_t i = 0; i < sizes.size(); ++i)
    std::printf("%d MiB: agent/curl throughput %.2f\n", sizes[i],
                best[i].second.seconds / best[i].first.seconds);
  if (sizes.size() >= 2)
    std::printf("agent peak RSS, %d MiB minus %d MiB file: %ld KiB\n", sizes.back(), sizes.front(),
                best.back().first.maxRssKb - best.front().first.maxRssKb);
  if (withSigned) {
    for (std::size_t i = 0; i < sizes.size(); ++i)
      std::printf(
          "%d MiB signed: agent/(curl+openssl) throughput %.2f, agent signed/unsigned "
          "%.2f, peak RSS signed minus unsigned %ld KiB\n",
          sizes[i], bestSigned[i].second.seconds / bestSigned[i].first.seconds,
          best[i].first.seconds / bestSigned[i].first.seconds,
          bestSigned[i].first.maxRssKb - best[i].first.maxRssKb);
  }
  return 0;
}
