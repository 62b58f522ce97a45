#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resource/prp/stream.h"

namespace lumivex {

// Bits of the synched-object flags word that announce the two string lists.
inline constexpr uint32_t kSynchFirstList = 0x10;
inline constexpr uint32_t kSynchSecondList = 0x40;

// The flags word and string lists that follow an object's own key.
struct SynchedObjectData {
  uint32_t synch_flags = 0;
  std::vector<std::string> first_name_list;
  std::vector<std::string> second_name_list;

  static SynchedObjectData read(PlasmaRead& reader);
};

// Steps over the same bytes SynchedObjectData::read reads, failing where it
// would fail.
void skip_synched_object(PlasmaRead& reader);

}  // namespace lumivex
