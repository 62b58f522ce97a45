#include "resource/prp/references.h"

#include <algorithm>
#include <tuple>

#include "resource/prp/decoders.h"

namespace lumivex {
namespace {

// One key of a page's index, by what a reference is matched on.
struct IndexEntry {
  uint32_t location_sequence;
  uint16_t class_type;
  std::string name_bytes;
  std::size_t page;
  const ObjectKey* key;

  auto match() const { return std::tie(location_sequence, class_type, name_bytes); }
};

// The references of one object by its class's decoder; false when no decoder
// is for its class. A decoder's failure, or bytes outside the page, is thrown.
bool references_of(const PrpPage& page, const ObjectKey& key, std::vector<KeyReference>& out) {
  bool decodable = false;
  for_each_decoder([&](const auto& row, std::size_t) {
    if (decodable || row.class_type != key.class_type) return;
    decodable = true;
    const auto bytes = page.object_data(key);
    if (!bytes) throw Error("Object data not found");
    out = references(row.parse(*bytes), Source(*bytes));
  });
  return decodable;
}

}  // namespace

ReferenceWalk resolve_references(std::span<const std::shared_ptr<const PrpPage>> pages, bool problems_only) {
  std::vector<IndexEntry> index;
  std::vector<uint32_t> locations;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    locations.push_back(pages[p]->header().sequence_number);
    for (const ObjectKey& key : pages[p]->keys())
      index.push_back({key.location_sequence, key.class_type, pages[p]->key_name_bytes(key), p, &key});
  }
  // Stable: among equal entries the first in page and index order comes first.
  std::stable_sort(index.begin(), index.end(),
                   [](const IndexEntry& a, const IndexEntry& b) { return a.match() < b.match(); });
  std::sort(locations.begin(), locations.end());

  ReferenceWalk walk;
  for (auto run = index.begin(); run != index.end();) {
    auto end = run + 1;
    while (end != index.end() && end->match() == run->match()) ++end;
    // Equal entries of one page lie together: pages were indexed in order.
    for (auto from = run; from != end;) {
      auto to = from + 1;
      while (to != end && to->page == from->page) ++to;
      if (to - from > 1) walk.shared_names.push_back({from->page, from->key, static_cast<std::size_t>(to - from)});
      from = to;
    }
    run = end;
  }
  std::sort(walk.shared_names.begin(), walk.shared_names.end(), [](const SharedName& a, const SharedName& b) {
    return std::tie(a.page, a.first) < std::tie(b.page, b.first);
  });

  std::vector<KeyReference> found;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    for (const ObjectKey& key : pages[p]->keys()) {
      ResolvedReference listed;
      listed.page = p;
      listed.source = &key;
      try {
        if (!references_of(*pages[p], key, found)) continue;
      } catch (const Error& error) {
        listed.status = ReferenceStatus::Undecodable;
        listed.field = error.message();
        walk.listed.push_back(std::move(listed));
        continue;
      }
      const Source source(*pages[p]->object_data(key));
      for (KeyReference& reference : found) {
        ++walk.references;
        ResolvedReference resolved;
        resolved.page = p;
        resolved.source = &key;
        resolved.name_bytes = source.stored_bytes(reference.key.name);
        const auto place =
            std::make_tuple(reference.key.location_sequence, reference.key.class_type, std::cref(resolved.name_bytes));
        const auto target =
            std::lower_bound(index.begin(), index.end(), place, [](const IndexEntry& entry, const auto& wanted) {
              return std::tie(entry.location_sequence, entry.class_type, entry.name_bytes) < wanted;
            });
        if (target != index.end() && target->match() == place) {
          resolved.target_page = target->page;
          resolved.target = target->key;
          resolved.status =
              target->key->object_id == reference.key.object_id ? ReferenceStatus::Found : ReferenceStatus::OtherId;
        } else {
          const bool held = std::binary_search(locations.begin(), locations.end(), reference.key.location_sequence);
          resolved.status = held ? ReferenceStatus::Missing : ReferenceStatus::Outside;
        }
        if (problems_only && resolved.status == ReferenceStatus::Found) continue;
        resolved.field = std::move(reference.field);
        resolved.key = reference.key;
        walk.listed.push_back(std::move(resolved));
      }
    }
  }
  return walk;
}

}  // namespace lumivex
