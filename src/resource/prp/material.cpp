#include "resource/prp/material.h"

#include "core/key_list.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {

MaterialData parse_material(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  read_key_name(reader);
  skip_synched_object(reader);
  // The layer count is the third of four words taken as one block: a short
  // block fails even when the count itself is there.
  PlasmaRead counts(reader.read_bytes(16));
  counts.skip(8);
  return {locate_key_list(reader, counts.read_u32())};
}

}  // namespace lumivex
