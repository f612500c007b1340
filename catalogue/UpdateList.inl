#pragma once
#include "platform/Host.h"

namespace ovlu {

template <class T>
std::int32_t GrowArray<T>::UBound() const {
  if (!sized_) throw VbError(errSubscript, "Subscript out of range");
  return static_cast<std::int32_t>(items_.size()) - 1;
}
template <class T>
T& GrowArray<T>::operator[](std::int32_t i) {
  if (!sized_ || i < 0 || static_cast<std::size_t>(i) >= items_.size())
    throw VbError(errSubscript, "Subscript out of range");
  return items_[static_cast<std::size_t>(i)];
}
template <class T>
const T& GrowArray<T>::operator[](std::int32_t i) const {
  if (!sized_ || i < 0 || static_cast<std::size_t>(i) >= items_.size())
    throw VbError(errSubscript, "Subscript out of range");
  return items_[static_cast<std::size_t>(i)];
}

}  // namespace ovlu
