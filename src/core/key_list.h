#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/key.h"

namespace lumivex {

// A run of key references, present or absent, located in the bytes it was
// read from.
struct KeyList : StoredList<std::optional<Uoid>> {
  uint32_t present = 0;

  // The present references, in list order.
  std::vector<Uoid> present_keys(const Source& source) const;
  std::vector<std::string> present_names(const Source& source) const;
};

// Steps over count key references, failing where reading them would: a count
// larger than the bytes hold ends at the first missing reference.
inline KeyList locate_key_list(PlasmaRead& reader, uint32_t count) {
  KeyList list{reader.locate_list<std::optional<Uoid>>(count)};
  for (uint32_t i = 0; i < count; ++i) list.present += skip_key_uoid(reader);
  return list;
}

}  // namespace lumivex
