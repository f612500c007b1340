// What only the libcurl transfer has, against the test server on loopback:
// a reader slower than the server holds no more than a small buffer, and a
// proxy named in the environment is used. How each server behaviour ends
// under the agent's download sequence is the contract table's
// (tests/contract/InetContractTest.cpp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "ports/linux/net/CurlInet.h"
#include "tests/support/TestSupport.h"

namespace ovlu {
namespace {

using Clock = std::chrono::steady_clock;

// Resident memory of this process.
long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kib = 0;
  while (status >> key && key != "VmRSS:") status.ignore(1 << 10, '\n');
  return status >> kib ? kib : 0;
}

class CurlInetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(http, "") << "needs the test server (CTest starts it)"; }
  // Runs a GET to its end; the body, read in chunks of 1024 once the
  // response is complete (after atComplete, when given).
  std::string Get(const std::string& url, const std::function<void()>& atComplete = nullptr) {
    std::string body;
    inet.StateChanged = [&](std::int16_t s) {
      if (s != icResponseCompleted) return;
      if (atComplete) atComplete();
      for (std::vector<unsigned char> c; !(c = inet.GetChunk(1024, icByteArray)).empty();) {
        body.append(c.begin(), c.end());
        if (body.size() % (1024 * 1024) == 0) Pump(20);
      }
    };
    inet.Execute(url, "GET");
    while (inet.StillExecuting()) inet.Poll();
    return body;
  }
  void Pump(int ms) {
    for (const auto until = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < until;)
      inet.Poll();
  }
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  CurlInet inet;
};

// The agent reads slower than the server sends: the transfer is paused and
// resumed many times, and the body is never in memory whole.
TEST_F(CurlInetTest, SlowReaderKeepsMemoryBounded) {
  const std::size_t size = 24 * 1024 * 1024 + 17;
  static_assert(InetControl::kBufferSize < 1024 * 1024);
  long before = RssKiB(), held = 0;
  const std::string body = Get(http + "/gen/" + std::to_string(size), [&] {
    Pump(500);  // long enough for the server to send it all, were nothing held back
    held = RssKiB();
  });
  EXPECT_LT(held - before, 8 * 1024);
  EXPECT_EQ(body.size(), size);
  EXPECT_TRUE(body == support::Pattern(size));
}

// A customer behind a proxy names it in the usual environment variable.
TEST_F(CurlInetTest, ProxyFromTheEnvironmentIsUsed) {
  const support::ScopedEnv proxy("http_proxy", http), none("no_proxy", std::nullopt),
      none2("NO_PROXY", std::nullopt);
  const std::string url = "http://ovlu-update.invalid/gen/2500?pid=" + std::to_string(getpid());
  EXPECT_TRUE(Get(url) == support::Pattern(2500));
  std::ifstream log(support::ServerValue("OVLU_TEST_LOG"));
  int asked = 0;
  for (std::string line; std::getline(log, line);) asked += line == "GET " + url;
  EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace ovlu
