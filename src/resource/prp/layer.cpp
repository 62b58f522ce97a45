#include "resource/prp/layer.h"

#include "core/key.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// Sizes of the stored fields the decoder reads over or takes as one block.
constexpr uint64_t kFlagWordSize = sizeof(uint32_t);
constexpr uint64_t kTransformSize = 16 * sizeof(float);  // a 4x4 matrix, stored when flagged
constexpr uint64_t kColorSize = 4 * sizeof(float);       // red, green, blue, alpha
constexpr uint64_t kColorsSize = 4 * kColorSize;         // preshade, runtime, ambient, specular
constexpr uint64_t kLodBiasAndSpecularPower = 2 * sizeof(float);

template <std::size_t N>
void read_floats(PlasmaRead& reader, std::array<float, N>& out) {
  for (float& value : out) value = reader.read_f32();
}

}  // namespace

template <class Marks>
LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  LayerStateData layer;
  layer.name = read_key_name(reader);
  skip_synched_object(reader);
  layer.underlay = locate_key(reader);
  // Five flag words: blend, clamp (dropped), shade, z and misc.
  const uint64_t flags_at = reader.position();
  const auto flag_word = [&](uint64_t number) { return flags_at + number * kFlagWordSize; };
  layer.blend_flags = reader.read_u32();
  reader.skip(kFlagWordSize);
  layer.shade_flags = reader.read_u32();
  layer.z_flags = reader.read_u32();
  layer.misc_flags = reader.read_u32();
  marks.mark("blend_flags", flag_word(0), flag_word(1), StoredAs::Itself);
  marks.mark("shade_flags", flag_word(2), flag_word(3), StoredAs::Itself);
  marks.mark("z_flags", flag_word(3), flag_word(4), StoredAs::Itself);
  marks.mark("misc_flags", flag_word(4), flag_word(5), StoredAs::Itself);
  // The transform: a presence byte, then the matrix when it is non-zero.
  // The presence byte chooses a length rather than a branch: which layers
  // have a matrix follows no pattern a branch could learn.
  reader.skip(reader.read_u8() != 0 ? kTransformSize : 0);
  // The four colours are taken as one block: a short block fails where the
  // colours read one by one would, and one length test covers them all.
  const uint64_t colors_at = reader.position();
  PlasmaRead colors(reader.read_bytes(kColorsSize));
  read_floats(colors, layer.preshade_color);
  read_floats(colors, layer.runtime_color);
  read_floats(colors, layer.ambient_color);
  read_floats(colors, layer.specular_color);
  marks.mark("preshade_color", colors_at, colors_at + kColorSize, StoredAs::Itself);
  marks.mark("runtime_color", colors_at + kColorSize, colors_at + 2 * kColorSize, StoredAs::Itself);
  marks.mark("ambient_color", colors_at + 2 * kColorSize, colors_at + 3 * kColorSize, StoredAs::Itself);
  marks.mark("specular_color", colors_at + 3 * kColorSize, colors_at + kColorsSize, StoredAs::Itself);
  const uint64_t uvw_at = reader.position();
  const uint32_t uvw_source = reader.read_u32();
  layer.uv_channel = static_cast<uint8_t>(uvw_source);
  marks.mark("uv_channel", uvw_at, uvw_at + sizeof(uint8_t), StoredAs::Itself);
  const uint64_t opacity_at = reader.position();
  layer.opacity = reader.read_f32();
  marks.mark("opacity", opacity_at, reader.position(), StoredAs::Itself);
  reader.skip(kLodBiasAndSpecularPower);
  const uint64_t texture_at = reader.position();
  layer.texture = locate_key(reader);
  marks.mark("texture_key", texture_at, reader.position(), StoredAs::Key);
  return layer;
}

template LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes, FieldMarks& marks);

LayerStateData parse_layer_state(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_layer_state(object_bytes, marks);
}

}  // namespace lumivex
