#pragma once

#include <cstdint>

#include "core/stream.h"

namespace lumivex {

// Every object's bytes begin with its class index, a 16-bit class type id.
inline constexpr uint64_t kClassIndexSize = sizeof(int16_t);

// Bits of the synched-object flags word that announce the two string lists.
inline constexpr uint32_t kSynchFirstList = 0x10;
inline constexpr uint32_t kSynchSecondList = 0x40;

// Steps over a u16 count and that many safe strings.
inline void skip_string_list(PlasmaRead& reader) {
  const uint16_t count = reader.read_u16();
  for (uint16_t i = 0; i < count; ++i) reader.skip_safe_string();
}

// Steps over the flags word and string lists that follow an object's own key
// in most objects: the first list when bit 0x10 is set, the second when bit
// 0x40 is. Nothing shows them. Defined here, like the key readers, so that
// every decoder inlines it.
inline void skip_synched_object(PlasmaRead& reader) {
  const uint32_t flags = reader.read_u32();
  if (flags & kSynchFirstList) skip_string_list(reader);
  if (flags & kSynchSecondList) skip_string_list(reader);
}

}  // namespace lumivex
