#pragma once

#include <cstdint>
#include <string>

#include "bindings/convert.h"
#include "core/key.h"
#include "resource/prp/object_key.h"
#include "resource/prp/page.h"

namespace lumivex::py {

// The value behind Key: a key of the core, a key reference on its own with
// its name as stored, which edits take as it is.
struct KeyValue : BuiltKey {};

template <>
inline constexpr bool takes_weak_references<KeyValue> = true;
template <>
const ClassDef<KeyValue>& class_def<KeyValue>();

// A reference read from an object's bytes, and a page's own key.
KeyValue key_value(const Uoid& key, const Source& source);
KeyValue key_value(const ObjectKey& key, const PrpPage& page);
KeyValue key_value(const Uoid& key, std::string name_bytes);

// A new Key of a key of the core.
PyObject* new_key(const ModuleState& state, const BuiltKey& key);

// A new Key, or None for an absent reference.
PyObject* key_or_none(const std::optional<Uoid>& key, const Source& source, const ModuleState& state);
PyObject* key_or_none(const StoredKey& key, const Source& source, const ModuleState& state);
// A list of the present references of list, as Keys.
PyObject* present_keys(const KeyList& list, const Source& source, const ModuleState& state);

// The getter of a decoded view's key reference as a Key, None when absent.
template <auto Member>
PyObject* decoded_key(const Decoded<decltype(record_of(Member))>& view, const ModuleState& state) {
  return key_or_none(view.record.*Member, view.source, state);
}
// The getter of the present references of a decoded view's key list, as Keys.
template <auto Member>
PyObject* decoded_keys(const Decoded<decltype(record_of(Member))>& view, const ModuleState& state) {
  return present_keys(view.record.*Member, view.source, state);
}

}  // namespace lumivex::py
