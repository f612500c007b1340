// libFuzzer target: the agent's update-list parser and the list checker on
// arbitrary bytes. Besides crashes, hangs and out-of-bounds reads (the
// sanitizers), any broken property of the result aborts the run.
#include <cstdio>
#include <cstdlib>

#include "fuzz/ListInvariants.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static ovlu::PosixFileSystem fs;
  static ovlu::PosixSystem sys(*argc, *argv);
  ovlu::SetHost(&fs, &sys);
  ovlu::G().EnvWindir = "C:\\Windows";
  ovlu::G().EnvSystemDrive = "C:";
  ovlu::G().DataFolder = "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::vector<unsigned char> bytes(data, data + size);
  const std::string failure = ovlu::listcheck::ListInvariantFailure(bytes);
  if (!failure.empty()) {
    std::fprintf(stderr, "property broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
