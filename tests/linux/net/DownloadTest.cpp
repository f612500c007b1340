// What only the libcurl transfer has, under the agent's download sequence
// against the test server on loopback: a reader slower than the server holds
// no more than a small buffer, and a proxy named in the environment is used.
// How each server behaviour ends is the contract table's
// (tests/contract/InetContractTest.cpp).
#include <gtest/gtest.h>

#include "tests/contract/InetRig.h"
#include "tests/support/TestSupport.h"

namespace ovlu::test {
namespace {

// The agent reads slower than the server sends: the transfer is paused and
// resumed many times, and the body is never in memory whole. A customer
// behind a proxy names it in the usual environment variable; the file's host
// does not resolve, so only the proxy (the test server) can answer.
TEST(CurlInet, SlowReaderKeepsMemoryBoundedAndTheProxyIsUsed) {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  ASSERT_NE(http, "") << "needs the test server (CTest starts it)";
  const support::ScopedEnv proxy("http_proxy", http), none("no_proxy", std::nullopt),
      none2("NO_PROXY", std::nullopt);
  const std::size_t size = 24 * 1024 * 1024 + 17;
  static_assert(InetControl::kBufferSize < 1024 * 1024);
  CurlInet inet;
  AgentRun<> run(inet, "http://ovlu-update.invalid/gen/" + std::to_string(size));
  const long before = RssKiB();
  long held = 0;
  inet.StateChanged = [&](std::int16_t s) {
    if (s == icResponseCompleted) {
      // Before the first chunk is read: long enough for the server to send
      // it all, were nothing held back.
      for (const auto until = Clock::now() + std::chrono::milliseconds(500); Clock::now() < until;)
        inet.Poll();
      held = RssKiB();
    }
    run.form.Inet1_StateChanged(s);
  };
  run.Run();
  EXPECT_LT(held - before, 8 * 1024);
  const std::string body = run.File();
  EXPECT_TRUE(body == support::Pattern(size)) << body.size() << " bytes";
}

}  // namespace
}  // namespace ovlu::test
