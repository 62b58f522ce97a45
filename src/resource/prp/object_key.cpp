#include "resource/prp/object_key.h"

#include "core/text.h"

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
  write_key_record(writer, key, page.stored_bytes(key.name));
  writer.write_u32(key.data_offset);
  writer.write_u32(key.data_len);
}

namespace {

// The two derived bytes give the stored mask back: 0xFF when there was none.
uint8_t stored_load_mask(const Uoid& key) {
  return static_cast<uint8_t>(((key.load_mask_upper & 0x0F) << 4) | (key.load_mask_lower & 0x0F));
}

}  // namespace

BuiltKey built_key(const Uoid& key, std::string name_bytes) {
  return {key.location_sequence, key.location_flags,    stored_load_mask(key), key.class_type,
          key.object_id,         std::move(name_bytes), key.clone_id,          key.clone_player_id};
}

BuiltKey built_key(const Uoid& key, const Source& source) { return built_key(key, source.stored_bytes(key.name)); }

bool holds_key(const Uoid& stored, const Source& source, const BuiltKey& key) {
  return stored.location_sequence == key.location_sequence && stored.location_flags == key.location_flags &&
         stored_load_mask(stored) == key.load_mask && stored.class_type == key.class_type &&
         stored.object_id == key.object_id && stored.clone_id == key.clone_id &&
         stored.clone_player_id == key.clone_player_id && source.stores(stored.name, key.name_bytes);
}

void write_key_reference(PlasmaWrite& writer, const std::optional<BuiltKey>& key) {
  writer.write_u8(key ? 1 : 0);
  if (key) write_key_record(writer, *key, key->name_bytes);
}

std::string built_key_repr(const BuiltKey& key) {
  return key_repr(key.location_sequence, key.location_flags, key.class_type, key.object_id, utf8_text(key.name_bytes),
                  key.clone_player_id, key.clone_id);
}

}  // namespace lumivex
