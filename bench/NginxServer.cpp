#include "NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ovlu::bench {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : ""));
}
// Starts args[0]. The child gets
// SIGTERM when this process dies, so a crashed test leaves no server behind
// (SIGTERM rather than SIGKILL so that nginx's master takes its workers).
pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Ends a child: SIGTERM, then SIGKILL after two seconds.
void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 400; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  close(fd);
  if (!ok) Fail("bind");
  return ntohs(addr.sin_port);
}

}  // namespace

bool NginxServer::Available() { return *OVLU_NGINX && access(OVLU_NGINX, X_OK) == 0; }

NginxServer::NginxServer(const std::string& rootDir) {
  if (!Available()) throw std::runtime_error("nginx is not installed");
  // nginx cannot report a port of its own choosing: take a free one and try
  // again with another when something grabbed it meanwhile.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (TryStart(UnusedPort(), rootDir)) return;
  }
  std::ifstream log(dir_ / "error.log");
  throw std::runtime_error("nginx did not start: " +
                           std::string(std::istreambuf_iterator<char>(log), {}));
}

bool NginxServer::TryStart(int port, const std::string& rootDir) {
  const std::string d = dir_.Path();
  std::ofstream conf(d + "/nginx.conf", std::ios::trunc);
  conf << "worker_processes 1;\npid " << d << "/nginx.pid;\nerror_log " << d
       << "/error.log warn;\n";
  // As root the worker would otherwise run as an unprivileged user that may
  // not read a private temporary folder; as anyone else the directive is
  // not allowed at all.
  if (geteuid() == 0) {
    const passwd* pw = getpwuid(0);
    conf << "user " << (pw ? pw->pw_name : "root") << ";\n";
  }
  conf << "events { worker_connections 64; }\nhttp {\n  access_log off;\n";
  for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    conf << "  " << t << "_temp_path " << d << "/" << t << ";\n";
  conf << "  default_type application/octet-stream;\n  sendfile on;\n"
       << "  server {\n    listen 127.0.0.1:" << port << ";\n"
       << "    root " << rootDir << ";\n";
  conf << "  }\n}\n";
  conf.close();

  pid_ = Spawn(
      {OVLU_NGINX, "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log", "-g", "daemon off;"});
  // nginx writes its pid file once it holds its listening socket; it ends
  // at once when the port was taken.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::ifstream pidFile(d + "/nginx.pid");
    if (long pid = 0; pidFile >> pid && pid == pid_) {
      port_ = port;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop(pid_);
  pid_ = -1;
  return false;
}

NginxServer::~NginxServer() { Stop(pid_); }

}  // namespace ovlu::bench
