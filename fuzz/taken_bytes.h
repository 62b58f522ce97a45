#pragma once

#include <algorithm>
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
  // The next count bytes, or as many as are left.
  std::span<const uint8_t> span(std::size_t count) {
    const std::span<const uint8_t> left = bytes_.subspan(std::min(next_, bytes_.size()));
    const std::span<const uint8_t> taken = left.first(std::min(count, left.size()));
    next_ += taken.size();
    return taken;
  }
  // Every byte not yet taken.
  std::span<const uint8_t> rest() { return span(bytes_.size()); }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t next_ = 0;
};

}  // namespace lumivex::fuzz
