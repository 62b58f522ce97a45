// Records locate their strings and lists in the bytes they were read from;
// reading them again gives the stored values, and stale offsets fail cleanly.
#include <bit>
#include <string>
#include <vector>

#include "check.h"
#include "core/key_list.h"
#include "resource/prp/physical.h"
#include "resource/prp/responder.h"

using namespace lumivex;

namespace {

void write_key(PlasmaWrite& w, const std::string& name) {
  w.write_u8(1);
  w.write_u8(0);
  w.write_bytes(std::vector<uint8_t>(12, 0));
  w.write_safe_string(name);
}

}  // namespace

namespace {

// The message an operation fails with, or "" when it does not fail.
template <class Operation>
std::string failure_of(Operation&& operation) {
  try {
    operation();
  } catch (const Error& e) {
    return e.message();
  }
  return "";
}

}  // namespace

TEST(located_values_are_read_back_from_their_own_bytes_only) {
  const std::vector<uint8_t> bytes = {0x02, 0xF0, 0x9E, 0x9D, 9};
  PlasmaRead reader(bytes);
  const StoredString text = reader.locate_safe_string();
  const ByteRange range = reader.locate_bytes(1);
  const Source source(bytes);
  CHECK_EQ(source.text(text), "ab");
  REQUIRE(source.bytes(range).size() == 1);
  CHECK(source.bytes(range)[0] == 9);
  // Other bytes: a debug build refuses them; any build fails cleanly where
  // they are too short.
  const std::vector<uint8_t> shorter = {1, 2, 3};
  const Source other(shorter);
#ifndef NDEBUG
  CHECK_EQ(failure_of([&] { other.text(text); }), "A located value read back from other bytes");
#else
  CHECK_EQ(failure_of([&] { other.text(text); }), kEndOfData);
  CHECK_EQ(failure_of([&] { other.bytes(range); }), kEndOfData);
#endif
}

TEST(key_list_reads_its_present_keys_again) {
  PlasmaWrite w;
  write_key(w, "first");
  w.write_u8(0);
  write_key(w, "third");
  PlasmaRead reader(w.bytes());
  const KeyList list = locate_key_list(reader, 3);
  CHECK_EQ(list.count, 3u);
  CHECK_EQ(list.present, 2u);
  const Source source(w.bytes());
  CHECK(list.present_names(source) == std::vector<std::string>({"first", "third"}));
  CHECK_EQ(list.present_keys(source).size(), 2u);
}

TEST(mesh_vertices_and_indices_read_again) {
  PlasmaWrite w;
  w.write_u32(0x01505348);
  w.write_u32(2);
  for (float v : {1.0f, 2.0f, 3.0f, -4.0f, 0.5f, 6.0f}) w.write_u32(std::bit_cast<uint32_t>(v));
  w.write_u32(1);
  for (uint32_t i : {1u, 0u, 70000u}) w.write_u32(i);
  PlasmaRead reader(w.bytes());
  const auto mesh = std::get<PhysMesh>(read_mesh_shape(reader, false));
  const Source source(w.bytes());
  const auto vertices = read_vertices(mesh.vertices, source);
  REQUIRE(vertices.size() == 2);
  CHECK(vertices[1].x == -4.0f && vertices[1].y == 0.5f && vertices[0].z == 3.0f);
  CHECK(mesh.read_indices(source) == std::vector<uint32_t>({1, 0, 70000}));
}

TEST(responder_commands_and_callbacks_read_again) {
  PlasmaWrite w;
  w.write_u16(0x007C);
  write_key(w, "Resp");
  w.write_u32(0);  // synched flags
  w.write_u32(0);  // bit vector
  w.write_u8(1);   // one state
  for (uint8_t b : {7, 8, 1}) w.write_u8(b);
  w.write_u16(0x0307);  // a one-shot message
  w.write_u8(0);        // no sender
  w.write_u32(1);
  write_key(w, "Avatar");
  w.write_bytes(std::vector<uint8_t>(12, 0));
  w.write_u32(1);
  w.write_safe_string("Touch");
  write_key(w, "Marker");
  w.write_u16(9);
  w.write_u8(4);                              // wait_on
  w.write_u8(0);                              // no waits
  for (uint8_t b : {0, 1, 1}) w.write_u8(b);  // the trailer
  const std::vector<uint8_t> bytes = w.take_bytes();

  const ResponderModData data = parse_responder_modifier(bytes);
  const Source source(bytes);
  CHECK_EQ(source.text(read_key(source, data.self_key).name), "Resp");
  const auto states = data.read_states(source);
  REQUIRE(states.size() == 1);
  CHECK(states[0].callback_count == 7 && states[0].switch_to_state == 8);
  const auto commands = states[0].read_commands(source);
  REQUIRE(commands.size() == 1);
  CHECK(commands[0].class_id == 0x0307 && commands[0].wait_on == 4);
  CHECK(commands[0].receivers.present_names(source) == std::vector<std::string>({"Avatar"}));
  const auto callbacks = commands[0].read_one_shot_callbacks(source);
  REQUIRE(callbacks.size() == 1);
  CHECK(callbacks[0].value == 9);
  CHECK_EQ(source.text(callbacks[0].name), "Touch");
  CHECK_EQ(source.text(callbacks[0].key->name), "Marker");
}
