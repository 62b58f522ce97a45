#pragma once

// Conversions between C++ values and Python objects, argument parsing with
// the module's messages, and the one mapping of core errors to exceptions.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "core/error.h"
#include "core/uoid.h"
#include "python/py_class.h"
#include "resource/prp/stream.h"

namespace lumivex::py {

inline PyObject* to_py(bool v) { return PyBool_FromLong(v); }
inline PyObject* to_py(float v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(const std::string& v) { return new_str(v); }
template <class I>
  requires std::is_integral_v<I> && (!std::is_same_v<I, bool>)
PyObject* to_py(I v) {
  if constexpr (std::is_signed_v<I>)
    return PyLong_FromLongLong(v);
  else
    return PyLong_FromUnsignedLongLong(v);
}
PyObject* to_py(std::span<const uint8_t> bytes);
// Records shown through a class of their own opt in, so that lists of them
// convert like any other value.
template <class T>
inline constexpr bool is_view_record = false;
template <class T>
  requires is_view_record<T>
PyObject* to_py(const T& value) {
  return make<T>(value);
}
template <class T>
PyObject* to_py(const std::optional<T>& v) {
  if (!v) Py_RETURN_NONE;
  return to_py(*v);
}
template <class Range>
PyObject* to_py_list(const Range& items) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(std::size(items)));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    PyObject* element = to_py(item);
    if (!element) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, i++, element);
  }
  return list;
}
template <class T>
PyObject* to_py(const std::vector<T>& v) {
  return to_py_list(v);
}
template <class T, std::size_t N>
PyObject* to_py(const std::array<T, N>& v) {
  return to_py_list(v);
}

// A property getter that shows one member of the record as it is.
template <class C, class V>
C record_of(V C::*);
template <auto Member>
PyObject* member(const decltype(record_of(Member))& record) {
  return to_py(record.*Member);
}

// Located strings shown from a decoded view's bytes: absent as None, or as ""
// where the view shows no None.
inline std::string text_or_empty(const std::optional<StoredString>& text, std::span<const uint8_t> bytes) {
  return text ? text->text(bytes) : std::string();
}
// A key reference shown by its name.
inline std::string text_or_empty(const std::optional<Uoid>& key, std::span<const uint8_t> bytes) {
  return key ? key->name.text(bytes) : std::string();
}
template <class V>
PyObject* located_to_py(const V& value, std::span<const uint8_t> bytes) {
  if constexpr (std::is_same_v<V, StoredString>) {
    return new_str(value.text(bytes));
  } else if constexpr (std::is_same_v<V, std::optional<StoredString>>) {
    if (!value) Py_RETURN_NONE;
    return new_str(value->text(bytes));
  } else {
    return to_py(value);
  }
}
// The getter of one member of a decoded view's record.
template <auto Member>
PyObject* field(const Decoded<decltype(record_of(Member))>& view) {
  return located_to_py(view.record.*Member, view.bytes);
}
template <auto Member>
PyObject* text_field(const Decoded<decltype(record_of(Member))>& view) {
  return new_str(text_or_empty(view.record.*Member, view.bytes));
}

// Argument parsing: each converter sets a TypeError or OverflowError naming
// the function and the argument, and returns false, when it refuses.
bool parse_args(PyObject* args, PyObject* kwargs, const char* function, std::initializer_list<const char*> names,
                std::initializer_list<PyObject**> values);
bool arg_str(PyObject* object, const char* function, const char* name, std::string& out);
bool arg_u16(PyObject* object, const char* function, const char* name, uint16_t& out);
bool arg_u32(PyObject* object, const char* function, const char* name, uint32_t& out);
bool arg_bytes(PyObject* object, const char* function, const char* name, std::span<const uint8_t>& out);

// Raises exception_type with the error's visible text, whole even where it
// holds a NUL.
void set_error(PyObject* exception_type, const Error& error);

// Runs body; a core Error becomes exception_type with the error's visible
// text (never its cause), memory exhaustion becomes MemoryError.
template <class Body>
PyObject* guarded(PyObject* exception_type, Body&& body) {
  try {
    return body();
  } catch (const Error& e) {
    set_error(exception_type, e);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  }
  return nullptr;
}

}  // namespace lumivex::py
