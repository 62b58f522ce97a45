#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/uoid.h"
#include "resource/prp/stream.h"

namespace lumivex {

// What a scene object's bytes say about its name, interfaces and modifiers:
// the names of the keys, each absent when its reference is. The synched
// prefix, the second and fourth interfaces, the first key list and the last
// key are read over: nothing uses them.
struct SceneObjectData {
  std::optional<std::string> name;
  std::optional<std::string> draw_interface_name;
  std::optional<std::string> coord_interface_name;
  // The names of the modifier list's present references, in list order; an
  // absent reference takes one byte and is kept as nothing, so memory stays
  // within a small factor of the object's bytes.
  std::vector<std::string> modifier_names;

  // Reads from just after the class index.
  static SceneObjectData read(PlasmaRead& reader);
};

// A scene object's whole data: steps over the class index, then reads.
SceneObjectData parse_scene_object(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
