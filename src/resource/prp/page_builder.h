#pragma once

// A page put together object by object: from nothing or from the objects of
// a page, changed, then written by the page writer into a new page.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "resource/prp/object_key.h"
#include "resource/prp/page.h"

namespace lumivex {

// An object's bytes and whatever keeps them: the page they were read from,
// or their own copy.
struct HeldBytes {
  std::shared_ptr<const void> owner;
  std::span<const uint8_t> bytes;

  static HeldBytes copy_of(std::span<const uint8_t> bytes);
};

struct Rename {
  BuiltKey key;         // the object's new key
  uint64_t references;  // references to the object rewritten, its own key not counted
  // Objects that hold the old name, stored as a name, where no key was read:
  // they may still refer to the old key.
  uint64_t unsearched;
};

// One rename of several made at once: an object's key and its new name.
struct NewName {
  BuiltKey key;
  std::string name_bytes;
};

// The objects of a page in the writer's order: class by class in the order
// of the page's type groups, and in each class in index order, new ones
// last. Lookups by key go through a table of their names' hashes.
class PageBuilder {
 public:
  // An empty page of version 6, major version 70, checksum 0 and no class
  // versions.
  PageBuilder(std::string age_name_bytes, std::string page_name_bytes, uint32_t sequence_number, uint16_t flags);
  // Every object of page, in its order; the header as the page has it.
  static PageBuilder from_page(std::shared_ptr<const PrpPage> page);

  std::size_t size() const { return live_; }
  const PageHeader& header() const { return header_; }
  // The keys in the writer's order.
  std::vector<const BuiltKey*> keys() const;
  bool contains(const BuiltKey& key) const;

  // A new object of the page's location with the next free id of its class
  // (one above the highest it has had); another object of its class with
  // its name is an error.
  const BuiltKey& add(uint16_t class_type, std::string name_bytes, HeldBytes data);
  // The same for an object of class_type whose bytes name it: its name is
  // its own key's, which becomes the new key, so that the index and the
  // bytes agree.
  const BuiltKey& add_object(uint16_t class_type, std::span<const uint8_t> bytes);
  // These fail on a key the builder does not hold.
  void set(const BuiltKey& key, HeldBytes data);
  // Replaces the bytes of key's object by those of an object of class_type,
  // its own key made key; another class than key's is an error.
  void set_object(const BuiltKey& key, uint16_t class_type, std::span<const uint8_t> bytes);
  void remove(const BuiltKey& key);
  // Renames the object in its key, in its own key at the start of its bytes
  // and in every reference to it that a decoder finds in the page's objects.
  Rename rename(const BuiltKey& key, std::string new_name_bytes);
  // Rewrites every reference to key, an object of another page being renamed
  // to new_name_bytes, that a decoder finds in the page's objects; the result
  // holds key with its new name.
  Rename rename_references(const BuiltKey& key, const std::string& new_name_bytes);
  // Renames at once, in one pass over the objects whatever their number: a
  // key the builder holds is renamed as rename() renames it, and one of the
  // page's location that it does not hold is an error; a key of another
  // location has its references followed, as rename_references() does. The
  // names change together, so that objects may swap names or pass them
  // along; a key given twice, and a name two objects of one class would then
  // hold, are errors, and nothing changes. The results are in the renames'
  // order; one that keeps its name has nothing rewritten.
  std::vector<Rename> rename_all(const std::vector<NewName>& renames);

  // A new page of the objects, in the writer's normal form.
  std::shared_ptr<const PrpPage> build() const;

 private:
  struct Entry {
    BuiltKey key;
    HeldBytes data;
    bool removed = false;
  };
  struct Group {
    TypeGroup type_group;
    std::vector<uint32_t> entries;  // in order, removed ones included
  };

  PageBuilder() = default;
  // The entry at which an object goes, appended to its class.
  void append(BuiltKey key, HeldBytes data);
  uint32_t entry_of(const BuiltKey& key) const;
  // Takes the entry at index at out of the lookup by name.
  void forget_name(uint32_t at);
  // The live object of class_type named name_bytes, if there is one.
  std::optional<uint32_t> entry_named(uint16_t class_type, const std::string& name_bytes) const;
  bool named(uint16_t class_type, const std::string& name_bytes) const;
  static uint64_t name_hash(uint16_t class_type, std::string_view name_bytes);
  // The renames that change a name, checked.
  struct Changes;
  Changes changes_of(const std::vector<NewName>& renames) const;

  PageHeader header_;
  std::vector<Entry> entries_;
  std::vector<Group> groups_;
  std::unordered_map<uint16_t, std::size_t> group_of_class_;
  std::unordered_map<uint16_t, uint64_t> next_id_;  // one above the highest id each class has had
  // Entries by a hash of class type and name, removed ones left out. A
  // lookup compares the entries' own keys, which tells apart two names of
  // one hash; no name is copied into the table.
  std::unordered_multimap<uint64_t, uint32_t> by_name_;
  std::size_t live_ = 0;
};

}  // namespace lumivex
