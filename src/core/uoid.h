#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "resource/prp/stream.h"

namespace lumivex {

// Contents flags of a stored key record.
inline constexpr uint8_t kHasCloneIds = 0x01;
inline constexpr uint8_t kHasLoadMask = 0x02;

// A key referenced from inside object data.
struct Uoid {
  uint32_t location_sequence = 0;
  uint16_t location_flags = 0;
  uint8_t load_mask_upper = 0xFF;
  uint8_t load_mask_lower = 0xFF;
  uint16_t class_type = 0;
  uint32_t object_id = 0;
  std::string name;
  uint16_t clone_id = 0;
  uint32_t clone_player_id = 0;
};

// One entry of a page's key index.
struct ObjectKey {
  uint32_t location_sequence = 0;
  uint16_t location_flags = 0;
  uint8_t load_mask = 0xFF;
  uint16_t class_type = 0;
  uint32_t object_id = 0;
  std::string name;
  uint16_t clone_id = 0;
  uint32_t clone_player_id = 0;
  uint32_t data_offset = 0;
  uint32_t data_len = 0;
};

// A key reference: a presence byte, then a key record when it is non-zero.
std::optional<Uoid> read_key_uoid(PlasmaRead& reader);
// Reads exactly what read_key_uoid reads and keeps only the name.
std::optional<std::string> read_key_name(PlasmaRead& reader);
// Reads exactly what read_key_uoid reads and keeps nothing.
void skip_key_uoid(PlasmaRead& reader);

// A key-index entry: a key record (no presence byte), data offset and length.
ObjectKey read_object_key(PlasmaRead& reader);
// The writer's normal form of a key-index entry: contents flags derived from
// the values, the reserved clone field written as 0.
void write_object_key(PlasmaWrite& writer, const ObjectKey& key);

}  // namespace lumivex
