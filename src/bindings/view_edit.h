#pragma once

// A view's bytes and new views made from it with some properties changed:
// the methods to_bytes, replace and __replace__ of every view. Each view's
// file lists the properties replace() sets (settable_properties); the core
// stores the new values over just those fields' bytes (record_edit.h).

#include <array>
#include <cstddef>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "bindings/key_class.h"
#include "resource/prp/record_edit.h"

namespace lumivex::py {

// The Python value a settable property takes.
enum class Takes : uint8_t {
  U8,         // an int from 0 to 255
  U32,        // an int from 0 to 2**32 - 1
  Float,      // a float (or int) a 32-bit float holds
  Bool,       // a bool
  Color,      // four floats: red, green, blue, alpha
  Text,       // a str
  KeyOrNone,  // a Key, or None for no reference
  Keys,       // a list of Keys
  Params,     // a list of PythonParams
};

struct Settable {
  std::string_view property;  // as the view shows it, and as the decoder marks its field; from a literal
  Takes takes;
};

// The properties replace() sets on the view of Record, in the order the
// view shows them; defined in the view's own file.
template <class Record>
const std::vector<Settable>& settable_properties();

// value as the core stores it, checked as the property takes it: a wrong
// type is a TypeError, a number out of range an OverflowError, a list of the
// wrong length a ValueError, each naming function and property.
FieldValue field_value(PyObject* value, const Settable& settable, const char* function, const ModuleState& state);

// A PythonParam as it is to be stored; a TypeError naming function and
// property for any other object. Defined beside PythonParam.
ParamSetting param_setting(PyObject* param, const char* function, const char* property, const ModuleState& state);

// Refuses a keyword replace() does not take: a property the view shows but
// cannot set, or no property at all; a TypeError naming it.
[[noreturn]] void refuse_change(PyObject* self, PyObject* name, const char* function);

// Whether the view shows value for a property that is not a float, name
// being its name. Where the object does not store the field (a responder
// whose decoding stopped before its trailer), such a value is no change.
// Floats differ by their bits, which equality does not see.
bool shows(PyObject* self, const Settable& settable, PyObject* name, PyObject* value);

// The changes a call to replace() asks for, checked, appended to changes; it
// takes keywords only, their names in kwnames and their values after the
// positional arguments.
template <class Record>
void request_changes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* function,
                     const FieldMarks& marks, std::pmr::vector<FieldChange>& changes) {
  if (nargs != 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no positional arguments", function);
    throw PythonError{};
  }
  if (!kwnames) return;
  const ModuleState& state = state_of(self);
  const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
  changes.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, i);
    PyObject* value = args[i];
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    // A name UTF-8 cannot hold (a lone surrogate) is no property's.
    if (!utf8) PyErr_Clear();
    const Settable* found = nullptr;
    for (const Settable& settable : settable_properties<Record>()) {
      if (utf8 && same_field(settable.property, std::string_view(utf8, static_cast<std::size_t>(size)))) {
        found = &settable;
        break;
      }
    }
    if (!found) refuse_change(self, name, function);
    FieldValue field = field_value(value, *found, function, state);
    if (!marks.find(found->property) && shows(self, *found, name, value)) continue;
    changes.push_back({found->property, std::move(field)});
  }
}

// A view's class, the engine class its decoder is for, and its bytes.
struct ViewOf {
  const char* view;
  uint16_t class_type;
  std::span<const uint8_t> bytes;
};
// That of object when it is a view of this module, else nothing.
inline std::optional<ViewOf> view_of(PyObject* object, const ModuleState& state) {
  std::optional<ViewOf> found;
  for_each_decoder([&](const auto& row, auto index) {
    using Record = typename std::tuple_element_t<decltype(index)::value, decltype(kDecoders)>::RecordType;
    if (Py_TYPE(object) == state.type(view_type_id<Record>()))
      found = ViewOf{row.view, row.class_type, view_bytes<Record>(object)};
  });
  return found;
}

template <class Record>
PyObject* view_to_bytes(PyObject* self) {
  return view_bytes_object<Record>(self);
}

template <class Record>
PyObject* replace_view(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const auto& row = std::get<decoder_index<Record>()>(kDecoders);
  static const std::string function = std::string(row.view) + ".replace";
  const std::span<const uint8_t> bytes = view_bytes<Record>(self);
  // Nothing to change: the same bytes, and the record read from them.
  const auto unchanged = [&] {
    return make_decoded<Record>(state_of(self), bytes, [&] { return unbox<Decoded<Record>>(self).record; });
  };
  if (nargs == 0 && !kwnames) return unchanged();
  FieldMarks marks;
  row.locate(bytes, marks);
  // A call's few changes are kept on the stack.
  alignas(FieldChange) std::array<std::byte, 4 * sizeof(FieldChange)> change_memory;
  std::pmr::monotonic_buffer_resource change_resource(change_memory.data(), change_memory.size());
  std::pmr::vector<FieldChange> changes(&change_resource);
  request_changes<Record>(self, args, nargs, kwnames, function.c_str(), marks, changes);
  if (changes.empty()) return unchanged();
  const ChangedBytes changed(bytes, marks, changes);
  if (changed.unchanged()) return unchanged();
  return make_written<Record>(state_of(self), changed.size(), [&](uint8_t* out) { changed.write_to(out); });
}

template <class Record>
std::vector<PyMethodDef> encoding_methods() {
  static const std::string replace_doc = [] {
    std::string doc = "replace($self, /";
    if (!settable_properties<Record>().empty()) doc += ", *";
    for (const Settable& settable : settable_properties<Record>())
      doc += ", " + std::string(settable.property) + "=...";
    return doc +
           ")\n--\n\nA new view with the given properties changed and every other byte of the object as it was. "
           "A value equal to the one shown keeps its stored bytes.";
  }();
  return {
      method<view_to_bytes<Record>>("to_bytes",
                                    "to_bytes($self, /)\n--\n\nThe object's bytes, as the view was decoded from or "
                                    "replace() made them."),
      method<replace_view<Record>>("replace", replace_doc.c_str()),
      method<replace_view<Record>>("__replace__", replace_doc.c_str()),
  };
}

}  // namespace lumivex::py
