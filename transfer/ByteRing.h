// A fixed-capacity FIFO of bytes: the body bytes that the network has
// brought and the agent has not read yet.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace ovlu {

class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity) : data_(capacity) {}

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return data_.size(); }
  std::size_t Free() const { return data_.size() - size_; }
  bool Empty() const { return size_ == 0; }

  // Appends all n bytes; false (and nothing appended) when they do not fit.
  bool Push(const unsigned char* src, std::size_t n) {
    if (n > Free()) return false;
    std::size_t tail = (head_ + size_) % data_.size();
    const std::size_t first = std::min(n, data_.size() - tail);
    std::memcpy(data_.data() + tail, src, first);
    std::memcpy(data_.data(), src + first, n - first);
    size_ += n;
    return true;
  }

  // Moves up to n bytes to dst; returns how many.
  std::size_t Pop(unsigned char* dst, std::size_t n) {
    n = std::min(n, size_);
    const std::size_t first = std::min(n, data_.size() - head_);
    std::memcpy(dst, data_.data() + head_, first);
    std::memcpy(dst + first, data_.data(), n - first);
    head_ = (head_ + n) % data_.size();
    size_ -= n;
    if (size_ == 0) head_ = 0;
    return n;
  }

  void Clear() { head_ = size_ = 0; }

 private:
  std::vector<unsigned char> data_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace ovlu
