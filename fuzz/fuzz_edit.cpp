// Edits of arbitrary bytes: the first byte picks the decoder, by its place in
// the decoders' table, the next two (little-endian) how many of the rest are
// the object's data; what follows them makes the new values. Where the bytes decode, each field
// the decode marks is given a new value of its stored form, and the edit may
// fail only with the core's error type. An edit that succeeds must give bytes
// that decode again and mark the same fields: an edit changes values, never
// the layout around them. Replacing an object's own key, as a page builder
// does with any bytes it is given, must likewise fail cleanly or succeed.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "resource/prp/decoders.h"
#include "resource/prp/record_edit.h"
#include "taken_bytes.h"

namespace lumivex::fuzz {
namespace {

using Bytes = std::span<const uint8_t>;

// The new values, from the bytes after the object's.
class ValueBytes : public TakenBytes {
 public:
  using TakenBytes::TakenBytes;

  float f32() { return std::bit_cast<float>(u32()); }
  std::string text() {
    std::string out(u8() % 24, '\0');
    for (char& c : out) c = static_cast<char>(u8());
    return out;
  }
  BuiltKey key() {
    BuiltKey key;
    key.location_sequence = u32();
    key.location_flags = static_cast<uint16_t>(u32());
    key.load_mask = u8();
    key.class_type = static_cast<uint16_t>(u32());
    key.object_id = u32();
    key.name_bytes = text();
    if (u8() & 1) {
      key.clone_id = static_cast<uint16_t>(u32());
      key.clone_player_id = u32();
    }
    return key;
  }
  std::vector<BuiltKey> keys() {
    std::vector<BuiltKey> keys(u8() % 4);
    for (BuiltKey& key : keys) key = this->key();
    return keys;
  }
  std::vector<ParamSetting> params() {
    std::vector<ParamSetting> params(u8() % 4);
    for (ParamSetting& param : params) {
      param.id = u32();
      switch (u8() % 5) {
        case 0:
          param.type = 1;
          param.value = static_cast<int32_t>(u32());
          break;
        case 1:
          param.type = 2;
          param.value = f32();
          break;
        case 2:
          param.type = 3;
          param.value = (u8() & 1) != 0;
          break;
        case 3:
          param.type = 4;
          param.value = text();
          break;
        default:
          param.type = 5;
          param.value = u8() & 1 ? std::optional<BuiltKey>(key()) : std::nullopt;
          break;
      }
    }
    return params;
  }
};

// A new value for a field stored as mark says.
FieldValue value_for(const FieldMark& mark, ValueBytes& values) {
  switch (mark.form) {
    case StoredAs::Itself:
      if (mark.size == 4 * sizeof(float))
        return std::array<float, 4>{values.f32(), values.f32(), values.f32(), values.f32()};
      if (mark.size == sizeof(uint8_t) && values.u8() & 1) return (values.u8() & 1) != 0;
      if (mark.size == sizeof(float) && values.u8() & 1) return values.f32();
      return uint64_t{values.u32()} & ((uint64_t{1} << (8 * std::min<uint32_t>(mark.size, 4))) - 1);
    case StoredAs::Integer:
      return static_cast<float>(static_cast<int32_t>(values.u32()) >> (values.u8() % 32));
    case StoredAs::Bit:
      return (values.u8() & 1) != 0;
    case StoredAs::Key:
      return values.u8() & 1 ? std::optional<BuiltKey>(values.key()) : std::nullopt;
    case StoredAs::SafeString:
      return values.text();
    case StoredAs::CountedKeys:
    case StoredAs::FlatKeys:
      return values.keys();
    case StoredAs::Params:
      return values.params();
  }
  std::abort();
}

std::vector<std::string_view> labels(const FieldMarks& marks) {
  std::vector<std::string_view> out;
  for (const FieldMark& mark : marks.all()) out.push_back(mark.field);
  return out;
}

template <std::size_t Index>
void edit_with(Bytes object, ValueBytes& values) {
  using Row = std::remove_cvref_t<decltype(std::get<Index>(kDecoders))>;
  FieldMarks marks;
  try {
    Row::locate(object, marks);
  } catch (const Error&) {
    return;
  }
  for (const FieldMark& mark : marks.all()) {
    const FieldChange change{mark.field, value_for(mark, values)};
    std::vector<uint8_t> edited;
    try {
      edited = with_changes(object, marks, {&change, 1});
    } catch (const Error&) {
      continue;
    }
    FieldMarks edited_marks;
    Row::locate(edited, edited_marks);
    if (labels(edited_marks) != labels(marks)) std::abort();
  }
}

inline constexpr auto kEditFunctions = []<std::size_t... I>(std::index_sequence<I...>) {
  return std::array<void (*)(Bytes, ValueBytes&), sizeof...(I)>{&edit_with<I>...};
}(std::make_index_sequence<kDecoderCount>());

}  // namespace
}  // namespace lumivex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace lumivex;
  if (size < 3) return 0;
  fuzz::TakenBytes input({data, size});
  const uint8_t decoder = input.u8();
  const fuzz::Bytes object = input.span(input.u16());
  fuzz::ValueBytes values(input.rest());
  const auto& edits = fuzz::kEditFunctions;
  edits[decoder % edits.size()](object, values);
  try {
    with_own_key(object, values.key());
  } catch (const Error&) {
  }
  return 0;
}
