#pragma once

// Where the fields a view can change lie in an object's bytes. Each decoder
// is written once, over a Marks type: the decode passes NoMarks, whose calls
// compile to nothing, and an edit passes FieldMarks, which keeps them. A mark
// is labelled by the view property it sets.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace lumivex {

// How a field's value is stored.
enum class StoredAs : uint8_t {
  Itself,       // its own little-endian bytes: an integer of the mark's size, a float, 4 floats; a bool as one byte
  Integer,      // a float shown, stored as a 32-bit integer
  Bit,          // a bool: the bit `detail` of a 32-bit word
  Key,          // a key reference
  SafeString,   // a safe string, its header included
  CountedKeys,  // key references counted by the 32-bit word at `detail`
  FlatKeys,     // `detail` key references, one run of a list shown flattened: its length stays
  Params,       // script parameters counted by the 32-bit word at `detail`
};

// Made whole by FieldMarks::mark alone: without default values, the marks
// kept in place are not written before they are marked.
struct FieldMark {
  std::string_view field;  // the view property: "opacity"
  uint32_t at;             // where the stored value begins
  uint32_t size;           // its stored bytes
  StoredAs form;
  uint32_t detail;
};

// The decode's marks: nothing kept.
struct NoMarks {
  void mark(std::string_view, uint64_t, uint64_t, StoredAs, uint32_t = 0) {}
};

// Every mark, in stored order. The marks of a record are few but for a long
// list shown flattened: they are kept in place until they outgrow it.
class FieldMarks {
 public:
  // The field stored in [begin, end).
  void mark(std::string_view field, uint64_t begin, uint64_t end, StoredAs form, uint32_t detail = 0) {
    const FieldMark mark{field, static_cast<uint32_t>(begin), static_cast<uint32_t>(end - begin), form, detail};
    if (count_ < in_place_.size()) {
      in_place_[count_++] = mark;
      return;
    }
    if (spilled_.empty()) spilled_.assign(in_place_.begin(), in_place_.end());
    spilled_.push_back(mark);
  }

  std::span<const FieldMark> all() const {
    if (!spilled_.empty()) return spilled_;
    return {in_place_.data(), count_};
  }

  bool stores(std::string_view field) const {
    for (const FieldMark& mark : all())
      if (mark.field == field) return true;
    return false;
  }

 private:
  std::array<FieldMark, 16> in_place_;  // the first count_ of them marked
  std::size_t count_ = 0;
  std::vector<FieldMark> spilled_;
};

}  // namespace lumivex
