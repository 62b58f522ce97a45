#include "resource/prp/object_key.h"

namespace lumivex {

ObjectKey read_object_key(PlasmaRead& reader) {
  const uint8_t contents = reader.read_u8();
  ObjectKey key;
  key.location_sequence = reader.read_u32();
  key.location_flags = reader.read_u16();
  if (contents & kHasLoadMask) key.load_mask = reader.read_u8();
  key.class_type = reader.read_u16();
  key.object_id = reader.read_u32();
  key.name = reader.locate_safe_string();
  if (contents & kHasCloneIds) {
    key.clone_id = reader.read_u16();
    reader.read_u16();  // reserved
    key.clone_player_id = reader.read_u32();
  }
  key.data_offset = reader.read_u32();
  key.data_len = reader.read_u32();
  return key;
}

void write_object_key(PlasmaWrite& writer, const ObjectKey& key, const Source& page) {
  const bool clone_ids = key.clone_id != 0 || key.clone_player_id != 0;
  const bool load_mask = key.load_mask != 0xFF;
  writer.write_u8(static_cast<uint8_t>((clone_ids ? kHasCloneIds : 0) | (load_mask ? kHasLoadMask : 0)));
  writer.write_u32(key.location_sequence);
  writer.write_u16(key.location_flags);
  if (load_mask) writer.write_u8(key.load_mask);
  writer.write_u16(key.class_type);
  writer.write_u32(key.object_id);
  writer.write_safe_string(page.stored_bytes(key.name));
  if (clone_ids) {
    writer.write_u16(key.clone_id);
    writer.write_u16(0);
    writer.write_u32(key.clone_player_id);
  }
  writer.write_u32(key.data_offset);
  writer.write_u32(key.data_len);
}

}  // namespace lumivex
