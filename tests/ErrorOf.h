// The run-time error number a call raises, or 0 when it returns; for the
// tests of every platform.
#pragma once

#include "platform/Host.h"

namespace ovlu {

template <class F>
int ErrorOf(F&& f) {
  try {
    f();
  } catch (const VbError& e) {
    return e.number;
  }
  return 0;
}

}  // namespace ovlu
