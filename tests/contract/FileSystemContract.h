// What every FileSystem gives the agent, whichever system it runs on: one
// suite, instantiated by the test program of each implementation (the POSIX
// one, the Win32 one under Wine, the core tests' machine) over a fresh folder
// of its own, so that the machine the core is tested on cannot drift from
// the real file layers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/Host.h"

namespace ovlu::contract {

// Files by path relative to the folder ("Sub\name", Windows-1252), with their bytes.
using Files = std::map<std::string, std::string>;

// One implementation over an empty folder of its own, removed with it.
struct FileSystemPlace {
  virtual ~FileSystemPlace() = default;
  virtual FileSystem& Fs() = 0;
  // The folder, as the implementation names it, without a final "\".
  virtual std::string Root() const = 0;
  virtual void MakeFolder(const std::string& relative) = 0;
  // Every file under the folder as it lies there, read beside the implementation.
  virtual Files Contents() const = 0;
};

struct FileSystemMaker {
  std::string name;
  std::function<std::unique_ptr<FileSystemPlace>()> make;
};

class FileSystemContract : public ::testing::TestWithParam<FileSystemMaker> {};

inline std::string MakerName(const ::testing::TestParamInfo<FileSystemMaker>& info) {
  return info.param.name;
}

}  // namespace ovlu::contract
