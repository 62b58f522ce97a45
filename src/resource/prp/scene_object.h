#pragma once

#include <optional>
#include <span>

#include "core/key_list.h"
#include "core/stream.h"

namespace lumivex {

// Where a scene object's references lie, each absent when its presence byte
// is 0; the lists keep their absent entries. The synched prefix is read over.
struct SceneObjectData {
  StoredKey self_key;
  StoredKey draw_interface;
  StoredKey second_interface;
  StoredKey coord_interface;
  StoredKey fourth_interface;
  KeyList first_key_list;
  KeyList modifiers;
  StoredKey last_key;

  // Reads back everything the record locates; after a decode that succeeded
  // this cannot fail.
  void read_all_located(const Source& source) const;
  // Every reference but the object's own key, in stored order.
  std::vector<KeyReference> references(const Source& source) const;

  // Reads from just after the class index.
  static SceneObjectData read(PlasmaRead& reader);
};

// A scene object's whole data: steps over the class index, then reads.
SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
