// nginx on 127.0.0.1 for the benchmark, with a configuration generated in a
// private folder, on a port picked at run time; it dies with the benchmark
// even when that crashes. Every wait here is bounded.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/TestSupport.h"

namespace ovlu::bench {

class NginxServer {
 public:
  // Serves the files of rootDir. Throws std::runtime_error when nginx is not
  // installed or does not come up.
  explicit NginxServer(const std::string& rootDir);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // False when no nginx executable was found when the project was configured.
  static bool Available();

  std::string Root() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& target) const { return Root() + target; }

 private:
  bool TryStart(int port, const std::string& rootDir);

  support::TempDir dir_{"ovlunginx"};
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace ovlu::bench
