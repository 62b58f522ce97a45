// An object's bytes edited through the marks of its decoder: with no change
// they come back whole, and each field changed alone reads back as set while
// every byte before and after it stays. Tried on bodies of the decoders and on
// those bodies with bytes changed at random.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "resource/prp/decoders.h"
#include "resource/prp/record_edit.h"
#include "resource/prp/synched_object.h"
#include "stored_key.h"

using namespace lumivex;
using lumivex::test::write_key;

namespace {

using Bytes = std::vector<uint8_t>;

void write_words(PlasmaWrite& w, std::initializer_list<uint32_t> words) {
  for (const uint32_t word : words) w.write_u32(word);
}

Bytes layer_bytes() {
  PlasmaWrite w;
  w.write_u16(0x0006);
  write_key(w, "Layer");
  w.write_u32(0);
  write_key(w, "Under");
  write_words(w, {1, 2, 3, 4, 5});
  w.write_u8(0);
  for (int i = 0; i < 16; ++i) w.write_u32(std::bit_cast<uint32_t>(static_cast<float>(i)));
  write_words(w, {0x0102, 0x3F800000, 0, 0});
  write_key(w, "Texture");
  return w.take_bytes();
}

Bytes scene_object_bytes() {
  PlasmaWrite w;
  w.write_u16(0x0001);
  write_key(w, "Tree");
  w.write_u32(0);
  for (const char* name : {"Draw", "Sim", "Coord"}) write_key(w, name);
  w.write_u8(0);
  w.write_u32(1);
  write_key(w, "Generic");
  w.write_u32(2);
  write_key(w, "Modifier");
  w.write_u8(0);
  write_key(w, "Node");
  return w.take_bytes();
}

Bytes material_bytes() {
  PlasmaWrite w;
  w.write_u16(0x0007);
  write_key(w, "Mat");
  w.write_u32(0);
  write_words(w, {1, 2, 2, 1});
  write_key(w, "Base");
  write_key(w, "Top");
  write_key(w, "Piggyback");
  return w.take_bytes();
}

Bytes sound_bytes() {
  PlasmaWrite w;
  w.write_u16(0x0049);
  write_key(w, "Wind");
  w.write_u32(0);
  w.write_bytes(Bytes(9, 1));
  write_words(w, {100, 5, 0, 0x3F000000});
  w.write_bytes(Bytes(16, 2));
  w.write_u32(0x0D);
  w.write_bytes(Bytes(52, 3));
  write_key(w, "Region");
  write_key(w, "wind.ogg");
  return w.take_bytes();
}

Bytes python_file_mod_bytes() {
  PlasmaWrite w;
  w.write_u16(0x00A2);
  write_key(w, "Mod");
  write_words(w, {0, 0});
  w.write_safe_string("script");
  w.write_u32(1);
  write_key(w, "Receiver");
  write_words(w, {3, 1, 1, 7, 2, 5});
  write_key(w, "Activator");
  write_words(w, {3, 4, 3, 0x00626100});  // a string parameter, "ab"
  return w.take_bytes();
}

Bytes responder_bytes() {
  PlasmaWrite w;
  w.write_u16(0x007C);
  write_key(w, "Responder");
  write_words(w, {0, 0});
  w.write_u8(1);
  for (const uint8_t byte : {7, 8, 1}) w.write_u8(byte);
  w.write_u16(0x0306);
  w.write_u8(0);
  w.write_u32(2);
  write_key(w, "Receiver");
  w.write_u8(0);
  w.write_bytes(Bytes(12, 0));
  w.write_u8(0);
  w.write_u8(0);
  for (const uint8_t byte : {0, 1, 0}) w.write_u8(byte);
  return w.take_bytes();
}

BuiltKey new_key(const char* name) { return {0x10002, 4, 0x21, 0x0001, 9, name, 1, 2}; }

// A value unlike any the bodies hold, of the kind the mark stores.
FieldValue new_value(const FieldMark& mark) {
  switch (mark.form) {
    case StoredAs::Itself:
      if (mark.size == 16) return std::array<float, 4>{0.5f, -1.0f, 2.0f, 8.0f};
      if (mark.size == 4) return 2.5f;
      return uint64_t{0x5A};
    case StoredAs::Integer:
      return -12.0f;
    case StoredAs::Bit:
      return true;
    case StoredAs::Key:
      return std::optional<BuiltKey>(new_key("NewKey"));
    case StoredAs::SafeString:
      return std::string("a new script");
    case StoredAs::CountedKeys:
      return std::vector<BuiltKey>{new_key("A"), new_key("B"), new_key("C")};
    case StoredAs::FlatKeys:
      break;
    case StoredAs::Params:
      return std::vector<ParamSetting>{{8, 1, int32_t{-5}}, {9, 4, std::string("text")}, {1, 5, std::nullopt}};
  }
  return std::vector<BuiltKey>{};
}

// The value now stored at a mark, in the form new_value gives.
FieldValue stored_value(const Bytes& bytes, const FieldMark& mark, const FieldValue& like) {
  PlasmaRead reader(bytes, mark.at);
  const Source source(bytes);
  switch (mark.form) {
    case StoredAs::Itself:
      if (std::holds_alternative<std::array<float, 4>>(like)) {
        std::array<float, 4> color{};
        for (float& component : color) component = reader.read_f32();
        return color;
      }
      if (std::holds_alternative<float>(like)) return reader.read_f32();
      return uint64_t{reader.read_u8()};
    case StoredAs::Integer:
      return static_cast<float>(reader.read_i32());
    case StoredAs::Bit:
      return (reader.read_u32() & mark.detail) != 0;
    case StoredAs::Key: {
      const auto key = read_key_uoid(reader);
      return key ? std::optional<BuiltKey>(built_key(*key, source)) : std::nullopt;
    }
    case StoredAs::SafeString:
      return source.text(reader.locate_safe_string());
    case StoredAs::CountedKeys: {
      PlasmaRead count(bytes, mark.detail);
      std::vector<BuiltKey> keys;
      for (uint32_t i = count.read_u32(); i > 0; --i)
        if (auto key = read_key_uoid(reader)) keys.push_back(built_key(*key, source));
      return keys;
    }
    case StoredAs::Params: {
      PlasmaRead count(bytes, mark.detail);
      std::vector<ParamSetting> params;
      for (uint32_t i = count.read_u32(); i > 0; --i) {
        const PythonParam param = read_param(reader);
        for (const ParamSetting& wanted : std::get<std::vector<ParamSetting>>(like))
          if (holds(param, source, wanted)) params.push_back(wanted);
      }
      return params;
    }
    case StoredAs::FlatKeys:
      break;
  }
  return std::vector<BuiltKey>{};
}

template <class Row>
void check_edits(const Row& row, const Bytes& bytes, bool expect_marks) {
  FieldMarks marks;
  try {
    row.locate(bytes, marks);
  } catch (const Error&) {
    CHECK(!expect_marks);
    return;
  }
  CHECK(with_changes(bytes, marks, {}) == bytes);
  for (const FieldMark& mark : marks.all()) {
    if (mark.form == StoredAs::FlatKeys) continue;  // tried below, with the whole list
    const FieldValue value = new_value(mark);
    const FieldChange change{mark.field, value};
    const Bytes edited = with_changes(bytes, marks, {&change, 1});
    FieldMarks again;
    row.locate(edited, again);
    REQUIRE(again.all().size() == marks.all().size());
    const FieldMark* moved = nullptr;
    for (const FieldMark& other : again.all())
      if (other.field == mark.field) moved = &other;
    REQUIRE(moved != nullptr);
    CHECK(stored_value(edited, *moved, value) == value);
    // Every byte before the field (and its count) and after it stays.
    const uint32_t first = mark.form == StoredAs::CountedKeys || mark.form == StoredAs::Params ? mark.detail : mark.at;
    const auto after = static_cast<std::ptrdiff_t>(bytes.size() - mark.at - mark.size);
    CHECK(std::equal(bytes.begin(), bytes.begin() + first, edited.begin()));
    CHECK(std::equal(bytes.end() - after, bytes.end(), edited.end() - after));
  }
}

Bytes body_of(uint16_t class_type) {
  switch (class_type) {
    case 0x0001:
      return scene_object_bytes();
    case 0x0006:
      return layer_bytes();
    case 0x0007:
      return material_bytes();
    case 0x0049:
      return sound_bytes();
    case 0x00A2:
      return python_file_mod_bytes();
    case 0x007C:
      return responder_bytes();
    default:
      return {};
  }
}

}  // namespace

