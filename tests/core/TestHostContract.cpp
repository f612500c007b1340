// The core tests' machine held to the same file behaviour as the real file layers.

#include "tests/contract/FileSystemContract.h"
#include "tests/core/TestHost.h"

namespace ovlu::test {
namespace {

using contract::FileSystemContract;

struct TestPlace : contract::FileSystemPlace {
  TestPlace() {
    root = "C:\\Prova";
    fs.MakeFolder(root);
    folder = fs.Real(root);
  }
  FileSystem& Fs() override { return fs; }
  TestFileSystem fs;
};

OVLU_FILE_SYSTEM_CONTRACT(TestHost, TestPlace);

}  // namespace
}  // namespace ovlu::test
