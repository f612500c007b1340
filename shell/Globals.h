// Process-wide values of the agent: one copy each, empty (or False) when the
// process starts, alive until it ends.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/UpdateList.h"

namespace ovlu {

using VbBool = std::int16_t;  // 16-bit Boolean: False 0, True -1
constexpr VbBool vbFalse = 0;
constexpr VbBool vbTrue = -1;

struct ProcessValues {
  std::string DataFolder;
  std::string UpdateListPath;
  std::string EnvWindir;
  std::string EnvSystemDrive;
  VbBool CancelRequested = vbFalse;
  UpdateItemArray UpdateItems;
  std::int32_t BytesSinceTick = 0;
  std::string RemainingTimeText;
};

ProcessValues& G();
// Back to the state of a new process (for tests).
void ResetProcessValues();

}  // namespace ovlu
