#pragma once

// The references between the objects of several pages, resolved: each key a
// decoder reads is looked up among the pages' own keys by location sequence,
// class type and stored name.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "core/key_list.h"
#include "resource/prp/page.h"

namespace lumivex {

enum class ReferenceStatus : uint8_t {
  Found,        // an object of the key's location, class and name exists
  OtherId,      // it exists, with another object id than the key's
  Missing,      // a page holds the key's location, but no such object
  Outside,      // no page holds the key's location
  Undecodable,  // the source object does not decode; there is no key
};

struct ResolvedReference {
  std::size_t page = 0;  // the source's page, by its place in the list
  const ObjectKey* source = nullptr;
  ReferenceStatus status = ReferenceStatus::Found;
  std::string field;  // as KeyReference::field; the decode's error for Undecodable
  Uoid key;           // its name as stored is name_bytes
  std::string name_bytes;
  std::size_t target_page = 0;
  const ObjectKey* target = nullptr;  // for Found and OtherId
};

// Objects of one page that share a location, class and name.
struct SharedName {
  std::size_t page = 0;
  const ObjectKey* first = nullptr;
  std::size_t count = 0;
};

// Resolves the references of several pages: decodes every object of the
// pages whose class a decoder is for, in page and index order, and resolves
// each reference it reads. With problems_only, only the references that are
// not Found (and the objects that do not decode) are listed; all are counted.
// Where several objects of the pages share a location, class and name, the
// first in page and index order is the target; those of one page are listed
// as shared names. The references are listed a stretch at a time, so that
// what is held grows with a stretch, never with the pages' references.
// Work is n log n in the number of keys and references.
class ReferenceResolver {
 public:
  ReferenceResolver(std::span<const std::shared_ptr<const PrpPage>> pages, bool problems_only);

  // In page order, then in the order of the first of each.
  const std::vector<SharedName>& shared_names() const { return shared_names_; }

  // Replaces out with the next listed references, walking on until at least
  // batch are listed or the pages end; false when nothing was left.
  bool next(std::vector<ResolvedReference>& out, std::size_t batch);

  // Every reference read so far, found or not.
  uint64_t references() const { return references_; }

 private:
  // One key of a page's index, by what a reference is matched on.
  struct IndexEntry {
    uint32_t location_sequence;
    uint16_t class_type;
    std::string name_bytes;
    std::size_t page;
    const ObjectKey* key;

    auto match() const { return std::tie(location_sequence, class_type, name_bytes); }
  };

  void walk_object(const ObjectKey& key, std::vector<ResolvedReference>& out);

  std::span<const std::shared_ptr<const PrpPage>> pages_;
  bool problems_only_;
  std::vector<IndexEntry> index_;
  std::vector<uint32_t> locations_;
  std::vector<SharedName> shared_names_;
  std::vector<KeyReference> found_;  // one object's, reused
  std::size_t page_ = 0;
  std::size_t object_ = 0;
  uint64_t references_ = 0;
};

}  // namespace lumivex
