#include "TestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace ovlu::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : ""));
}

// Starts args[0] (looked up on PATH) with the given descriptors as its
// standard input and output (-1 leaves them as they are). The child gets
// SIGTERM when this process dies, so a crashed test leaves no server behind
// (SIGTERM rather than SIGKILL so that nginx's master takes its workers).
pid_t Spawn(const std::vector<std::string>& args, int stdinFd, int stdoutFd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    if (stdinFd >= 0) dup2(stdinFd, 0);
    if (stdoutFd >= 0) dup2(stdoutFd, 1);
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

// xorshift32: the same stream for the same seed, a byte at a time.
struct Pattern {
  explicit Pattern(unsigned seed) : x(2463534242u ^ (seed * 2654435761u)) {}
  unsigned char Next() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return static_cast<unsigned char>(x >> 24);
  }
  std::uint32_t x;
};

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = std::filesystem::temp_directory_path() / (prefix + "-XXXXXX");
  if (!mkdtemp(pattern.data())) Fail("mkdtemp " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<unsigned char> PatternBytes(std::size_t size, unsigned seed) {
  std::vector<unsigned char> out(size);
  Pattern p(seed);
  for (auto& b : out) b = p.Next();
  return out;
}

void WritePatternFile(const std::string& path, std::size_t size, unsigned seed) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  Pattern p(seed);
  std::vector<char> block(1 << 20);
  while (size > 0) {
    const std::size_t n = std::min(size, block.size());
    for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<char>(p.Next());
    f.write(block.data(), static_cast<std::streamsize>(n));
    size -= n;
  }
  if (!f) throw std::runtime_error("cannot write " + path);
}

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

// ---------------------------------------------------------------------------

TestServer::TestServer(const std::string& filesDir) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) Fail("pipe");
  pid_ = Spawn({OVLU_PYTHON, OVLU_TESTSERVER_SCRIPT, "--root", filesDir, "--log", log_ / "log"},
               in[0], out[1]);
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];

  // The first line of its output names the port.
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  for (char c = 0;
       line.size() < 64 && poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n';)
    line += c;
  close(out[0]);
  if (line.compare(0, 5, "PORT ") == 0) port_ = std::atoi(line.c_str() + 5);
  if (port_ <= 0) {
    close(stdinFd_);
    Stop(pid_);
    throw std::runtime_error("test server did not start: " + line);
  }
}

TestServer::~TestServer() {
  close(stdinFd_);
  Stop(pid_);
}

std::vector<std::string> TestServer::Requests() const {
  std::ifstream log(log_ / "log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

// ---------------------------------------------------------------------------

bool NginxServer::Available() { return *OVLU_NGINX && access(OVLU_NGINX, X_OK) == 0; }

NginxServer::NginxServer(const std::string& rootDir, bool tls) : tls_(tls) {
  if (!Available()) throw std::runtime_error("nginx is not installed");
  if (tls_) {
    const std::string d = dir_.Path();
    const std::string cmd =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -keyout '" +
        d + "/key.pem' -out '" + d + "/cert.pem' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
      throw std::runtime_error("openssl could not make a certificate");
  }
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
       << "  server {\n    listen 127.0.0.1:" << port << (tls_ ? " ssl" : "") << ";\n"
       << "    root " << rootDir << ";\n";
  if (tls_)
    conf << "    ssl_certificate " << d << "/cert.pem;\n    ssl_certificate_key " << d
         << "/key.pem;\n";
  conf << "  }\n}\n";
  conf.close();

  pid_ = Spawn(
      {OVLU_NGINX, "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log", "-g", "daemon off;"},
      -1, -1);
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

}  // namespace ovlu::test