TEST(an_edit_changes_the_field_alone_and_reads_back) {
  std::mt19937 random(25);
  for_each_decoder([&](const auto& row, std::size_t) {
    const Bytes body = body_of(row.class_type);
    if (body.empty()) return;
    check_edits(row, body, true);
    for (int i = 0; i < 200; ++i) {
      Bytes fuzzed = body;
      for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips)
        fuzzed[2 + random() % (fuzzed.size() - 2)] = static_cast<uint8_t>(random());
      check_edits(row, fuzzed, false);
    }
  });
}

TEST(flattened_keys_are_replaced_in_place_and_keep_their_number) {
  const Bytes body = responder_bytes();
  const auto& row = std::get<decoder_index<ResponderModData>()>(kDecoders);
  FieldMarks marks;
  row.locate(body, marks);
  const FieldChange change{"receiver_keys", std::vector<BuiltKey>{new_key("Other")}};
  const Bytes edited = with_changes(body, marks, {&change, 1});
  const ResponderModData data = row.parse(edited);
  const Source source(edited);
  const auto commands = data.read_states(source).at(0).read_commands(source);
  REQUIRE(commands.size() == 1);
  CHECK_EQ(commands[0].receivers.count, 2u);
  const std::vector<Uoid> keys = commands[0].receivers.present_keys(source);
  REQUIRE(keys.size() == 1);
  CHECK(built_key(keys[0], source) == new_key("Other"));
  const FieldChange longer{"receiver_keys", std::vector<BuiltKey>{new_key("A"), new_key("B")}};
  bool refused = false;
  try {
    with_changes(body, marks, {&longer, 1});
  } catch (const Error&) {
    refused = true;
  }
  CHECK(refused);
}

