#include "core/key_list.h"

namespace lumivex {

std::vector<Uoid> KeyList::present_keys(std::span<const uint8_t> data) const {
  std::vector<Uoid> keys;
  keys.reserve(present);
  PlasmaRead reader(data, offset);
  for (uint64_t i = 0; i < count; ++i)
    if (auto key = read_key_uoid(reader)) keys.push_back(*key);
  return keys;
}

std::vector<std::string> KeyList::present_names(std::span<const uint8_t> data) const {
  std::vector<std::string> names;
  names.reserve(present);
  PlasmaRead reader(data, offset);
  for (uint64_t i = 0; i < count; ++i)
    if (auto name = read_key_name(reader)) names.push_back(name->text(data));
  return names;
}

}  // namespace lumivex
