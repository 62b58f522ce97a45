#include "resource/prp/record_edit.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "core/key.h"
#include "core/text.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

constexpr std::size_t kWrittenRoom = 256;

[[noreturn]] void cannot_hold(std::string_view field) {
  throw Error("The stored form of " + std::string(field) + " cannot hold that value");
}

// Finds the new bytes of each change, writing them to written and where
// they go to splices.
class Editor {
 public:
  Editor(std::span<const uint8_t> bytes, PlasmaWrite& written, std::pmr::vector<Splice>& splices)
      : bytes_(bytes), source_(bytes), written_(written), splices_(splices) {}

  void edit(std::string_view field, const FieldMarks& marks, const FieldValue& value) {
    const FieldMark* first = marks.find(field);
    if (!first) throw Error("This object does not store " + std::string(field));
    if (first->form == StoredAs::FlatKeys) return edit_flat_keys(field, marks.all(), value);
    const FieldMark& mark = *first;
    switch (mark.form) {
      case StoredAs::Itself:
        return edit_itself(mark, value);
      case StoredAs::Integer:
        return edit_integer(mark, value);
      case StoredAs::Bit:
        return edit_bit(mark, value);
      case StoredAs::Key:
        return edit_key(mark, value);
      case StoredAs::SafeString:
        return edit_safe_string(mark, value);
      case StoredAs::CountedKeys:
        return edit_counted_keys(mark, value);
      case StoredAs::Params:
        return edit_params(mark, value);
      case StoredAs::FlatKeys:
        break;
    }
    cannot_hold(field);
  }

 private:
  template <class T>
  static const T& held(const FieldMark& mark, const FieldValue& value) {
    const T* held = std::get_if<T>(&value);
    if (!held) cannot_hold(mark.field);
    return *held;
  }

  std::span<const uint8_t> stored(const FieldMark& mark) const {
    if (mark.at > bytes_.size() || bytes_.size() - mark.at < mark.size) throw_end_of_data();
    return bytes_.subspan(mark.at, mark.size);
  }

  // Where the bytes of references, texts and parameters are written: room
  // for a few references is made at once rather than grown to.
  PlasmaWrite& room() {
    written_.reserve(kWrittenRoom);
    return written_;
  }

  // The bytes written from `from` on replace [at, at + size), unless they
  // are the same.
  void replace(uint32_t at, uint32_t size, std::size_t from) {
    const auto old = bytes_.subspan(at, size);
    const auto written = std::span(written_.bytes()).subspan(from);
    if (std::equal(old.begin(), old.end(), written.begin(), written.end())) {
      written_.resize(from);
      return;
    }
    splices_.push_back({at, size, from, written.size(), {}});
  }

  // The few bytes of a number, a flag or a colour that put(out) writes
  // replace as many at at, unless they are the same. They are written into
  // the splice itself, in place: such an edit allocates and copies nothing.
  template <class Put>
  void replace_small(uint32_t at, Put&& put) {
    Splice& splice = splices_.emplace_back();
    put(splice.small);
    splice.at = at;
    splice.size = splice.small.size;
    splice.length = splice.small.size;
    const auto old = bytes_.subspan(at, splice.size);
    if (std::equal(old.begin(), old.end(), splice.small.bytes.begin())) splices_.pop_back();
  }

  void replace_word(uint32_t at, uint32_t word) {
    replace_small(at, [word](SmallBytes& out) { out.put(word, sizeof word); });
  }

  void edit_itself(const FieldMark& mark, const FieldValue& value) {
    const auto old = stored(mark);
    if (const auto* number = std::get_if<uint64_t>(&value)) {
      if (mark.size > sizeof(uint32_t) || *number >> (8 * mark.size)) cannot_hold(mark.field);
      replace_small(mark.at, [&](SmallBytes& out) { out.put(*number, mark.size); });
    } else if (const auto* flag = std::get_if<bool>(&value)) {
      if (mark.size != sizeof(uint8_t)) cannot_hold(mark.field);
      // Any non-zero byte is true: one that already says so stays.
      if ((old[0] != 0) == *flag) return;
      replace_small(mark.at, [&](SmallBytes& out) { out.put(*flag ? 1 : 0, sizeof(uint8_t)); });
    } else if (const auto* number = std::get_if<float>(&value)) {
      if (mark.size != sizeof(float)) cannot_hold(mark.field);
      if (float_shown_as(PlasmaRead::load<uint32_t>(old.data()), *number)) return;
      replace_small(mark.at, [&](SmallBytes& out) { out.put(std::bit_cast<uint32_t>(*number), sizeof(float)); });
    } else {
      const auto& color = held<std::array<float, 4>>(mark, value);
      if (mark.size != sizeof color) cannot_hold(mark.field);
      replace_small(mark.at, [&](SmallBytes& out) {
        for (std::size_t i = 0; i < color.size(); ++i) {
          const uint32_t stored_bits = PlasmaRead::load<uint32_t>(old.data() + i * sizeof(float));
          out.put(float_shown_as(stored_bits, color[i]) ? stored_bits : std::bit_cast<uint32_t>(color[i]),
                  sizeof(float));
        }
      });
    }
  }

