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

MaterialData parse_material(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  read_key_name(reader);  // the own key, dropped
  skip_synched_object(reader);
  // A short block fails even when the count itself is there.
  PlasmaRead counts(reader.read_bytes(kLayerCountBlock));
  counts.skip(kLoadAndCompositionFlags);
  return {locate_key_list(reader, counts.read_u32())};
}

}  // namespace lumivex
