#pragma once

// The references between the objects of several pages, resolved: each key a
// decoder reads is looked up among the pages' own keys by location sequence,
// class type and stored name.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
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

struct ReferenceWalk {
  uint64_t references = 0;  // every reference read, found or not
  std::vector<ResolvedReference> listed;
  std::vector<SharedName> shared_names;  // in page order, then in the order of the first of each
};

// Decodes every object of the pages whose class a decoder is for, in page and
// index order, and resolves each reference it reads. With problems_only, only
// the references that are not Found (and the objects that do not decode) are
// listed; all are counted. Where several objects of the pages share a
// location, class and name, the first in page and index order is the target;
// those of one page are listed as shared names.
// Work is n log n in the number of keys and references.
ReferenceWalk resolve_references(std::span<const std::shared_ptr<const PrpPage>> pages, bool problems_only);

}  // namespace lumivex
