#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/key.h"

namespace lumivex {

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

}  // namespace lumivex
