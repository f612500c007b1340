// What only the libcurl transfer has, under the agent's download sequence
// against the test server on loopback: a proxy named in the environment is
// used. How each server behaviour ends, and that a reader that takes nothing
// holds no more than a small buffer, is the contract table's
// (tests/contract/InetContractTest.cpp).
#include <gtest/gtest.h>

#include "tests/contract/InetRig.h"
#include "tests/support/TestSupport.h"

namespace ovlu::test {
namespace {

// A customer behind a proxy names it in the usual environment variable; the
// file's host does not resolve, so only the proxy (the test server) can
// answer.
TEST(CurlInet, AProxyNamedInTheEnvironmentIsUsed) {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  ASSERT_NE(http, "") << "needs the test server (CTest starts it)";
  const support::ScopedEnv proxy("http_proxy", http), none("no_proxy", std::nullopt),
      none2("NO_PROXY", std::nullopt);
  CurlInet inet;
  AgentRun<> run(inet, "http://ovlu-update.invalid/gen/100000");
  run.Run();
  EXPECT_TRUE(run.File() == support::Pattern(100000)) << run.File().size() << " bytes";
}

}  // namespace
}  // namespace ovlu::test
