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
  // Their names, where they lie.
  std::vector<StoredString> present_stored_names(const Source& source) const;
};

// A reference an object's bytes hold, and where in the object it lies: the
// view property that shows it ("texture_key", "modifier_keys[2]", numbered by
// the place in the stored list), or the field's name where none does.
struct KeyReference {
  std::string field;
  Uoid key;
};

// Appends the present references of list as field[0], field[1], ..., each
// numbered by its place in the stored list.
void add_references(std::vector<KeyReference>& out, const std::string& field, const KeyList& list,
                    const Source& source);
// Appends key as field when it is present.
inline void add_reference(std::vector<KeyReference>& out, std::string field, const std::optional<Uoid>& key) {
  if (key) out.push_back({std::move(field), *key});
}
inline void add_reference(std::vector<KeyReference>& out, std::string field, const StoredKey& key,
                          const Source& source) {
  if (key) out.push_back({std::move(field), read_key(source, key)});
}

// Steps over count key references, failing where reading them would: a count
// larger than the bytes hold ends at the first missing reference.
[[gnu::always_inline]] inline KeyList locate_key_list(PlasmaRead& reader, uint32_t count) {
  KeyList list{reader.locate_list<std::optional<Uoid>>(count)};
  for (uint32_t i = 0; i < count; ++i) list.present += skip_key_uoid(reader);
  return list;
}

}  // namespace lumivex
