#include "resource/prp/scene_object.h"

#include "resource/prp/synched_object.h"

namespace lumivex {

SceneObjectData SceneObjectData::read(PlasmaRead& reader) {
  SceneObjectData data;
  data.name = read_key_name(reader);
  skip_synched_object(reader);
  data.draw_interface_name = read_key_name(reader);
  skip_key_uoid(reader);  // the second interface
  data.coord_interface_name = read_key_name(reader);
  skip_key_uoid(reader);  // the fourth interface
  // The first key list. A count larger than the bytes hold ends at the first
  // missing reference.
  const uint32_t first_count = reader.read_u32();
  for (uint32_t i = 0; i < first_count; ++i) skip_key_uoid(reader);
  data.modifiers = locate_key_list(reader, reader.read_u32());
  skip_key_uoid(reader);  // the last key
  return data;
}

void SceneObjectData::read_all_located(const Source& source) const {
  for (const auto& text : {name, draw_interface_name, coord_interface_name})
    if (text) source.text(*text);
  modifiers.present_names(source);
}

SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  return SceneObjectData::read(reader);
}

}  // namespace lumivex
