#include "core/key_list.h"

namespace lumivex {

std::vector<Uoid> KeyList::present_keys(const Source& source) const {
  std::vector<Uoid> keys;
  keys.reserve(present);
  PlasmaRead reader = source.reader_at(*this);
  for (uint32_t i = 0; i < count; ++i)
    if (auto key = read_key_uoid(reader)) keys.push_back(*key);
  return keys;
}

std::vector<std::string> KeyList::present_names(const Source& source) const {
  std::vector<std::string> names;
  names.reserve(present);
  for (const StoredString& name : present_stored_names(source)) names.push_back(source.text(name));
  return names;
}

std::vector<StoredString> KeyList::present_stored_names(const Source& source) const {
  std::vector<StoredString> names;
  names.reserve(present);
  PlasmaRead reader = source.reader_at(*this);
  for (uint32_t i = 0; i < count; ++i)
    if (auto name = read_key_name(reader)) names.push_back(*name);
  return names;
}

void add_references(std::vector<KeyReference>& out, const std::string& field, const KeyList& list,
                    const Source& source) {
  PlasmaRead reader = source.reader_at(list);
  for (uint32_t i = 0; i < list.count; ++i)
    if (auto key = read_key_uoid(reader)) out.push_back({field + "[" + std::to_string(i) + "]", *key});
}

}  // namespace lumivex
