#include "resource/prp/scene_object.h"

#include "resource/prp/synched_object.h"

namespace lumivex {

SceneObjectData SceneObjectData::read(PlasmaRead& reader) {
  SceneObjectData data;
  data.self_key = locate_key(reader);
  skip_synched_object(reader);
  data.draw_interface = locate_key(reader);
  data.second_interface = locate_key(reader);
  data.coord_interface = locate_key(reader);
  data.fourth_interface = locate_key(reader);
  // A count larger than the bytes hold ends at the first missing reference.
  data.first_key_list = locate_key_list(reader, reader.read_u32());
  data.modifiers = locate_key_list(reader, reader.read_u32());
  data.last_key = locate_key(reader);
  return data;
}

void SceneObjectData::read_all_located(const Source& source) const {
  for (const auto& key : {self_key, draw_interface, second_interface, coord_interface, fourth_interface, last_key})
    if (key) source.text(read_key(source, key).name);
  first_key_list.present_names(source);
  modifiers.present_names(source);
}

std::vector<KeyReference> SceneObjectData::references(const Source& source) const {
  std::vector<KeyReference> out;
  add_reference(out, "draw_interface_keys[0]", draw_interface, source);
  add_reference(out, "second_interface", second_interface, source);
  add_reference(out, "coord_interface_key", coord_interface, source);
  add_reference(out, "fourth_interface", fourth_interface, source);
  add_references(out, "first_key_list", first_key_list, source);
  add_references(out, "modifier_keys", modifiers, source);
  add_reference(out, "last_key", last_key, source);
  return out;
}

SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  return SceneObjectData::read(reader);
}

}  // namespace lumivex
