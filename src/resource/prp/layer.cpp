#include "resource/prp/layer.h"

#include "core/key.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

template <std::size_t N>
void read_floats(PlasmaRead& reader, std::array<float, N>& out) {
  for (float& value : out) value = reader.read_f32();
}

}  // namespace

void LayerStateData::read_all_located(const Source& source) const {
  for (const auto& text : {name, texture_name})
    if (text) source.text(*text);
}

LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  LayerStateData layer;
  layer.name = read_key_name(reader);
  skip_synched_object(reader);
  skip_key_uoid(reader);
  layer.blend_flags = reader.read_u32();
  reader.read_u32();
  layer.shade_flags = reader.read_u32();
  layer.z_flags = reader.read_u32();
  layer.misc_flags = reader.read_u32();
  // A presence byte, then sixteen floats when it is non-zero.
  if (reader.read_u8() != 0) reader.skip(16 * 4);
  // The four colours are taken as one block: a short block fails where the
  // colours read one by one would, and one length test covers them all.
  PlasmaRead colours(reader.read_bytes(4 * 4 * 4));
  read_floats(colours, layer.preshade_color);
  read_floats(colours, layer.runtime_color);
  read_floats(colours, layer.ambient_color);
  read_floats(colours, layer.specular_color);
  layer.uvw_source = reader.read_u32();
  layer.uv_channel = static_cast<uint8_t>(layer.uvw_source & 0xFF);
  layer.opacity = reader.read_f32();
  reader.skip(8);
  layer.texture_name = read_key_name(reader);
  return layer;
}

}  // namespace lumivex
