#include "core/synched_object.h"

namespace lumivex {
namespace {

std::vector<std::string> read_string_list(PlasmaRead& reader) {
  const uint16_t count = reader.read_u16();
  std::vector<std::string> list;
  // Each string takes at least its two header bytes.
  list.reserve(std::min<uint64_t>(count, reader.remaining() / 2));
  for (uint16_t i = 0; i < count; ++i) list.push_back(reader.read_safe_string());
  return list;
}

}  // namespace

// One stored layout, one reader: the second list is there exactly when bit
// 0x40 is set, whichever of the two operations reads it.
SynchedObjectData SynchedObjectData::read(PlasmaRead& reader) {
  SynchedObjectData data;
  data.synch_flags = reader.read_u32();
  if (data.synch_flags & kSynchFirstList) data.first_name_list = read_string_list(reader);
  if (data.synch_flags & kSynchSecondList) data.second_name_list = read_string_list(reader);
  return data;
}

}  // namespace lumivex
