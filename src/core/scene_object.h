#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/synched_object.h"
#include "core/uoid.h"
#include "resource/prp/stream.h"

namespace lumivex {

// What a scene object's bytes say about its name, interfaces and modifiers.
// The second and fourth interfaces, the first key list and the last key are
// read over: nothing uses them.
struct SceneObjectData {
  std::optional<Uoid> self_key;
  SynchedObjectData synched;
  std::optional<Uoid> draw_interface;
  std::optional<Uoid> coord_interface;
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
