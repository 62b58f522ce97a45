#include "resource/prp/references.h"

#include <algorithm>
#include <tuple>

#include "resource/prp/decoders.h"

namespace lumivex {
namespace {

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

ReferenceResolver::ReferenceResolver(std::span<const std::shared_ptr<const PrpPage>> pages, bool problems_only)
    : pages_(pages), problems_only_(problems_only) {
  for (std::size_t p = 0; p < pages.size(); ++p) {
    locations_.push_back(pages[p]->header().sequence_number);
    for (const ObjectKey& key : pages[p]->keys())
      index_.push_back({key.location_sequence, key.class_type, pages[p]->key_name_bytes(key), p, &key});
  }
  // Stable: among equal entries the first in page and index order comes first.
  std::stable_sort(index_.begin(), index_.end(),
                   [](const IndexEntry& a, const IndexEntry& b) { return a.match() < b.match(); });
  std::sort(locations_.begin(), locations_.end());

  for (auto run = index_.begin(); run != index_.end();) {
    auto end = run + 1;
    while (end != index_.end() && end->match() == run->match()) ++end;
    // Equal entries of one page lie together: pages were indexed in order.
    for (auto from = run; from != end;) {
      auto to = from + 1;
      while (to != end && to->page == from->page) ++to;
      if (to - from > 1) shared_names_.push_back({from->page, from->key, static_cast<std::size_t>(to - from)});
      from = to;
    }
    run = end;
  }
  std::sort(shared_names_.begin(), shared_names_.end(), [](const SharedName& a, const SharedName& b) {
    return std::tie(a.page, a.first) < std::tie(b.page, b.first);
  });
}

bool ReferenceResolver::next(std::vector<ResolvedReference>& out, std::size_t batch) {
  out.clear();
  while (page_ < pages_.size() && out.size() < batch) {
    const std::vector<ObjectKey>& keys = pages_[page_]->keys();
    if (object_ == keys.size()) {
      ++page_;
      object_ = 0;
      continue;
    }
    walk_object(keys[object_++], out);
  }
  return !out.empty();
}

void ReferenceResolver::walk_object(const ObjectKey& key, std::vector<ResolvedReference>& out) {
  const PrpPage& page = *pages_[page_];
  try {
    if (!references_of(page, key, found_)) return;
  } catch (const Error& error) {
    ResolvedReference listed;
    listed.page = page_;
    listed.source = &key;
    listed.status = ReferenceStatus::Undecodable;
    listed.field = error.message();
    out.push_back(std::move(listed));
    return;
  }
  const Source source(*page.object_data(key));
  for (KeyReference& reference : found_) {
    ++references_;
    ResolvedReference resolved;
    resolved.page = page_;
    resolved.source = &key;
    resolved.name_bytes = source.stored_bytes(reference.key.name);
    const auto place =
        std::make_tuple(reference.key.location_sequence, reference.key.class_type, std::cref(resolved.name_bytes));
    const auto target =
        std::lower_bound(index_.begin(), index_.end(), place, [](const IndexEntry& entry, const auto& wanted) {
          return std::tie(entry.location_sequence, entry.class_type, entry.name_bytes) < wanted;
        });
    if (target != index_.end() && target->match() == place) {
      resolved.target_page = target->page;
      resolved.target = target->key;
      resolved.status =
          target->key->object_id == reference.key.object_id ? ReferenceStatus::Found : ReferenceStatus::OtherId;
    } else {
      const bool held = std::binary_search(locations_.begin(), locations_.end(), reference.key.location_sequence);
      resolved.status = held ? ReferenceStatus::Missing : ReferenceStatus::Outside;
    }
    if (problems_only_ && resolved.status == ReferenceStatus::Found) continue;
    resolved.field = std::move(reference.field);
    resolved.key = reference.key;
    out.push_back(std::move(resolved));
  }
}

}  // namespace lumivex
