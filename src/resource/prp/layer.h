#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "core/key_list.h"

namespace lumivex {

// The render state of one texturing stage. Colours are red, green, blue,
// alpha as stored; the name and the references are located in the object's
// bytes.
struct LayerStateData {
  std::optional<StoredString> name;
  StoredKey first_key;  // the key reference after the synched prefix
  StoredKey texture;
  std::array<float, 4> preshade_color{};
  std::array<float, 4> runtime_color{};
  std::array<float, 4> ambient_color{};
  std::array<float, 4> specular_color{};
  uint32_t blend_flags = 0;
  uint32_t shade_flags = 0;
  uint32_t z_flags = 0;
  uint32_t misc_flags = 0;
  float opacity = 0;
  uint8_t uv_channel = 0;  // the low byte of the UVW source

  // Reads back everything the record locates; after a decode that succeeded
  // this cannot fail.
  void read_all_located(const Source& source) const;
  // Every reference but the object's own key, in stored order.
  std::vector<KeyReference> references(const Source& source) const;
};

// Decodes a layer from its whole object data, class index included. The
// transform matrix, present or not, and the UVW source beyond its low byte
// are read over: nothing shows them.
LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
