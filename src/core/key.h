#pragma once

#include <cstdint>
#include <optional>

#include "core/stream.h"

namespace lumivex {

// Contents flags of a stored key record.
inline constexpr uint8_t kHasCloneIds = 0x01;
inline constexpr uint8_t kHasLoadMask = 0x02;

// Widths of the fields of a stored key record that the readers of its name
// alone step over.
inline constexpr uint64_t kLocationSize = sizeof(uint32_t) + sizeof(uint16_t);  // location sequence and flags
inline constexpr uint64_t kLoadMaskSize = sizeof(uint8_t);
inline constexpr uint64_t kClassTypeSize = sizeof(uint16_t);
inline constexpr uint64_t kObjectIdSize = sizeof(uint32_t);
// Clone id, a reserved u16 and clone player id.
inline constexpr uint64_t kCloneIdsSize = sizeof(uint16_t) + sizeof(uint16_t) + sizeof(uint32_t);

// A key referenced from inside object data; its name stays where it is
// stored until asked for.
struct Uoid {
  uint32_t location_sequence = 0;
  uint16_t location_flags = 0;
  // The stored load mask's high and low nibbles, each with its top four bits
  // set; 0xFF when no mask is stored.
  uint8_t load_mask_upper = 0xFF;
  uint8_t load_mask_lower = 0xFF;
  uint16_t class_type = 0;
  uint32_t object_id = 0;
  StoredString name;
  uint16_t clone_id = 0;
  uint32_t clone_player_id = 0;
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
    reader.read_u16();  // reserved
    uoid.clone_player_id = reader.read_u32();
  }
  return uoid;
}

// A present key record up to and including its name's header, at its
// longest: contents flags, location, load mask, class type, object id.
inline constexpr uint64_t kLongestKeyHead =
    sizeof(uint8_t) + kLocationSize + kLoadMaskSize + kClassTypeSize + kObjectIdSize + sizeof(uint16_t);

// Reads exactly what read_key_uoid reads and keeps only where the name lies.
// Most references are read here, so the fixed fields of a present record are
// taken under one length test where the bytes hold them; where they do not,
// field by field, to fail where read_key_uoid fails.
inline std::optional<StoredString> read_key_name(PlasmaRead& reader) {
  uint8_t contents = 0;
  uint16_t header = 0;
  if (const uint8_t* head = reader.peek(sizeof(uint8_t) + kLongestKeyHead)) {
    if (head[0] == 0) {
      reader.advance(sizeof(uint8_t));
      return std::nullopt;
    }
    contents = head[1];
    // After the presence byte and the contents flags.
    const uint64_t name_at = 2 * sizeof(uint8_t) + kLocationSize + (contents & kHasLoadMask ? kLoadMaskSize : 0) +
                             kClassTypeSize + kObjectIdSize;
    header = PlasmaRead::load<uint16_t>(head + name_at);
    reader.advance(name_at + sizeof(uint16_t));
  } else {
    if (reader.read_u8() == 0) return std::nullopt;
    contents = reader.read_u8();
    reader.skip(kLocationSize + (contents & kHasLoadMask ? kLoadMaskSize : 0) + kClassTypeSize + kObjectIdSize);
    header = reader.read_u16();
  }
  StoredString name = reader.located<StoredString>();
  name.header = header;
  // The name and the clone ids fail alike: one step takes both.
  reader.skip(name.size() + (contents & kHasCloneIds ? kCloneIdsSize : 0));
  return name;
}

// Reads exactly what read_key_uoid reads and keeps nothing; true when the
// reference is present.
inline bool skip_key_uoid(PlasmaRead& reader) { return read_key_name(reader).has_value(); }

// Steps over a key reference, failing where read_key_uoid would, and says
// where a present one lies.
inline StoredKey locate_key(PlasmaRead& reader) {
  StoredKey key;
#ifndef NDEBUG
  key.source_size = reader.length();
#endif
  const uint64_t place = reader.position() + 1;
  if (skip_key_uoid(reader)) key.place = static_cast<uint32_t>(place);
  return key;
}

// A present located key reference read again from the bytes it was located
// in.
inline Uoid read_key(const Source& source, const StoredKey& key) {
  PlasmaRead reader = source.reader_at(key);
  return *read_key_uoid(reader);
}

}  // namespace lumivex
