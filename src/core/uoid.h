#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "resource/prp/stream.h"

namespace lumivex {

// Contents flags of a stored key record.
inline constexpr uint8_t kHasCloneIds = 0x01;
inline constexpr uint8_t kHasLoadMask = 0x02;

// A key referenced from inside object data; its name stays where it is
// stored until asked for.
struct Uoid {
  uint32_t location_sequence = 0;
  uint16_t location_flags = 0;
  uint8_t load_mask_upper = 0xFF;
  uint8_t load_mask_lower = 0xFF;
  uint16_t class_type = 0;
  uint32_t object_id = 0;
  StoredString name;
  uint16_t clone_id = 0;
  uint32_t clone_player_id = 0;
};

// One entry of a page's key index. Its name stays where it is stored in the
// page: a name that is not UTF-8 is written back unchanged, and keys whose
// records overlap in a damaged index do not copy the same bytes again.
struct ObjectKey {
  uint32_t location_sequence = 0;
  uint16_t location_flags = 0;
  uint8_t load_mask = 0xFF;
  uint16_t class_type = 0;
  uint32_t object_id = 0;
  StoredString name;
  uint16_t clone_id = 0;
  uint32_t clone_player_id = 0;
  uint32_t data_offset = 0;
  uint32_t data_len = 0;
};

// The key readers run for every reference of every object; they are defined
// here so that the decoders inline them and keep their cursor in registers.

// A key reference: a presence byte, then a key record when it is non-zero.
inline std::optional<Uoid> read_key_uoid(PlasmaRead& reader) {
  if (reader.read_u8() == 0) return std::nullopt;
  const uint8_t contents = reader.read_u8();
  Uoid uoid;
  uoid.location_sequence = reader.read_u32();
  uoid.location_flags = reader.read_u16();
  if (contents & kHasLoadMask) {
    const uint8_t mask = reader.read_u8();
    uoid.load_mask_upper = static_cast<uint8_t>((mask >> 4) | 0xF0);
    uoid.load_mask_lower = static_cast<uint8_t>(mask | 0xF0);
  }
  uoid.class_type = reader.read_u16();
  uoid.object_id = reader.read_u32();
  uoid.name = reader.locate_safe_string();
  if (contents & kHasCloneIds) {
    uoid.clone_id = reader.read_u16();
    reader.read_u16();
    uoid.clone_player_id = reader.read_u32();
  }
  return uoid;
}

// Steps over a present key record up to its name; returns its contents flags.
inline uint8_t skip_to_name(PlasmaRead& reader) {
  const uint8_t contents = reader.read_u8();
  // Location sequence and flags, the load mask when flagged, class type and
  // object id.
  reader.skip(6 + (contents & kHasLoadMask ? 1 : 0) + 2 + 4);
  return contents;
}

// Reads exactly what read_key_uoid reads and keeps only where the name lies.
inline std::optional<StoredString> read_key_name(PlasmaRead& reader) {
  if (reader.read_u8() == 0) return std::nullopt;
  const uint8_t contents = skip_to_name(reader);
  const StoredString name = reader.locate_safe_string();
  if (contents & kHasCloneIds) reader.skip(8);
  return name;
}

// Reads exactly what read_key_uoid reads and keeps nothing; true when the
// reference is present.
inline bool skip_key_uoid(PlasmaRead& reader) {
  if (reader.read_u8() == 0) return false;
  const uint8_t contents = skip_to_name(reader);
  reader.skip_safe_string();
  if (contents & kHasCloneIds) reader.skip(8);
  return true;
}

// A run of key references, present or absent, located in the data it was
// read from.
struct KeyList : StoredList<std::optional<Uoid>> {
  uint64_t present = 0;

  // The present references, in list order.
  std::vector<Uoid> present_keys(std::span<const uint8_t> data) const;
  std::vector<std::string> present_names(std::span<const uint8_t> data) const;
};

// Steps over count key references, failing where reading them would: a count
// larger than the bytes hold ends at the first missing reference.
inline KeyList locate_key_list(PlasmaRead& reader, uint64_t count) {
  KeyList list;
  list.offset = reader.position();
  list.count = count;
  for (uint64_t i = 0; i < count; ++i) list.present += skip_key_uoid(reader);
  return list;
}

// A key-index entry: a key record (no presence byte), data offset and length.
ObjectKey read_object_key(PlasmaRead& reader);
// The writer's normal form of a key-index entry: contents flags derived from
// the values, the reserved clone field written as 0. page is the data the key
// was read from.
void write_object_key(PlasmaWrite& writer, const ObjectKey& key, std::span<const uint8_t> page);

}  // namespace lumivex