TEST(an_own_key_is_rewritten_only_where_it_differs) {
  const Bytes body = layer_bytes();
  PlasmaRead reader(body, kClassIndexSize);
  const BuiltKey own = built_key(*read_key_uoid(reader), Source(body));
  CHECK(with_own_key(body, own) == body);
  const Bytes moved = with_own_key(body, new_key("Layer"));
  PlasmaRead again(moved, kClassIndexSize);
  CHECK(built_key(*read_key_uoid(again), Source(moved)) == new_key("Layer"));
  CHECK(std::equal(body.begin() + static_cast<std::ptrdiff_t>(reader.position()), body.end(),
                   moved.begin() + static_cast<std::ptrdiff_t>(again.position())));
}

TEST(marks_outgrowing_their_place_keep_every_mark_in_order) {
  FieldMarks marks;
  const std::string other = std::string("other_") + "keys";  // equal text, another pointer
  for (uint32_t i = 0; i < 40; ++i) marks.mark(i % 2 ? "other_keys" : "keys", 4 * i, 4 * i + 4, StoredAs::FlatKeys, i);
  const auto all = marks.all();
  REQUIRE(all.size() == 40);
  for (uint32_t i = 0; i < 40; ++i) {
    CHECK_EQ(all[i].at, 4 * i);
    CHECK_EQ(all[i].detail, i);
  }
  REQUIRE(marks.find(other) != nullptr);
  CHECK_EQ(marks.find(other)->at, 4u);
  CHECK(marks.find("other_keyz") == nullptr);
  CHECK(marks.find("") == nullptr);
}
