#include "shell/Globals.h"

namespace ovlu {

namespace {
ProcessValues& Storage() {
  static ProcessValues values;
  return values;
}
}  // namespace

ProcessValues& G() { return Storage(); }

void ResetProcessValues() { Storage() = ProcessValues{}; }

}  // namespace ovlu
