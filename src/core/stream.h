#pragma once

#include <algorithm>
#include <bit>
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

// Records do not copy what they read: they locate strings, byte runs and
// lists in the bytes they were read from, and a Source over those same bytes
// reads them back when asked. Offsets are 32-bit, since nothing read is
// larger than 4 GiB. A debug build records the length of the bytes each value
// was located in and checks it against the Source that reads it back.
struct Located {
#ifndef NDEBUG
  // A value made empty rather than located reads back as empty from any bytes.
  static constexpr uint64_t kNotLocated = UINT64_MAX;
  uint64_t source_size = kNotLocated;
#endif
};

// The bits of a safe string's header word that hold its length; the rest
// are flags, all set where the characters are stored inverted, as the
// writer stores them.
inline constexpr uint16_t kSafeStringLengthMask = 0x0FFF;
inline constexpr uint16_t kInvertedStringFlags = 0xF000;

// A safe string: the position of its characters and its header word.
struct StoredString : Located {
  uint32_t offset = 0;
  uint16_t header = 0;

  uint16_t size() const { return header & kSafeStringLengthMask; }
  bool inverted() const { return (header & kInvertedStringFlags) == kInvertedStringFlags; }
};

// A run of bytes.
struct ByteRange : Located {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// A key reference, or none: the place of its presence byte plus one, 0 for
// an absent reference. Presence and place are one word, so that a record
// copies it whole. Its fields are read again when asked for (read_key in
// key.h).
struct StoredKey : Located {
  uint32_t place = 0;

  explicit operator bool() const { return place != 0; }
};

// count elements stored one after another from offset. The decoder steps
// over them; they are read again, by the same routine, only when asked for.
template <class Item>
struct StoredList : Located {
  uint32_t offset = 0;
  uint32_t count = 0;
};

// Out of line, so that every read stays small enough to inline; it takes no
// cursor, so that a decoder's cursor can live in registers.
[[noreturn]] void throw_end_of_data();

// A little-endian cursor over bytes it borrows. Every read that finds fewer
// bytes left than it needs moves the position to the end and throws the
// end-of-data error. The position may lie beyond the end after a forward seek,
// by less than 2^63 bytes.
//
// The cursor keeps the signed count of bytes left rather than its position:
// every read then costs one comparison, negative after a seek past the end.
// The wrapping arithmetic of unsigned values converts between the two.
class PlasmaRead {
 public:
  PlasmaRead(std::span<const uint8_t> data, uint64_t position = 0)
      : data_(data), left_(static_cast<int64_t>(data.size() - position)) {}

  uint64_t position() const { return data_.size() - static_cast<uint64_t>(left_); }
  uint64_t length() const { return data_.size(); }
  void set_position(uint64_t position) { left_ = static_cast<int64_t>(data_.size() - position); }
  // Bytes from the position to the end; 0 when the position is past the end.
  uint64_t remaining() const { return left_ > 0 ? static_cast<uint64_t>(left_) : 0; }

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
    if (n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
        left_ < std::numeric_limits<int64_t>::min() + static_cast<int64_t>(n))
      throw Error("invalid seek to a negative or overflowing position");
    left_ -= static_cast<int64_t>(n);
  }
  // The next n bytes when that many remain, else null; the position stays.
  // One test then covers several fixed fields, which advance() steps over.
  const uint8_t* peek(uint64_t n) const { return fits(n) ? end() - left_ : nullptr; }
  // Steps over n bytes that a peek has shown to be there.
  void advance(uint64_t n) { left_ -= static_cast<int64_t>(n); }
  // The next n bytes, without copying them.
  std::span<const uint8_t> read_bytes(uint64_t n) { return {take(n), static_cast<std::size_t>(n)}; }
  // Steps over the next n bytes and says where they lie.
  ByteRange locate_bytes(uint64_t n) {
    ByteRange range = located<ByteRange>();
    take(n);
    range.size = static_cast<uint32_t>(n);
    return range;
  }
  // The text of a safe string: its bytes inverted back where stored
  // inverted, one trailing NUL dropped, each invalid UTF-8 sequence replaced.
  std::string read_safe_string();
  // The stored bytes of a safe string, not decoded, kept for writing back.
  std::string read_safe_string_bytes();
  // Steps over a safe string and says where it lies. Decoding cannot fail, so
  // this fails exactly where read_safe_string would: on a short header or a
  // short body.
  StoredString locate_safe_string() {
    const uint16_t header = read_u16();
    StoredString text = located<StoredString>();
    text.header = header;
    take(header & kSafeStringLengthMask);
    return text;
  }
  void skip_safe_string() { skip(read_u16() & kSafeStringLengthMask); }
  // A list of count elements that starts here; the caller steps over them.
  template <class Item>
  StoredList<Item> locate_list(uint64_t count) {
    StoredList<Item> list = located<StoredList<Item>>();
    list.count = static_cast<uint32_t>(count);
    return list;
  }
  // A value located at the position, which lies within the bytes; its other
  // fields are the caller's to fill.
  template <class Value>
  Value located() const {
    Value value;
    value.offset = static_cast<uint32_t>(position());
#ifndef NDEBUG
    value.source_size = data_.size();
#endif
    return value;
  }

