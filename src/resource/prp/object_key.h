#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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

// A key on its own, its name as stored: a key of a page being built, or a
// reference to be written into an object.
struct BuiltKey {
  uint32_t location_sequence = 0;
  uint16_t location_flags = 0;
  uint8_t load_mask = 0xFF;
  uint16_t class_type = 0;
  uint32_t object_id = 0;
  std::string name_bytes;
  uint16_t clone_id = 0;
  uint32_t clone_player_id = 0;

  bool operator==(const BuiltKey&) const = default;
};

// A reference read from bytes, its name as stored there, or as given.
BuiltKey built_key(const Uoid& key, const Source& source);
BuiltKey built_key(const Uoid& key, std::string name_bytes);
// Whether built_key(stored, source) == key, the name compared where it is
// stored.
bool holds_key(const Uoid& stored, const Source& source, const BuiltKey& key);
// The key as a Key's repr shows it: Uoid(S:0x... N:"name" C:[0,0]).
std::string built_key_repr(const BuiltKey& key);

// The writer's normal form of a key record (no presence byte): contents
// flags derived from the values, the reserved clone field written as 0. Key
// is an ObjectKey or a BuiltKey; its name is given as stored.
template <class Key>
void write_key_record(PlasmaWrite& writer, const Key& key, std::string_view name_bytes) {
  const bool clone_ids = key.clone_id != 0 || key.clone_player_id != 0;
  const bool load_mask = key.load_mask != 0xFF;
  writer.write_u8(static_cast<uint8_t>((clone_ids ? kHasCloneIds : 0) | (load_mask ? kHasLoadMask : 0)));
  writer.write_u32(key.location_sequence);
  writer.write_u16(key.location_flags);
  if (load_mask) writer.write_u8(key.load_mask);
  writer.write_u16(key.class_type);
  writer.write_u32(key.object_id);
  writer.write_safe_string(name_bytes);
  if (clone_ids) {
    writer.write_u16(key.clone_id);
    writer.write_u16(0);
    writer.write_u32(key.clone_player_id);
  }
}

// A key reference: its presence byte, then the key record of a present one.
void write_key_reference(PlasmaWrite& writer, const std::optional<BuiltKey>& key);

// A key-index entry: a key record (no presence byte), data offset and length.
ObjectKey read_object_key(PlasmaRead& reader);
// The writer's normal form of a key-index entry. page is the page the key was
// read from.
void write_object_key(PlasmaWrite& writer, const ObjectKey& key, const Source& page);

}  // namespace lumivex
