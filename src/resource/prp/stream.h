#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/error.h"

namespace lumivex {

// A little-endian cursor over bytes it borrows. Every read that finds fewer
// bytes left than it needs moves the position to the end and throws the
// end-of-data error. The position may lie beyond the end after a forward seek.
class PlasmaRead {
 public:
  PlasmaRead(std::span<const uint8_t> data, uint64_t position = 0) : data_(data), position_(position) {}

  uint64_t position() const { return position_; }
  uint64_t length() const { return data_.size(); }
  void set_position(uint64_t position) { position_ = position; }
  // Bytes from the position to the end; 0 when the position is past the end.
  uint64_t remaining() const { return position_ < data_.size() ? data_.size() - position_ : 0; }

  uint8_t read_u8() { return *take(1); }
  uint16_t read_u16() { return load<uint16_t>(take(2)); }
  int16_t read_i16() { return static_cast<int16_t>(read_u16()); }
  uint32_t read_u32() { return load<uint32_t>(take(4)); }
  int32_t read_i32() { return static_cast<int32_t>(read_u32()); }
  float read_f32() {
    const uint32_t bits = read_u32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  void skip(uint64_t n) { take(n); }
  // Moves forward without reading; only the next read notices the end.
  void seek_forward(uint64_t n) {
    if (n > std::numeric_limits<uint64_t>::max() - position_)
      throw Error("invalid seek to a negative or overflowing position");
    position_ += n;
  }
  // The next n bytes, without copying them.
  std::span<const uint8_t> read_bytes(uint64_t n) { return {take(n), static_cast<std::size_t>(n)}; }
  std::string read_safe_string();
  // Steps over a safe string. Decoding cannot fail, so this fails exactly
  // where read_safe_string would: on a short header or a short body.
  void skip_safe_string() { skip(read_u16() & 0x0FFF); }

 private:
  const uint8_t* take(uint64_t n) {
    if (remaining() < n) {
      position_ = data_.size();
      throw Error(kEndOfData);
    }
    const uint8_t* at = data_.data() + position_;
    position_ += n;
    return at;
  }
  template <class T>
  static T load(const uint8_t* at) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
    return value;
  }

  std::span<const uint8_t> data_;
  uint64_t position_;
};

// Little-endian writes appended to a growable buffer.
class PlasmaWrite {
 public:
  explicit PlasmaWrite(std::size_t capacity = 0) { buffer_.reserve(capacity); }

  void write_u8(uint8_t v) { buffer_.push_back(v); }
  void write_u16(uint16_t v) { store(v); }
  void write_u32(uint32_t v) { store(v); }
  void write_bytes(std::span<const uint8_t> bytes) { buffer_.insert(buffer_.end(), bytes.begin(), bytes.end()); }
  // Always the inverted form, without a terminating byte. A text longer than
  // the 12-bit length field can hold is refused rather than misstated.
  void write_safe_string(std::string_view text);

  std::size_t size() const { return buffer_.size(); }
  void resize(std::size_t size) { buffer_.resize(size); }
  const std::vector<uint8_t>& bytes() const { return buffer_; }
  std::vector<uint8_t> take_bytes() { return std::move(buffer_); }

 private:
  template <class T>
  void store(T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i) buffer_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }

  std::vector<uint8_t> buffer_;
};

}  // namespace lumivex
