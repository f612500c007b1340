// A flag that is set for as long as a scope runs, and cleared when it is
// left, by a return or an exception alike: "inside this handler", "inside
// this turn of the network".
#pragma once

namespace ovlu {

class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace ovlu