  // A float shown and a whole number stored: a value equal to the one shown
  // keeps the stored number, which a large one may not be exactly.
  void edit_integer(const FieldMark& mark, const FieldValue& value) {
    const float number = held<float>(mark, value);
    const auto stored_number = static_cast<int32_t>(PlasmaRead::load<uint32_t>(stored(mark).data()));
    if (std::bit_cast<uint32_t>(static_cast<float>(stored_number)) == std::bit_cast<uint32_t>(number)) return;
    if (!(number == std::trunc(number) && number >= -2147483648.0f && number < 2147483648.0f))
      throw Error(std::string(mark.field) + " is stored as a 32-bit whole number, not " + float_text(number));
    replace_word(mark.at, static_cast<uint32_t>(static_cast<int32_t>(number)));
  }

  // Flags of one word change it together: a flag set after another of its
  // word changes the word that one made.
  void edit_bit(const FieldMark& mark, const FieldValue& value) {
    const bool flag = held<bool>(mark, value);
    uint32_t word = PlasmaRead::load<uint32_t>(stored(mark).data());
    const auto made = std::find_if(splices_.begin(), splices_.end(), [&](const Splice& splice) {
      return splice.at == mark.at && splice.small.size == sizeof word;
    });
    if (made != splices_.end()) {
      word = PlasmaRead::load<uint32_t>(made->small.bytes.data());
      splices_.erase(made);
    }
    replace_word(mark.at, flag ? word | mark.detail : word & ~mark.detail);
  }

  void edit_key(const FieldMark& mark, const FieldValue& value) {
    const auto& key = held<std::optional<BuiltKey>>(mark, value);
    PlasmaRead reader(bytes_, mark.at);
    const auto stored = read_key_uoid(reader);
    if (stored ? key && holds_key(*stored, source_, *key) : !key) return;
    const std::size_t from = written_.size();
    PlasmaWrite& out = room();
    write_key_reference(out, key);
    replace(mark.at, mark.size, from);
  }

  void edit_safe_string(const FieldMark& mark, const FieldValue& value) {
    const auto& text = held<std::string>(mark, value);
    PlasmaRead reader(bytes_, mark.at);
    if (source_.text(reader.locate_safe_string()) == text) return;
    check_new_safe_string(text);
    const std::size_t from = written_.size();
    PlasmaWrite& out = room();
    out.write_safe_string(text);
    replace(mark.at, mark.size, from);
  }

  // The list is shown by its present references: equal to those, it stays
  // as stored; else every reference is written present.
  void edit_counted_keys(const FieldMark& mark, const FieldValue& value) {
    const auto& keys = held<std::vector<BuiltKey>>(mark, value);
    PlasmaRead count(bytes_, mark.detail);
    const uint32_t stored_count = count.read_u32();
    PlasmaRead reader(bytes_, mark.at);
    std::size_t present = 0;
    bool same = true;
    for (uint32_t i = 0; i < stored_count; ++i) {
      const auto key = read_key_uoid(reader);
      if (!key) continue;
      same = same && present < keys.size() && holds_key(*key, source_, keys[present]);
      ++present;
    }
    if (same && present == keys.size()) return;
    if (keys.size() > UINT32_MAX) cannot_hold(mark.field);
    replace_word(mark.detail, static_cast<uint32_t>(keys.size()));
    const std::size_t from = written_.size();
    PlasmaWrite& out = room();
    for (const BuiltKey& key : keys) write_key_reference(out, key);
    replace(mark.at, mark.size, from);
  }

