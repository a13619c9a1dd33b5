// The collection library stand-in: a list with append at the end, find by
// identity, removal of one entry, drop all, count and iteration in order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zw {

template <typename T>
class ZoList {
 public:
  void append(const T& value) { items_.push_back(value); }
  bool contains(const T& value) const {
    return std::find(items_.begin(), items_.end(), value) != items_.end();
  }
  bool remove(const T& value) {
    auto it = std::find(items_.begin(), items_.end(), value);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
  }
  void dropAll() { items_.clear(); }
  std::size_t count() const { return items_.size(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T> items_;
};

}  // namespace zw
