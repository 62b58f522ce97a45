#include "resource/prp/scene_object.h"

#include "resource/prp/synched_object.h"

namespace lumivex {

namespace {

// Forced into its callers: where the cursor is the caller's own, it then
// stays in registers instead of being stored and loaded at every read.
[[gnu::always_inline]] inline SceneObjectData read_scene_object(PlasmaRead& reader) {
  SceneObjectData data;
  data.self_key = locate_key(reader);
  skip_synched_object(reader);
  data.draw_interface = locate_key(reader);
  data.simulation_interface = locate_key(reader);
  data.coord_interface = locate_key(reader);
  data.audio_interface = locate_key(reader);
  // A count larger than the bytes hold ends at the first missing reference.
  data.generic_interfaces = locate_key_list(reader, reader.read_u32());
  data.modifiers = locate_key_list(reader, reader.read_u32());
  data.scene_node = locate_key(reader);
  return data;
}

}  // namespace

SceneObjectData SceneObjectData::read(PlasmaRead& reader) { return read_scene_object(reader); }

SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  return read_scene_object(reader);
}

}  // namespace lumivex
