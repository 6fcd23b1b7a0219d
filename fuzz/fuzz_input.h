// Reads typed values off the fuzzer's bytes; past the end every value is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pkdv::fuzzing {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

  template <typename T>
  T take() {
    T value{};
    const std::size_t n = left_ < sizeof value ? left_ : sizeof value;
    if (n) std::memcpy(&value, data_, n);
    data_ += n;
    left_ -= n;
    return value;
  }

  // Up to `most` bytes.
  std::vector<std::uint8_t> bytes(std::size_t most) {
    const std::size_t n = left_ < most ? left_ : most;
    std::vector<std::uint8_t> out(data_, data_ + n);
    data_ += n;
    left_ -= n;
    return out;
  }

  std::size_t left() const { return left_; }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

// A violated expectation is a crash the fuzzer reports with its input.
inline void expect(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace pkdv::fuzzing
