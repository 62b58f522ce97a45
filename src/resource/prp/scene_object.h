#pragma once

#include <optional>
#include <span>

#include "core/key_list.h"
#include "core/stream.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

// Where a scene object's references lie, each absent when its presence byte
// is 0; the lists keep their absent entries. The synched prefix is read over.
struct SceneObjectData {
  StoredKey self_key;
  StoredKey draw_interface;
  StoredKey simulation_interface;
  StoredKey coord_interface;
  StoredKey audio_interface;
  KeyList generic_interfaces;
  KeyList modifiers;
  StoredKey scene_node;

  // Reads from just after the class index.
  static SceneObjectData read(PlasmaRead& reader);
};

// The labels of the fields no property shows are those references() has
// always listed them by.
template <class Visit>
void visit_fields(const SceneObjectData& data, Visit&& visit) {
  visit("name", data.self_key);
  visit("draw_interface_keys[0]", data.draw_interface);
  visit("second_interface", data.simulation_interface);
  visit("coord_interface_key", data.coord_interface);
  visit("fourth_interface", data.audio_interface);
  visit("first_key_list", data.generic_interfaces);
  visit("modifier_keys", data.modifiers);
  visit("last_key", data.scene_node);
}

// A scene object's whole data: steps over the class index, then reads.
SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes, Marks& marks);

}  // namespace lumivex
