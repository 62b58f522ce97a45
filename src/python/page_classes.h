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

}  // namespace lumivex::py
