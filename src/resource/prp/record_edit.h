#pragma once

// An object's bytes with some of its fields changed: the new values are
// stored over the bytes of just those fields, found by the decoder's marks,
// and every other byte is copied as it was, understood or not.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "resource/prp/field_marks.h"
#include "resource/prp/object_key.h"
#include "resource/prp/python_file_mod.h"

namespace lumivex {

// A field's new value: an unsigned integer, a float, a bool, a colour, a text
// (UTF-8), a reference or none, a list of references, a list of parameters.
using FieldValue = std::variant<uint64_t, float, bool, std::array<float, 4>, std::string, std::optional<BuiltKey>,
                                std::vector<BuiltKey>, std::vector<ParamSetting>>;

struct FieldChange {
  std::string_view field;  // the view property, as the marks label it
  FieldValue value;
};

// Whether the float stored as stored_bits is shown as number, by its bits:
// a signalling NaN shows as the quiet NaN of its payload, as a double made
// from it is.
inline bool float_shown_as(uint32_t stored_bits, float number) {
  constexpr uint32_t kExponent = 0x7F800000;
  constexpr uint32_t kMantissa = 0x007FFFFF;
  constexpr uint32_t kQuiet = 0x00400000;
  const bool nan = (stored_bits & kExponent) == kExponent && (stored_bits & kMantissa) != 0;
  return std::bit_cast<uint32_t>(number) == (nan ? stored_bits | kQuiet : stored_bits);
}

// The stored bytes of a number, a flag or a colour, little-endian.
struct SmallBytes {
  std::array<uint8_t, 4 * sizeof(float)> bytes{};
  uint32_t size = 0;

  // The size_of_value low bytes of value, after those already put. The
  // size is stored once: a byte stored may alias it.
  void put(uint64_t value, uint32_t size_of_value) {
    const uint32_t at = size;
    for (uint32_t i = 0; i < size_of_value; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    size = at + size_of_value;
  }
};

// New bytes for [at, at + size) of the old ones: `length` of them, either
// the small ones held here or those written from `from` on.
struct Splice {
  uint32_t at = 0;
  uint32_t size = 0;
  std::size_t from = 0;
  std::size_t length = 0;
  SmallBytes small;
};

// bytes with each change stored over the field it names, found first and
// written where the caller asks: a view's new bytes go straight into the
// view. A value equal to the stored one (a float by its bits, a text as
// decoded, a list element by element) keeps its stored bytes. Fails on a
// field the bytes do not store, on a value its stored form cannot hold and on
// two changes that overlap.
class ChangedBytes {
 public:
  ChangedBytes(std::span<const uint8_t> bytes, const FieldMarks& marks, std::span<const FieldChange> changes);
  ChangedBytes(const ChangedBytes&) = delete;
  ChangedBytes& operator=(const ChangedBytes&) = delete;

  std::size_t size() const { return size_; }
  // Whether every byte stays as it was.
  bool unchanged() const { return splices_.empty(); }
  // Writes the size() new bytes to out.
  void write_to(uint8_t* out) const;

 private:
  // The splices of a few changes are kept in place.
  static constexpr std::size_t kSplicesInPlace = 4;

  std::span<const uint8_t> bytes_;
  // The new bytes of every splice that holds more than a few.
  PlasmaWrite written_;
  alignas(Splice) std::array<std::byte, kSplicesInPlace * sizeof(Splice)> splice_memory_;
  std::pmr::monotonic_buffer_resource splice_resource_{splice_memory_.data(), splice_memory_.size()};
  std::pmr::vector<Splice> splices_{&splice_resource_};  // in stored order
  std::size_t size_ = 0;
};

// The same bytes, as a vector.
std::vector<uint8_t> with_changes(std::span<const uint8_t> bytes, const FieldMarks& marks,
                                  std::span<const FieldChange> changes);

// bytes with the object's own key, which follows its class index, made key;
// unchanged where it already is.
std::vector<uint8_t> with_own_key(std::span<const uint8_t> bytes, const BuiltKey& key);

}  // namespace lumivex
