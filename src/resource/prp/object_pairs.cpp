#include "resource/prp/object_pairs.h"

#include <cstring>
#include <span>
#include <string>
#include <unordered_map>

namespace lumivex {
namespace {

// What objects pair by: the class, then the name as text.
std::string pairing_of(const PrpPage& page, const ObjectKey& key) {
  std::string pairing{static_cast<char>(key.class_type & 0xFF), static_cast<char>(key.class_type >> 8)};
  pairing += page.key_name(key);
  return pairing;
}

std::span<const uint8_t> bytes_of(const PrpPage& page, const ObjectKey& key) {
  return page.object_data(key).value_or(std::span<const uint8_t>());
}

bool same_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// Whether the two keys have the same fields, their names as stored; B's
// is compared where it lies.
bool same_key(const PrpPage& a_page, const ObjectKey& a, const PrpPage& b_page, const ObjectKey& b) {
  return a.location_sequence == b.location_sequence && a.location_flags == b.location_flags &&
         a.load_mask == b.load_mask && a.class_type == b.class_type && a.object_id == b.object_id &&
         a.clone_id == b.clone_id && a.clone_player_id == b.clone_player_id &&
         Source(b_page.data()).stores(b.name, a_page.key_name_bytes(a));
}

}  // namespace

ObjectPairs pair_objects(const PrpPage& a, const PrpPage& b) {
  // B's objects of each class and name in index order, and how many of
  // them are paired already.
  struct Waiting {
    std::vector<std::size_t> objects;
    std::size_t paired = 0;
  };
  const std::vector<ObjectKey>& a_keys = a.keys();
  const std::vector<ObjectKey>& b_keys = b.keys();
  std::unordered_map<std::string, Waiting> waiting;
  waiting.reserve(b_keys.size());
  for (std::size_t i = 0; i < b_keys.size(); ++i) waiting[pairing_of(b, b_keys[i])].objects.push_back(i);
  std::vector<bool> paired_b(b_keys.size(), false);
  ObjectPairs pairs;
  for (std::size_t i = 0; i < a_keys.size(); ++i) {
    const auto found = waiting.find(pairing_of(a, a_keys[i]));
    if (found == waiting.end() || found->second.paired == found->second.objects.size()) {
      pairs.only_a.push_back(i);
      continue;
    }
    const std::size_t partner = found->second.objects[found->second.paired++];
    paired_b[partner] = true;
    if (!same_bytes(bytes_of(a, a_keys[i]), bytes_of(b, b_keys[partner])) ||
        !same_key(a, a_keys[i], b, b_keys[partner]))
      pairs.differing.emplace_back(i, partner);
  }
  for (std::size_t i = 0; i < b_keys.size(); ++i)
    if (!paired_b[i]) pairs.only_b.push_back(i);
  return pairs;
}

}  // namespace lumivex
