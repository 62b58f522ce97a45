#include "resource/prp/scene_object.h"

#include "resource/prp/synched_object.h"

namespace lumivex {

namespace {

// Forced into its callers: where the cursor is the caller's own, it then
// stays in registers instead of being stored and loaded at every read.
template <class Marks>
[[gnu::always_inline]] inline SceneObjectData read_scene_object(PlasmaRead& reader, Marks& marks) {
  SceneObjectData data;
  data.self_key = locate_key(reader);
  skip_synched_object(reader);
  const uint64_t draw_at = reader.position();
  data.draw_interface = locate_key(reader);
  marks.mark("draw_interface_keys", draw_at, reader.position(), StoredAs::FlatKeys, 1);
  data.simulation_interface = locate_key(reader);
  const uint64_t coord_at = reader.position();
  data.coord_interface = locate_key(reader);
  marks.mark("coord_interface_key", coord_at, reader.position(), StoredAs::Key);
  data.audio_interface = locate_key(reader);
  // A count larger than the bytes hold ends at the first missing reference.
  data.generic_interfaces = locate_key_list(reader, reader.read_u32());
  const uint64_t modifier_count_at = reader.position();
  data.modifiers = locate_key_list(reader, reader.read_u32());
  marks.mark("modifier_keys", modifier_count_at + sizeof(uint32_t), reader.position(), StoredAs::CountedKeys,
             static_cast<uint32_t>(modifier_count_at));
  data.scene_node = locate_key(reader);
  return data;
}

}  // namespace

SceneObjectData SceneObjectData::read(PlasmaRead& reader) {
  NoMarks marks;
  return read_scene_object(reader, marks);
}

template <class Marks>
SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  return read_scene_object(reader, marks);
}

template SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes, FieldMarks& marks);

SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_scene_object(object_bytes, marks);
}

}  // namespace lumivex
