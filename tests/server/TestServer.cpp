#include "TestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#ifndef OVLU_PYTHON
#define OVLU_PYTHON "python3"
#endif
#ifndef OVLU_NGINX
#define OVLU_NGINX ""
#endif

namespace ovlu::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : ""));
}

long MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

// Starts argv[0] with the given descriptors as its standard input, output
// and error (-1 leaves them as they are). The child gets SIGTERM when this process
// dies, so a crashed test leaves no server behind (SIGTERM rather than
// SIGKILL so that nginx's master takes its workers along).
pid_t Spawn(const std::vector<std::string>& args, int stdinFd, int stdoutFd, int stderrFd = -1) {
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
    if (stderrFd >= 0) dup2(stderrFd, 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Ends a child: SIGTERM, then SIGKILL after two seconds.
void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < deadline) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool Exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

std::string FindExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  dirs += ":/usr/sbin:/sbin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) Fail("mkdtemp " + pattern);
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<unsigned char> PatternBytes(std::size_t size, unsigned seed) {
  std::vector<unsigned char> out(size);
  std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 24);
  }
  return out;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

void WritePatternFile(const std::string& path, std::size_t size, unsigned seed) {
  // Same bytes as PatternBytes(size, seed), produced a block at a time.
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
  std::vector<char> block(1 << 20);
  while (size > 0) {
    const std::size_t n = std::min(size, block.size());
    for (std::size_t i = 0; i < n; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      block[i] = static_cast<char>(x >> 24);
    }
    f.write(block.data(), static_cast<std::streamsize>(n));
    size -= n;
  }
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::vector<unsigned char> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

int UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    Fail("bind");
  }
  close(fd);
  return ntohs(addr.sin_port);
}

std::string SimpleGet(int port, const std::string& target, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) Fail("socket");
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS)
    throw std::runtime_error("connect failed");
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, static_cast<int>(MsLeft(deadline))) != 1) throw std::runtime_error("connect");
  int err = 0;
  socklen_t errLen = sizeof err;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen);
  if (err != 0) throw std::runtime_error("connect refused");

  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  std::size_t sent = 0;
  while (sent < request.size()) {
    p = {fd, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(MsLeft(deadline))) != 1) throw std::runtime_error("send");
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send failed");
    sent += static_cast<std::size_t>(n);
  }
  std::string reply;
  for (;;) {
    p = {fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(MsLeft(deadline))) != 1) throw std::runtime_error("no answer");
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) throw std::runtime_error("recv failed");
    if (n == 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
  }
  const auto headEnd = reply.find("\r\n\r\n");
  if (reply.compare(0, 12, "HTTP/1.1 200") != 0 || headEnd == std::string::npos)
    throw std::runtime_error("bad answer");
  return reply.substr(headEnd + 4);
}

// ---------------------------------------------------------------------------

TestServer::TestServer(const std::string& filesDir) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) Fail("pipe");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    Fail("pipe");
  }
  pid_ = Spawn({FindExecutable(OVLU_PYTHON), OVLU_TESTSERVER_SCRIPT, "--root", filesDir}, in[0],
               out[1]);
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];

  // The first line of its output names the port.
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(MsLeft(deadline))) != 1) break;
    char buf[64];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
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

std::string TestServer::Root() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string TestServer::Url(const std::string& target) const { return Root() + target; }

std::vector<std::string> TestServer::Requests() const {
  std::vector<std::string> lines;
  const std::string body = SimpleGet(port_, "/__requests");
  std::size_t start = 0;
  while (start < body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// ---------------------------------------------------------------------------

bool NginxServer::Available() {
  return std::string(OVLU_NGINX).size() > 0 && access(OVLU_NGINX, X_OK) == 0;
}

NginxServer::NginxServer(const std::string& rootDir, bool tls) : tls_(tls) {
  if (!Available()) throw std::runtime_error("nginx is not installed");
  if (tls_) {
    const std::string d = dir_.Path();
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t openssl =
        Spawn({FindExecutable("openssl"), "req", "-x509", "-newkey", "ec", "-pkeyopt",
               "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
               "-keyout", d + "/key.pem", "-out", d + "/cert.pem"},
              -1, quiet, quiet);
    if (quiet >= 0) close(quiet);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    int status = -1;
    while (waitpid(openssl, &status, WNOHANG) != openssl) {
      if (Clock::now() > deadline) {
        Stop(openssl);
        throw std::runtime_error("openssl did not make a certificate in time");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw std::runtime_error("openssl could not make a certificate");
  }
  std::mt19937_64 rng(std::random_device{}());
  token_ = "ovlu-" + std::to_string(rng());
  // nginx cannot report a port of its own choosing: take a free one and try
  // again with another when something grabbed it meanwhile.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (TryStart(UnusedPort(), rootDir)) return;
  }
  std::ifstream log(dir_ / "error.log");
  std::string text((std::istreambuf_iterator<char>(log)), {});
  throw std::runtime_error("nginx did not start: " + text);
}

bool NginxServer::TryStart(int port, const std::string& rootDir) {
  const std::string d = dir_.Path();
  std::filesystem::create_directories(d + "/tmp");
  std::ofstream conf(d + "/nginx.conf", std::ios::trunc);
  conf << "worker_processes 1;\n"
       << "pid " << d << "/nginx.pid;\n"
       << "error_log " << d << "/error.log warn;\n";
  // As root the worker would otherwise run as an unprivileged user that may
  // not read a private temporary folder; as anyone else the directive is
  // not allowed at all.
  if (geteuid() == 0) {
    const passwd* pw = getpwuid(0);
    conf << "user " << (pw ? pw->pw_name : "root") << ";\n";
  }
  conf << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  access_log off;\n"
       << "  client_body_temp_path " << d << "/tmp/body;\n"
       << "  proxy_temp_path " << d << "/tmp/proxy;\n"
       << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
       << "  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
       << "  scgi_temp_path " << d << "/tmp/scgi;\n"
       << "  default_type application/octet-stream;\n"
       << "  sendfile on;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << (tls_ ? " ssl" : "") << ";\n";
  if (tls_) {
    conf << "    ssl_certificate " << d << "/cert.pem;\n"
         << "    ssl_certificate_key " << d << "/key.pem;\n";
  }
  conf << "    root " << rootDir << ";\n"
       << "    location = /.ovlu-ready { return 200 \"" << token_ << "\"; }\n"
       << "  }\n"
       << "}\n";
  conf.close();

  pid_ = Spawn(
      {OVLU_NGINX, "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log", "-g", "daemon off;"},
      -1, -1);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (Exited(pid_)) {  // typically: the port was taken
      pid_ = -1;
      return false;
    }
    if (Answers(port)) {
      port_ = port;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop(pid_);
  pid_ = -1;
  return false;
}

// Plain HTTP: our token comes back. TLS: nginx has written its pid file,
// which it does only once it holds its listening socket.
bool NginxServer::Answers(int port) const {
  if (!tls_) {
    try {
      return SimpleGet(port, "/.ovlu-ready", 500) == token_;
    } catch (const std::runtime_error&) {
      return false;
    }
  }
  std::ifstream pidFile(dir_ / "nginx.pid");
  long pid = 0;
  return pidFile >> pid && pid == static_cast<long>(pid_);
}

NginxServer::~NginxServer() { Stop(pid_); }

std::string NginxServer::Root() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string NginxServer::Url(const std::string& target) const { return Root() + target; }

}  // namespace ovlu::test
