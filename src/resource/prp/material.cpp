#include "resource/prp/material.h"

#include "core/synched_object.h"
#include "core/uoid.h"
#include "resource/prp/stream.h"

namespace lumivex {

std::vector<std::string> parse_material_layers(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  if (reader.read_i16() < 0) throw Error("Null creatable");
  read_key_name(reader);
  skip_synched_object(reader);
  // The layer count is the third of four words taken as one block: a short
  // block fails even when the count itself is there.
  PlasmaRead counts(reader.read_bytes(16));
  counts.skip(8);
  const uint32_t layer_count = counts.read_u32();
  // Grown one name at a time: the count is never trusted to size anything.
  std::vector<std::string> layer_names;
  for (uint32_t i = 0; i < layer_count; ++i) {
    if (auto name = read_key_name(reader)) layer_names.push_back(std::move(*name));
  }
  return layer_names;
}

}  // namespace lumivex
