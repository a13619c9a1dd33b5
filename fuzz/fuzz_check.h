// What the fuzz targets share: a check that holds in every build type (the
// targets are built without NDEBUG mattering) and a reader of fuzzer bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace zw::fuzz {

[[noreturn]] inline void failed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

// Takes the fuzzer's bytes apart from the front.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t left() const { return size_; }
  std::uint8_t byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  // Up to the next zero byte (dropped), or everything left.
  std::string text() {
    std::string out;
    while (size_ > 0) {
      std::uint8_t c = byte();
      if (c == 0) break;
      out.push_back(static_cast<char>(c));
    }
    return out;
  }
  std::string_view rest() {
    std::string_view out(reinterpret_cast<const char*>(data_), size_);
    data_ += size_;
    size_ = 0;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace zw::fuzz

#define ZW_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::zw::fuzz::failed(#condition, __FILE__, __LINE__))
