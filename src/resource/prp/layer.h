#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "core/key_list.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

// The render state of one texturing stage. Colours are red, green, blue,
// alpha as stored; the name and the references are located in the object's
// bytes.
struct LayerStateData {
  std::optional<StoredString> name;
  StoredKey underlay;  // the layer this one is drawn over
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
};

// The underlay's label is the one references() has always listed it by.
template <class Visit>
void visit_fields(const LayerStateData& layer, Visit&& visit) {
  visit("name", layer.name);
  visit("first_key", layer.underlay);
  visit("blend_flags", layer.blend_flags);
  visit("shade_flags", layer.shade_flags);
  visit("z_flags", layer.z_flags);
  visit("misc_flags", layer.misc_flags);
  visit("preshade_color", layer.preshade_color);
  visit("runtime_color", layer.runtime_color);
  visit("ambient_color", layer.ambient_color);
  visit("specular_color", layer.specular_color);
  visit("uv_channel", layer.uv_channel);
  visit("opacity", layer.opacity);
  visit("texture_key", layer.texture);
}

// Decodes a layer from its whole object data, class index included. The
// transform matrix, present or not, and the UVW source beyond its low byte
// are read over: nothing shows them.
LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes, Marks& marks);

}  // namespace lumivex
