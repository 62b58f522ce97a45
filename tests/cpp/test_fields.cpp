// A record's visit gives every field the record keeps, once each, in the
// order the fields are stored: what the reference walk lists and what a
// writer of records would write depend on it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "resource/prp/decoders.h"

using namespace lumivex;

namespace {

void write_key(PlasmaWrite& w, const std::string& name) {
  w.write_u8(1);
  w.write_u8(0);
  w.write_bytes(std::vector<uint8_t>(12, 0));
  w.write_safe_string(name);
}

void write_words(PlasmaWrite& w, std::initializer_list<uint32_t> words) {
  for (const uint32_t word : words) w.write_u32(word);
}

// Where a located value lies in its object's bytes; -1 for a value that is
// not located, an absent one or an empty list, which may stay unlocated.
template <class Value>
int64_t offset_of(const Value& value) {
  if constexpr (std::is_same_v<Value, StoredKey>) {
    return value ? int64_t{value.place} - 1 : -1;
  } else if constexpr (std::is_same_v<Value, std::optional<StoredString>>) {
    return value ? int64_t{value->offset} : -1;
  } else if constexpr (requires { value.count; }) {
    return value.count ? int64_t{value.offset} : -1;
  } else if constexpr (requires { value.offset; }) {
    return value.offset;
  } else {
    return -1;
  }
}

struct Visited {
  std::vector<std::string> labels;
  std::vector<int64_t> offsets;  // of the located values, in visiting order
};

template <class Record>
Visited visit_all(const Record& record) {
  Visited visited;
  visit_fields(record, [&](std::string_view label, const auto& value) {
    visited.labels.emplace_back(label);
    if (const int64_t offset = offset_of(value); offset >= 0) visited.offsets.push_back(offset);
  });
  return visited;
}

// The labels in their order, and the located values in the order of their
// places in the bytes.
template <class Record>
void check_visit(const Record& record, const std::vector<std::string>& labels, std::size_t located) {
  const Visited visited = visit_all(record);
  CHECK(visited.labels == labels);
  CHECK_EQ(visited.offsets.size(), located);
  for (std::size_t i = 1; i < visited.offsets.size(); ++i) CHECK(visited.offsets[i - 1] < visited.offsets[i]);
}

std::vector<uint8_t> scene_object_bytes() {
  PlasmaWrite w;
  w.write_u16(0x0001);
  write_key(w, "Tree");
  w.write_u32(0);  // synched flags
  for (const char* name : {"Draw", "Sim", "Coord"}) write_key(w, name);
  w.write_u8(0);  // no audio interface
  w.write_u32(1);
  write_key(w, "Generic");
  w.write_u32(1);
  write_key(w, "Modifier");
  write_key(w, "Node");
  return w.take_bytes();
}

std::vector<uint8_t> layer_bytes() {
  PlasmaWrite w;
  w.write_u16(0x0006);
  write_key(w, "Layer");
  w.write_u32(0);
  write_key(w, "Under");
  write_words(w, {1, 2, 3, 4, 5});
  w.write_u8(0);  // no transform
  for (int i = 0; i < 16; ++i) w.write_u32(0);
  write_words(w, {0x0102, 0, 0, 0});
  write_key(w, "Texture");
  return w.take_bytes();
}

std::vector<uint8_t> python_file_mod_bytes() {
  PlasmaWrite w;
  w.write_u16(0x00A2);
  write_key(w, "Mod");
  write_words(w, {0, 0});  // synched flags, an empty bit vector
  w.write_safe_string("script");
  w.write_u32(1);
  write_key(w, "Receiver");
  write_words(w, {2, 1, 1, 7, 2, 5});  // two parameters: an Int, then a Key
  write_key(w, "Activator");
  return w.take_bytes();
}

std::vector<uint8_t> responder_bytes() {
  PlasmaWrite w;
  w.write_u16(0x007C);
  write_key(w, "Responder");
  write_words(w, {0, 0});
  w.write_u8(1);  // one state
  for (const uint8_t byte : {7, 8, 1}) w.write_u8(byte);
  w.write_u16(0x0306);  // a responder message: a message base alone
  w.write_u8(0);        // no sender
  w.write_u32(1);
  write_key(w, "Receiver");
  w.write_bytes(std::vector<uint8_t>(12, 0));
  w.write_u8(0);  // wait_on
  w.write_u8(0);  // no waits
  for (const uint8_t byte : {0, 1, 0}) w.write_u8(byte);
  return w.take_bytes();
}

}  // namespace

