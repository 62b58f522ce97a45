#pragma once

#include <optional>
#include <span>

#include "core/key_list.h"
#include "core/stream.h"

namespace lumivex {

// What a scene object's bytes say about its name, interfaces and modifiers:
// where the names of the keys lie, each absent when its reference is. The
// synched prefix, the second and fourth interfaces, the first key list and
// the last key are read over: nothing uses them.
struct SceneObjectData {
  std::optional<StoredString> name;
  std::optional<StoredString> draw_interface_name;
  std::optional<StoredString> coord_interface_name;
  KeyList modifiers;

  // Reads back everything the record locates; after a decode that succeeded
  // this cannot fail.
  void read_all_located(const Source& source) const;

  // Reads from just after the class index.
  static SceneObjectData read(PlasmaRead& reader);
};

// A scene object's whole data: steps over the class index, then reads.
SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
