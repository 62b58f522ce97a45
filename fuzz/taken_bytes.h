#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumivex::fuzz {

// Bytes of a fuzz input taken in turn as little-endian values, zeros once
// they run out: every input drives a whole run.
class TakenBytes {
 public:
  explicit TakenBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool done() const { return next_ >= bytes_.size(); }
  uint8_t u8() { return next_ < bytes_.size() ? bytes_[next_++] : 0; }
  uint16_t u16() {
    const uint8_t low = u8();
    return static_cast<uint16_t>(low | u8() << 8);
  }
  uint32_t u32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{u8()} << (8 * i);
    return value;
  }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t next_ = 0;
};

}  // namespace lumivex::fuzz