TEST(records_visit_their_fields_in_stored_order) {
  check_visit(parse_scene_object(scene_object_bytes()),
              {"name", "draw_interface_keys[0]", "second_interface", "coord_interface_key", "fourth_interface",
               "first_key_list", "modifier_keys", "last_key"},
              7);
  check_visit(parse_layer_state(layer_bytes()),
              {"name", "first_key", "blend_flags", "shade_flags", "z_flags", "misc_flags", "preshade_color",
               "runtime_color", "ambient_color", "specular_color", "uv_channel", "opacity", "texture_key"},
              3);
  const std::vector<uint8_t> mod = python_file_mod_bytes();
  const PythonFileModData mod_data = parse_python_file_mod(mod);
  check_visit(mod_data, {"name", "python_file", "receiver_keys", "params"}, 4);
  const std::vector<PythonParam> params = mod_data.read_params(Source(mod));
  CHECK_EQ(params.size(), 2u);
  for (const PythonParam& param : params) check_visit(param, {"id", ""}, 0);
}

TEST(nested_records_visit_their_fields_in_stored_order) {
  const std::vector<uint8_t> bytes = responder_bytes();
  const Source source(bytes);
  const ResponderModData data = parse_responder_modifier(bytes);
  check_visit(data, {"name", "states", "cur_state", "enabled", "flags"}, 2);
  const std::vector<ResponderState> states = data.read_states(source);
  CHECK_EQ(states.size(), 1u);
  check_visit(states.at(0), {"callback_count", "switch_to_state", "commands"}, 1);
  CHECK(states.at(0).callback_count == 7 && states.at(0).switch_to_state == 8);
  const std::vector<ResponderCmd> commands = states.at(0).read_commands(source);
  CHECK_EQ(commands.size(), 1u);
  check_visit(commands.at(0), {"class_id", "receivers", "one_shot_callbacks", "name", "wait_on"}, 1);
}

TEST(the_reference_walk_follows_the_visit) {
  // Every reference but the own key, labelled as visited, nested labels
  // joined by their element numbers.
  const auto labels_of = [](const std::vector<KeyReference>& references) {
    std::vector<std::string> labels;
    for (const KeyReference& reference : references) labels.push_back(reference.field);
    return labels;
  };
  const std::vector<uint8_t> scene = scene_object_bytes();
  CHECK(labels_of(references(parse_scene_object(scene), Source(scene))) ==
        std::vector<std::string>({"draw_interface_keys[0]", "second_interface", "coord_interface_key",
                                  "first_key_list[0]", "modifier_keys[0]", "last_key"}));
  const std::vector<uint8_t> mod = python_file_mod_bytes();
  CHECK(labels_of(references(parse_python_file_mod(mod), Source(mod))) ==
        std::vector<std::string>({"receiver_keys[0]", "params[1]"}));
  const std::vector<uint8_t> responder = responder_bytes();
  CHECK(labels_of(references(parse_responder_modifier(responder), Source(responder))) ==
        std::vector<std::string>({"states[0].commands[0].receivers[0]"}));
}

TEST(reading_back_every_located_field_fails_on_other_bytes_only) {
  const std::vector<uint8_t> bytes = layer_bytes();
  const LayerStateData layer = parse_layer_state(bytes);
  read_all_located(layer, Source(bytes));
  // Cut before the texture's name: the name no longer reads back.
  const std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 3);
  bool failed = false;
  try {
    read_all_located(layer, Source(cut));
  } catch (const Error&) {
    failed = true;
  }
  CHECK(failed);
}
