// The seed lists of the fuzz target and every input the fuzzer once broke,
// replayed through the parser and the checker with the fuzz target's checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/ListInvariants.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"

namespace ovlu::listcheck {
namespace {

TEST(ListCorpusTest, EveryKeptInputKeepsTheProperties) {
  PosixFileSystem fs;
  PosixSystem sys(0, nullptr);
  SetHost(&fs, &sys);
  G().EnvWindir = "C:\\Windows";
  G().EnvSystemDrive = "C:";
  G().DataFolder = "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7";

  int replayed = 0;
  for (const char* folder : {"/fuzz/corpus", "/tests/tools/fuzz-regressions"}) {
    const std::filesystem::path dir = std::string(OVLU_SOURCE_DIR) + folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
      EXPECT_EQ(ListInvariantFailure(bytes), "") << entry.path();
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 10);
}

// The fuzz target relies on this check to catch badly escaped output: a raw
// control character, an unknown escape, bad hex, text that is not UTF-8, an
// open string, a stray comma, a second value, a missing colon.
TEST(ListCorpusTest, JsonCheckTellsGoodFromBad) {
  EXPECT_TRUE(IsJson("{\"a\":[1,-2.5e3,\"x\\u00e8\\n\"],\"b\":{},\"c\":null}"));
  EXPECT_TRUE(IsJson("{\"a\":\"Caff\xC3\xA8\"}"));
  for (const char* bad :
       {"{\"a\":\"tab\there\"}", "{\"a\":\"x\\q\"}", "{\"a\":\"x\\u00g0\"}", "{\"a\":\"Caff\xE8\"}",
        "{\"a\":\"open}", "{\"a\":1,}", "{\"a\":1} {}", "{\"a\" 1}"})
    EXPECT_FALSE(IsJson(bad)) << bad;
}

}  // namespace
}  // namespace ovlu::listcheck
