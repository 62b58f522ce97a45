#pragma once

#include <cstdint>
#include <span>

#include "core/key_list.h"

namespace lumivex {

// The references to a material's layers, in stored order.
struct MaterialData {
  KeyList layers;

  // Reads back everything the record locates.
  void read_all_located(const Source& source) const { layers.present_names(source); }
  // The layers, in stored order.
  std::vector<KeyReference> references(const Source& source) const;
};

// Decodes a material from its whole object data, class index included.
MaterialData parse_material(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
