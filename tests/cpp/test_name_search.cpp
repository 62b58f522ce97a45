// The search for many names stored as safe strings, against a search name by
// name, place by place; on bytes that make every place a candidate it takes
// its running hash, and finds the same.
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "resource/prp/name_search.h"

using namespace lumivex;

namespace {

// Every name i the bytes hold at a place no skipped span begins, looked for
// name by name and place by place.
std::set<std::size_t> found_one_by_one(const std::vector<uint8_t>& bytes, const std::vector<std::string>& names,
                                       const std::vector<NameSpan>& skipped) {
  std::set<std::size_t> found;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.empty()) continue;
    for (std::size_t at = 0; at + 2 + name.size() <= bytes.size(); ++at) {
      bool is_skipped = false;
      for (const NameSpan& span : skipped) is_skipped = is_skipped || span.at == at;
      const uint16_t header = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
      if (is_skipped || (header & 0x0FFF) != name.size()) continue;
      const uint8_t flip = (header & 0xF000) == 0xF000 ? 0xFF : 0x00;
      bool same = true;
      for (std::size_t k = 0; k < name.size(); ++k)
        same = same && bytes[at + 2 + k] == (static_cast<uint8_t>(name[k]) ^ flip);
      if (same) found.insert(i);
    }
  }
  return found;
}

std::set<std::size_t> found_at_once(NameSearch& search, const std::vector<uint8_t>& bytes,
                                    const std::vector<NameSpan>& skipped) {
  std::set<std::size_t> found;
  search.search(bytes, skipped, [&](std::size_t name) {
    // Each name is told once.
    CHECK(found.insert(name).second);
  });
  return found;
}

void put_name(std::vector<uint8_t>& bytes, std::size_t at, const std::string& name, bool inverted) {
  const uint16_t header = static_cast<uint16_t>(name.size() | (inverted ? 0xF000 : 0));
  bytes[at] = static_cast<uint8_t>(header);
  bytes[at + 1] = static_cast<uint8_t>(header >> 8);
  for (std::size_t k = 0; k < name.size(); ++k)
    bytes[at + 2 + k] = static_cast<uint8_t>(name[k]) ^ (inverted ? 0xFF : 0x00);
}

}  // namespace

TEST(many_names_are_found_as_one_by_one_in_either_form) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    // Few letters: names share beginnings and ends, and the bytes hold them
    // by chance too.
    std::vector<std::string> names;
    const std::size_t name_count = 1 + random() % (round % 2 ? 3 : 40);
    for (std::size_t i = 0; i < name_count; ++i) {
      std::string name(random() % 6, 'a');
      for (char& c : name) c = static_cast<char>('a' + random() % 3);
      names.push_back(name);
    }
    std::vector<uint8_t> bytes(random() % 300);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() % 4 == 0 ? random() % 256 : 'a' + random() % 3);
    std::vector<NameSpan> skipped;
    for (int put = 0; put < 6 && bytes.size() > 12; ++put) {
      const std::string& name = names[random() % names.size()];
      const std::size_t at = random() % (bytes.size() - 8);
      put_name(bytes, at, name, random() % 2);
      if (random() % 3 == 0) skipped.push_back({at, 2 + name.size()});
    }
    std::sort(skipped.begin(), skipped.end(), [](const NameSpan& a, const NameSpan& b) { return a.at < b.at; });
    NameSearch search(names);
    CHECK(found_at_once(search, bytes, skipped) == found_one_by_one(bytes, names, skipped));
    // A second search of other bytes tells each name again.
    CHECK(found_at_once(search, bytes, {}) == found_one_by_one(bytes, names, {}));
  }
}

TEST(bytes_where_every_place_could_hold_a_long_name_are_searched_by_a_running_hash) {
  // 0x11 0x11 is the header of a plain string of 0x111 bytes: at every place
  // there is one, and each begins as every name does.
  const std::size_t length = 0x111;
  std::vector<std::string> names;
  for (char last = 'a'; last <= 'z'; ++last) names.push_back(std::string(length - 1, '\x11') + last);
  names.push_back(std::string(length, '\x11'));
  std::vector<uint8_t> bytes(3 * (std::size_t{1} << 16), 0x11);
  // One name only at the end, past where a running hash of the first
  // stretch reaches; another in the first stretch, after many places.
  put_name(bytes, bytes.size() - 2 - length, names[3], false);
  put_name(bytes, 40000, names[20], true);
  NameSearch search(names);
  const std::set<std::size_t> found = found_at_once(search, bytes, {});
  CHECK((found == std::set<std::size_t>{3, 20, names.size() - 1}));
}
