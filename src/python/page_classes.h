#pragma once

#include <memory>
#include <span>

#include "python/convert.h"
#include "resource/prp/page.h"

namespace lumivex::py {

// The values behind PrpFile, PrpObject and ObjectIterator: each holds a
// counted reference to the page, which lives until the last of them goes.
struct PageHandle {
  std::shared_ptr<const PrpPage> page;
};
struct ObjectRef {
  std::shared_ptr<const PrpPage> page;
  const ObjectKey* key;  // points into page, which never changes
};
struct ObjectCursor {
  std::shared_ptr<const PrpPage> page;
  std::size_t index = 0;
};

template <>
const ClassDef<PageHandle>& class_def<PageHandle>();
template <>
const ClassDef<PageHeader>& class_def<PageHeader>();
template <>
const ClassDef<ObjectRef>& class_def<ObjectRef>();
template <>
const ClassDef<ObjectCursor>& class_def<ObjectCursor>();

// Raises OSError "Object data not found".
[[noreturn]] void object_data_not_found();

// The frame shared by the as_* methods: range test, then the decoder over
// exactly the object's bytes, then a new view of what it returned. A decoder
// failure is a ValueError and leaves the object as it was.
template <class Record, Record (*Decode)(std::span<const uint8_t>)>
PyObject* decode_as(PyObject* self) {
  const ObjectRef& object = unbox<ObjectRef>(self);
  const auto bytes = object.page->object_data(*object.key);
  if (!bytes) object_data_not_found();
  return make_decoded(state_of(self), Decode(*bytes), *bytes);
}

}  // namespace lumivex::py