  // The little-endian value stored at at.
  template <class T>
  static T load(const uint8_t* at) {
    T value = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&value, at, sizeof value);
    } else {
      for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
    }
    return value;
  }

 private:
  // Whether n more bytes are there. A count of 2^63 or more never is; for the
  // fixed sizes of most reads the compiler drops that test.
  bool fits(uint64_t n) const { return static_cast<int64_t>(n) >= 0 && static_cast<int64_t>(n) <= left_; }
  const uint8_t* end() const { return data_.data() + data_.size(); }
  const uint8_t* take(uint64_t n) {
    if (!fits(n)) [[unlikely]] {
      left_ = 0;
      throw_end_of_data();
    }
    const uint8_t* at = end() - left_;
    left_ -= static_cast<int64_t>(n);
    return at;
  }

  std::span<const uint8_t> data_;
  int64_t left_;  // bytes from the position to the end
};

// The bytes records were read from: the one way back from a located value to
// its text, its bytes or its elements. A value located elsewhere gives other
// text or fails with the end-of-data error; a debug build refuses it.
class Source {
 public:
  explicit Source(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }
  // As PlasmaRead::read_safe_string and read_safe_string_bytes give them.
  std::string text(const StoredString& text) const;
  std::string stored_bytes(const StoredString& text) const;
  // Whether stored_bytes(text) == bytes, compared where they lie.
  bool stores(const StoredString& text, std::string_view bytes) const;
  // The bytes of text that reading keeps, as they lie (inverted where it
  // is): all but a last one that is a NUL, which reading drops.
  std::span<const uint8_t> stored_span(const StoredString& text) const {
    check(text);
    const uint16_t length = text.size();
    if (length == 0) return {};
    if (text.offset > bytes_.size() || bytes_.size() - text.offset < length) throw_end_of_data();
    const std::span<const uint8_t> stored = bytes_.subspan(text.offset, length);
    const uint8_t nul = text.inverted() ? 0xFF : 0x00;
    return stored.back() == nul ? stored.first(length - 1u) : stored;
  }
  std::span<const uint8_t> bytes(const ByteRange& range) const {
    check(range);
    if (range.offset > bytes_.size() || bytes_.size() - range.offset < range.size) throw_end_of_data();
    return bytes_.subspan(range.offset, range.size);
  }
  // The list's elements, each read by read_item from a reader over these
  // bytes, the routine that stepped over them when the list was located.
  template <class Item, class ReadItem>
  std::vector<Item> items(const StoredList<Item>& list, ReadItem&& read_item) const {
    PlasmaRead reader = reader_at(list);
    std::vector<Item> items;
    // Every element takes at least one byte.
    items.reserve(std::min<uint64_t>(list.count, reader.remaining()));
    for (uint32_t i = 0; i < list.count; ++i) items.push_back(read_item(reader));
    return items;
  }
  // A reader at the start of a located list.
  template <class Item>
  PlasmaRead reader_at(const StoredList<Item>& list) const {
    check(list);
    return PlasmaRead(bytes_, list.offset);
  }
  // A reader at a present key reference.
  PlasmaRead reader_at(const StoredKey& key) const {
    check(key);
    return PlasmaRead(bytes_, key.place - 1);
  }

 private:
  void check([[maybe_unused]] const Located& value) const {
#ifndef NDEBUG
    if (value.source_size != Located::kNotLocated && value.source_size != bytes_.size())
      throw Error("A located value read back from other bytes");
#endif
  }

  std::span<const uint8_t> bytes_;
};

// A record and the bytes it was read from, which its located values are read
// back from.
template <class Record>
struct Decoded {
  Record record;
  Source source;
};

// Fails on a text longer than a safe string's 12-bit length can say.
void check_safe_string(std::string_view text);
// Fails, further, on a new text that would not be read back as itself: one
// ending in a NUL, which reading takes for the string's terminator.
void check_new_safe_string(std::string_view text);

// Little-endian writes appended to a growable buffer.
class PlasmaWrite {
 public:
  explicit PlasmaWrite(std::size_t capacity = 0) { buffer_.reserve(capacity); }

  void write_u8(uint8_t v) { buffer_.push_back(v); }
  void write_u16(uint16_t v) { store(v); }
  void write_u32(uint32_t v) { store(v); }
  void write_bytes(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    const std::size_t at = buffer_.size();
    buffer_.resize(at + bytes.size());
    std::memcpy(buffer_.data() + at, bytes.data(), bytes.size());
  }
  // Always the inverted form, without a terminating byte. Bytes are written
  // as given, valid UTF-8 or not. More than the 12-bit length field can hold
  // is refused rather than misstated.
  void write_safe_string(std::string_view text);

  std::size_t size() const { return buffer_.size(); }
  void resize(std::size_t size) { buffer_.resize(size); }
  void reserve(std::size_t capacity) { buffer_.reserve(capacity); }
  const std::vector<uint8_t>& bytes() const { return buffer_; }
  std::vector<uint8_t> take_bytes() { return std::move(buffer_); }

 private:
  // One resize, not a push per byte.
  template <class T>
  void store(T v) {
    const std::size_t at = buffer_.size();
    buffer_.resize(at + sizeof(T));
    for (std::size_t i = 0; i < sizeof(T); ++i) buffer_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  std::vector<uint8_t> buffer_;
};

}  // namespace lumivex