  // The present references of every run, in order, each replaced where it
  // changes; absent ones stay absent, and the number of present ones stays.
  void edit_flat_keys(std::string_view field, std::span<const FieldMark> marks, const FieldValue& value) {
    const auto* keys_held = std::get_if<std::vector<BuiltKey>>(&value);
    if (!keys_held) cannot_hold(field);
    const auto& keys = *keys_held;
    std::size_t next = 0;
    for (const FieldMark& mark : marks) {
      if (!same_field(mark.field, field)) continue;
      PlasmaRead reader(bytes_, mark.at);
      for (uint32_t i = 0; i < mark.detail; ++i) {
        const auto at = static_cast<uint32_t>(reader.position());
        const auto key = read_key_uoid(reader);
        if (!key) continue;
        if (next < keys.size() && !holds_key(*key, source_, keys[next])) {
          const std::size_t from = written_.size();
          write_key_reference(room(), keys[next]);
          splices_.push_back({at, static_cast<uint32_t>(reader.position() - at), from, written_.size() - from, {}});
        }
        ++next;
      }
    }
    if (next != keys.size())
      throw Error(std::string(field) + " keeps its length: " + std::to_string(next) + " keys, not " +
                  std::to_string(keys.size()));
  }

  // Each parameter equal to the one stored at its place keeps its bytes.
  void edit_params(const FieldMark& mark, const FieldValue& value) {
    const auto& params = held<std::vector<ParamSetting>>(mark, value);
    if (params.size() > UINT32_MAX) cannot_hold(mark.field);
    PlasmaRead count(bytes_, mark.detail);
    const uint32_t stored_count = count.read_u32();
    PlasmaRead reader(bytes_, mark.at);
    const std::size_t from = written_.size();
    PlasmaWrite& out = room();
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (i < stored_count) {
        const uint64_t begin = reader.position();
        const PythonParam stored_param = read_param(reader);
        if (holds(stored_param, source_, params[i])) {
          out.write_bytes(bytes_.subspan(begin, reader.position() - begin));
          continue;
        }
      }
      write_param(out, params[i]);
    }
    replace_word(mark.detail, static_cast<uint32_t>(params.size()));
    replace(mark.at, mark.size, from);
  }

  std::span<const uint8_t> bytes_;
  Source source_;
  PlasmaWrite& written_;
  std::pmr::vector<Splice>& splices_;
};

}  // namespace

ChangedBytes::ChangedBytes(std::span<const uint8_t> bytes, const FieldMarks& marks,
                           std::span<const FieldChange> changes)
    : bytes_(bytes) {
  splices_.reserve(kSplicesInPlace);
  Editor editor(bytes, written_, splices_);
  for (const FieldChange& change : changes) editor.edit(change.field, marks, change.value);
  std::sort(splices_.begin(), splices_.end(), [](const Splice& a, const Splice& b) { return a.at < b.at; });
  size_ = bytes.size();
  std::size_t from = 0;
  for (const Splice& splice : splices_) {
    if (splice.at < from) throw Error("Two changes overlap");
    size_ = size_ - splice.size + splice.length;
    from = splice.at + splice.size;
  }
  // Every place in an object's bytes is read as 32 bits, as a page holds it.
  if (size_ > UINT32_MAX) throw Error("An object of " + std::to_string(size_) + " bytes is larger than 4 GiB");
}

void ChangedBytes::write_to(uint8_t* out) const {
  const auto put = [&out](std::span<const uint8_t> part) {
    if (part.empty()) return;
    std::memcpy(out, part.data(), part.size());
    out += part.size();
  };
  std::size_t from = 0;
  for (const Splice& splice : splices_) {
    put(bytes_.subspan(from, splice.at - from));
    put(splice.small.size ? std::span<const uint8_t>(splice.small.bytes).first(splice.small.size)
                          : std::span(written_.bytes()).subspan(splice.from, splice.length));
    from = splice.at + splice.size;
  }
  put(bytes_.subspan(from));
}

std::vector<uint8_t> with_changes(std::span<const uint8_t> bytes, const FieldMarks& marks,
                                  std::span<const FieldChange> changes) {
  const ChangedBytes changed(bytes, marks, changes);
  std::vector<uint8_t> out(changed.size());
  changed.write_to(out.data());
  return out;
}

std::vector<uint8_t> with_own_key(std::span<const uint8_t> bytes, const BuiltKey& key) {
  FieldMarks marks;
  PlasmaRead reader(bytes, kClassIndexSize);
  const uint64_t at = reader.position();
  skip_key_uoid(reader);
  marks.mark("name", at, reader.position(), StoredAs::Key);
  const FieldChange change{"name", std::optional<BuiltKey>(key)};
  return with_changes(bytes, marks, {&change, 1});
}

}  // namespace lumivex
