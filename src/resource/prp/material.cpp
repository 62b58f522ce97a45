#include "resource/prp/material.h"

#include "core/key_list.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// The load flags, the composition flags, the layer count and the piggyback
// count, taken as one block.
constexpr uint64_t kLayerCountBlock = 4 * sizeof(uint32_t);
constexpr uint64_t kLoadAndCompositionFlags = 2 * sizeof(uint32_t);

}  // namespace

template <class Marks>
MaterialData parse_material(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  read_key_name(reader);  // the own key, dropped
  skip_synched_object(reader);
  // A short block fails even when the count itself is there.
  const uint64_t count_at = reader.position() + kLoadAndCompositionFlags;
  PlasmaRead counts(reader.read_bytes(kLayerCountBlock));
  counts.skip(kLoadAndCompositionFlags);
  const uint64_t layers_at = reader.position();
  MaterialData material{locate_key_list(reader, counts.read_u32())};
  marks.mark("layer_keys", layers_at, reader.position(), StoredAs::CountedKeys, static_cast<uint32_t>(count_at));
  return material;
}

template MaterialData parse_material(std::span<const uint8_t> object_bytes, FieldMarks& marks);

MaterialData parse_material(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_material(object_bytes, marks);
}

}  // namespace lumivex
