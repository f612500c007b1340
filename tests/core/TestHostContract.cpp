// The core tests' machine held to the same file behaviour as the real file layers.
#include <algorithm>

#include "shell/Vb.h"
#include "tests/contract/FileSystemContract.h"
#include "tests/core/TestHost.h"

namespace ovlu::test {
namespace {

using contract::FileSystemContract;

struct TestPlace : contract::FileSystemPlace {
  TestPlace() { fs.MakeFolder(Root()); }
  FileSystem& Fs() override { return fs; }
  std::string Root() const override { return "C:\\Prova"; }
  void MakeFolder(const std::string& relative) override { fs.MakeFolder(Root() + "\\" + relative); }
  contract::Files Contents() const override {
    contract::Files files;
    const std::filesystem::path root = fs.Real(Root());
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      if (!e.is_regular_file()) continue;
      const std::u8string utf8 = std::filesystem::relative(e.path(), root).generic_u8string();
      std::string rel = Utf8ToAnsi(std::string(utf8.begin(), utf8.end()));
      std::replace(rel.begin(), rel.end(), '/', '\\');
      files[rel] = fs.Get(Root() + "\\" + rel);
    }
    return files;
  }
  TestFileSystem fs;
};

INSTANTIATE_TEST_SUITE_P(TestHost, FileSystemContract,
                         ::testing::Values(contract::FileSystemMaker{
                             "TestHost", [] { return std::make_unique<TestPlace>(); }}),
                         contract::MakerName);

}  // namespace
}  // namespace ovlu::test
