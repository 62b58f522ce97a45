#pragma once

#include <cstdint>
#include <span>

#include "core/key.h"

namespace lumivex {

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

// A key-index entry: a key record (no presence byte), data offset and length.
ObjectKey read_object_key(PlasmaRead& reader);
// The writer's normal form of a key-index entry: contents flags derived from
// the values, the reserved clone field written as 0. page is the page the key
// was read from.
void write_object_key(PlasmaWrite& writer, const ObjectKey& key, const Source& page);

}  // namespace lumivex
