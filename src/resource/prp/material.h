#pragma once

#include <cstdint>
#include <span>

#include "core/key_list.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

// The references to a material's layers, in stored order.
struct MaterialData {
  KeyList layers;
};

template <class Visit>
void visit_fields(const MaterialData& material, Visit&& visit) {
  visit("layer_keys", material.layers);
}

// Decodes a material from its whole object data, class index included.
MaterialData parse_material(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
MaterialData parse_material(std::span<const uint8_t> object_bytes, Marks& marks);

}  // namespace lumivex
