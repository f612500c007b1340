// What every FileSystem gives the agent, whichever system it runs on: one
// suite, instantiated by the test program of each implementation (the POSIX
// one, the Win32 one under Wine, the core tests' machine) over a fresh folder
// of its own, so that the machine the core is tested on cannot drift from
// the real file layers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "platform/Host.h"
#include "tests/support/TestSupport.h"

namespace ovlu::contract {

// Files by path relative to the folder ("Sub\name", Windows-1252), with their bytes.
using Files = std::map<std::string, std::string>;

// One implementation over an empty folder of its own, removed with it (read-only files too).
struct FileSystemPlace {
  virtual ~FileSystemPlace() = default;
  virtual FileSystem& Fs() = 0;
  void MakeFolder(const std::string& relative);
  // Every file under the folder as it lies there (names in UTF-8 on disk).
  Files Contents() const;

  support::TempDir dir{"ovlufs"};
  std::filesystem::path folder = dir.Folder();
  std::string root;  // the folder as the implementation names it, without a final "\"
};

// Makes a place of one implementation.
using PlaceMaker = std::unique_ptr<FileSystemPlace> (*)();
// Shown in the test list by the instantiation's name, not by an address.
inline void PrintTo(PlaceMaker, std::ostream* out) { *out << "its place"; }

class FileSystemContract : public ::testing::TestWithParam<PlaceMaker> {};

}  // namespace ovlu::contract

// Runs the suite on one implementation, a FileSystemPlace of type PLACE,
// shown in the test list as NAME.
#define OVLU_FILE_SYSTEM_CONTRACT(NAME, PLACE)                                        \
  INSTANTIATE_TEST_SUITE_P(                                                           \
      NAME, FileSystemContract,                                                       \
      ::testing::Values(+[]() -> std::unique_ptr<::ovlu::contract::FileSystemPlace> { \
        return std::make_unique<PLACE>();                                             \
      }),                                                                             \
      [](const auto&) { return std::string(#NAME); })
