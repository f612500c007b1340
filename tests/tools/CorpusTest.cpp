// The seed lists of the fuzz target and every input the fuzzer once broke,
// replayed through the parser and the checker with the fuzz target's checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/ListInvariants.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"

namespace {

TEST(ListCorpusTest, EveryKeptInputKeepsTheProperties) {
  ovlu::PosixFileSystem fs;
  char name[] = "ovlu_list_tests";
  char* argv[] = {name, nullptr};
  ovlu::PosixSystem sys(1, argv);
  ovlu::SetHost(&fs, &sys);
  ovlu::G().EnvWindir = "C:\\Windows";
  ovlu::G().EnvSystemDrive = "C:";
  ovlu::G().DataFolder = "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7";

  int replayed = 0;
  for (const char* folder : {"/fuzz/corpus", "/tests/tools/fuzz-regressions"}) {
    const std::filesystem::path dir = std::string(OVLU_SOURCE_DIR) + folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
      EXPECT_EQ(ovlu::listcheck::ListInvariantFailure(bytes), "") << entry.path();
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 10);
}

// The fuzz target relies on this check to catch badly escaped output.
TEST(ListCorpusTest, JsonCheckTellsGoodFromBad) {
  struct Case {
    const char* text;
    bool json;
  } cases[] = {
      {"{\"a\":[1,-2.5e3,\"x\\u00e8\\n\"],\"b\":{},\"c\":null}", true},
      {"{\"a\":\"Caff\xC3\xA8\"}", true},
      {"{\"a\":\"tab\there\"}", false},  // raw control character
      {"{\"a\":\"x\\q\"}", false},       // unknown escape
      {"{\"a\":\"x\\u00g0\"}", false},   // bad hex
      {"{\"a\":\"Caff\xE8\"}", false},   // not UTF-8
      {"{\"a\":\"open}", false},
      {"{\"a\":1,}", false},
      {"{\"a\":1} {}", false},
      {"{\"a\" 1}", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ovlu::listcheck::IsJson(c.text), c.json) << c.text;
}

}  // namespace
