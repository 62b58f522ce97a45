#include "resource/prp/layer.h"

#include "core/key.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// Sizes of the stored fields the decoder reads over or takes as one block.
constexpr uint64_t kTransformSize = 16 * sizeof(float);  // a 4x4 matrix, stored when flagged
constexpr uint64_t kColorSize = 4 * sizeof(float);       // red, green, blue, alpha
constexpr uint64_t kColorsSize = 4 * kColorSize;         // preshade, runtime, ambient, specular
constexpr uint64_t kLodBiasAndSpecularPower = 2 * sizeof(float);

template <std::size_t N>
void read_floats(PlasmaRead& reader, std::array<float, N>& out) {
  for (float& value : out) value = reader.read_f32();
}

}  // namespace

LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  LayerStateData layer;
  layer.name = read_key_name(reader);
  skip_synched_object(reader);
  layer.underlay = locate_key(reader);
  layer.blend_flags = reader.read_u32();
  reader.skip(sizeof(uint32_t));  // the clamp flags, dropped
  layer.shade_flags = reader.read_u32();
  layer.z_flags = reader.read_u32();
  layer.misc_flags = reader.read_u32();
  // The transform: a presence byte, then the matrix when it is non-zero.
  // The presence byte chooses a length rather than a branch: which layers
  // have a matrix follows no pattern a branch could learn.
  reader.skip(reader.read_u8() != 0 ? kTransformSize : 0);
  // The four colours are taken as one block: a short block fails where the
  // colours read one by one would, and one length test covers them all.
  PlasmaRead colors(reader.read_bytes(kColorsSize));
  read_floats(colors, layer.preshade_color);
  read_floats(colors, layer.runtime_color);
  read_floats(colors, layer.ambient_color);
  read_floats(colors, layer.specular_color);
  const uint32_t uvw_source = reader.read_u32();
  layer.uv_channel = static_cast<uint8_t>(uvw_source & 0xFF);
  layer.opacity = reader.read_f32();
  reader.skip(kLodBiasAndSpecularPower);
  layer.texture = locate_key(reader);
  return layer;
}

}  // namespace lumivex
