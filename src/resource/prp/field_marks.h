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

// Whether two labels are the same. Labels come from literals, which the
// linker keeps once each, so the same label is mostly the same pointer.
inline bool same_field(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.data() == b.data() || a.empty() || (a[0] == b[0] && a == b));
}

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
  void unread_key(uint64_t) {}
};

// Every mark, in stored order. The marks of a record are few but for a long
// list shown flattened: they are kept in place until they outgrow it. Marking
// is a store and a step of one pointer, as the decode writes its record.
class FieldMarks {
 public:
  FieldMarks() = default;
  FieldMarks(const FieldMarks&) = delete;
  FieldMarks& operator=(const FieldMarks&) = delete;

  // The field stored in [begin, end).
  void mark(std::string_view field, uint64_t begin, uint64_t end, StoredAs form, uint32_t detail = 0) {
    if (next_ == end_) [[unlikely]]
      grow();
    *next_++ = FieldMark{field, static_cast<uint32_t>(begin), static_cast<uint32_t>(end - begin), form, detail};
  }

  std::span<const FieldMark> all() const { return {first_, next_}; }

  // A key reference at `at` that the decode steps over and no field shows
  // (a responder message's sender): a rename still rewrites it.
  void unread_key(uint64_t at) { unread_keys_.push_back(static_cast<uint32_t>(at)); }
  std::span<const uint32_t> unread_keys() const { return unread_keys_; }

  // The first mark of field, or null where the bytes do not store it.
  const FieldMark* find(std::string_view field) const {
    for (const FieldMark& mark : all())
      if (same_field(mark.field, field)) return &mark;
    return nullptr;
  }

 private:
  // Moves the marks to twice the room.
  void grow() {
    const auto count = static_cast<std::size_t>(next_ - first_);
    std::vector<FieldMark> larger;
    larger.reserve(2 * count);
    larger.assign(first_, next_);
    larger.resize(larger.capacity(), FieldMark{});
    spilled_ = std::move(larger);
    first_ = spilled_.data();
    next_ = first_ + count;
    end_ = first_ + spilled_.size();
  }

  std::array<FieldMark, 16> in_place_;
  std::vector<FieldMark> spilled_;  // once in_place_ is outgrown
  std::vector<uint32_t> unread_keys_;
  FieldMark* first_ = in_place_.data();
  FieldMark* next_ = first_;
  FieldMark* end_ = first_ + in_place_.size();
};

}  // namespace lumivex
