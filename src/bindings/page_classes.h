#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bindings/convert.h"
#include "bindings/key_class.h"
#include "resource/prp/page.h"

namespace lumivex::py {

// The page's keys ordered by their fields, the displayed name first, built
// the first time a key or a name is looked up: each lookup is then a binary
// search rather than a walk over the page.
class KeyOrder {
 public:
  // The positions of the keys whose name shows as name, in index order.
  std::vector<std::size_t> named(const PrpPage& page, std::string_view name) const;
  // The position of the first key whose fields are all those of key.
  std::optional<std::size_t> find(const PrpPage& page, const KeyValue& key) const;

 private:
  const std::vector<uint32_t>& order(const PrpPage& page) const;

  mutable std::once_flag built_;
  mutable std::vector<std::string> names_;  // each key's name as shown, by position
  mutable std::vector<uint32_t> order_;     // positions, ordered by name and then by the key's other fields
};

// The values behind PrpFile, PrpObject and ObjectIterator: each holds a
// counted reference to the page, which lives until the last of them goes. An
// object and an iterator also hold the PrpFile they came from.
struct PrpFileValue {
  std::shared_ptr<const PrpPage> page;
  std::unique_ptr<KeyOrder> key_order = std::make_unique<KeyOrder>();
};
template <>
inline constexpr bool takes_weak_references<PrpFileValue> = true;
struct PrpObjectValue {
  std::shared_ptr<const PrpPage> page;
  const ObjectKey* key;  // points into page, which never changes
  Ref file;
};
struct ObjectIteratorValue {
  std::shared_ptr<const PrpPage> page;
  std::size_t index = 0;
  Ref file;
};

template <>
const ClassDef<PrpFileValue>& class_def<PrpFileValue>();
template <>
const ClassDef<PageHeader>& class_def<PageHeader>();
template <>
const ClassDef<PrpObjectValue>& class_def<PrpObjectValue>();
template <>
const ClassDef<ObjectIteratorValue>& class_def<ObjectIteratorValue>();

// A new PrpObject for the key at index of file, a PrpFile.
PyObject* object_at(PyObject* file, std::size_t index);

// Raises OSError "Object data not found".
[[noreturn]] void object_data_not_found();

}  // namespace lumivex::py
