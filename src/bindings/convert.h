#pragma once

// Conversions between C++ values and Python objects, and argument parsing
// with the module's messages. A conversion that fails leaves its Python
// exception set and throws PythonError, so that the boundary returns it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/py_class.h"
#include "core/file.h"
#include "core/key.h"
#include "core/stream.h"

namespace lumivex::py {

// An owned reference, released when it goes.
class Ref {
 public:
  Ref() = default;
  // Takes a new reference; nullptr means a Python exception is set.
  static Ref checked(PyObject* object) {
    if (!object) throw PythonError{};
    return Ref(object);
  }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

inline PyObject* checked(PyObject* object) {
  if (!object) throw PythonError{};
  return object;
}

inline PyObject* to_py(bool v) { return PyBool_FromLong(v); }
inline PyObject* to_py(float v) { return checked(PyFloat_FromDouble(v)); }
inline PyObject* to_py(double v) { return checked(PyFloat_FromDouble(v)); }
inline PyObject* to_py(const std::string& v) { return new_str(v); }
inline PyObject* to_py(std::string_view v) { return new_str(v); }
template <class I>
  requires std::is_integral_v<I> && (!std::is_same_v<I, bool>)
PyObject* to_py(I v) {
  if constexpr (std::is_signed_v<I>)
    return checked(PyLong_FromLongLong(v));
  else
    return checked(PyLong_FromUnsignedLongLong(v));
}
PyObject* to_py(std::span<const uint8_t> bytes);
template <class T>
PyObject* to_py(const std::optional<T>& v) {
  if (!v) Py_RETURN_NONE;
  return to_py(*v);
}
// A new list of each item converted by convert.
template <class Range, class Convert>
PyObject* to_py_list(const Range& items, Convert&& convert) {
  Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  Py_ssize_t i = 0;
  for (const auto& item : items) PyList_SET_ITEM(list.get(), i++, convert(item));
  return list.release();
}
template <class T>
PyObject* to_py(const std::vector<T>& v) {
  return to_py_list(v, [](const T& item) { return to_py(item); });
}
template <class T, std::size_t N>
PyObject* to_py(const std::array<T, N>& v) {
  return to_py_list(v, [](const T& item) { return to_py(item); });
}
// Instances of a class of the module, one per record.
template <class T>
PyObject* to_py_views(const std::vector<T>& records, const ModuleState& state) {
  return to_py_list(records, [&](const T& record) { return make<T>(state, record); });
}

// A part of another instance of the module, read from it in place when
// asked: it keeps that instance alive, which makes it as small as a Python
// object can be, so that a list of a million parts copies nothing. The place
// says which part: an index, or where the part lies when it never moves.
template <class Owner, class Place = std::size_t>
class PartOf {
 public:
  PartOf(PyObject* owner, Place place) : owner_(Py_NewRef(owner)), place_(place) {}
  PartOf(const PartOf&) = delete;
  PartOf& operator=(const PartOf&) = delete;
  ~PartOf() { Py_DECREF(owner_); }

  const Owner& owner() const { return unbox<Owner>(owner_); }
  Place place() const { return place_; }

 private:
  PyObject* owner_;
  Place place_;
};

// A new list of the first count parts of owner, an instance of Owner's
// class, by index.
template <class Owner>
PyObject* parts_of(PyObject* owner, std::size_t count) {
  const ModuleState& state = state_of(owner);
  Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(count)));
  for (std::size_t i = 0; i < count; ++i)
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make<PartOf<Owner>>(state, owner, i));
  return list.release();
}

// The getter of a property that shows one member of a plain record as it is.
template <class C, class V>
C record_of(V C::*);
template <auto Member>
PyObject* record_value(const decltype(record_of(Member))& record) {
  return to_py(record.*Member);
}

// Located strings shown from a decoded view's bytes: absent as None, or as ""
// where the view shows no None.
inline std::string text_or_empty(const std::optional<StoredString>& text, const Source& source) {
  return text ? source.text(*text) : std::string();
}
// A key reference shown by its name.
inline std::string text_or_empty(const std::optional<Uoid>& key, const Source& source) {
  return key ? source.text(key->name) : std::string();
}
inline std::string text_or_empty(const StoredKey& key, const Source& source) {
  return key ? source.text(read_key(source, key).name) : std::string();
}
template <class V>
PyObject* located_to_py(const V& value, const Source& source) {
  if constexpr (std::is_same_v<V, StoredString>) {
    return text_object(source, value);
  } else if constexpr (std::is_same_v<V, std::optional<StoredString>>) {
    if (!value) Py_RETURN_NONE;
    return text_object(source, *value);
  } else if constexpr (std::is_same_v<V, std::optional<Uoid>>) {
    if (!value) Py_RETURN_NONE;
    return text_object(source, value->name);
  } else if constexpr (std::is_same_v<V, StoredKey>) {
    if (!value) Py_RETURN_NONE;
    return text_object(source, read_key(source, value).name);
  } else {
    return to_py(value);
  }
}
// The getter of one member of a decoded view's record: a located string or a
// key reference's name read back as text, None when absent; any other value
// as it is.
template <auto Member>
PyObject* decoded_value(const Decoded<decltype(record_of(Member))>& view) {
  return located_to_py(view.record.*Member, view.source);
}
// The getter of a decoded view's located name, or of a key reference's name:
// "" when absent, never None.
template <auto Member>
PyObject* decoded_name_or_empty(const Decoded<decltype(record_of(Member))>& view) {
  const auto& name = view.record.*Member;
  return name ? located_to_py(name, view.source) : new_str("");
}

// The getter of the names of a decoded view's key list: its present
// references, in stored order.
template <auto Member>
PyObject* decoded_names(const Decoded<decltype(record_of(Member))>& view) {
  return to_py_list((view.record.*Member).present_stored_names(view.source),
                    [&](const StoredString& name) { return text_object(view.source, name); });
}

// Raises KeyError for key, whatever it is (a tuple or None included).
[[noreturn]] void raise_key_error(PyObject* key);

// Argument parsing: each refuses with a TypeError or OverflowError naming the
// function and the argument, set and thrown as PythonError. Arguments after
// the first `required` may be left out, their values then nullptr.
void parse_args(PyObject* args, PyObject* kwargs, const char* function, std::initializer_list<const char*> names,
                std::initializer_list<PyObject**> values, std::size_t required = SIZE_MAX);
std::string arg_str(PyObject* object, const char* function, const char* name);
uint16_t arg_u16(PyObject* object, const char* function, const char* name);
uint32_t arg_u32(PyObject* object, const char* function, const char* name);
std::span<const uint8_t> arg_bytes(PyObject* object, const char* function, const char* name);

// An object with the buffer protocol, its bytes held until this goes; any
// other object is a TypeError saying it must be `expected`.
class BufferArg {
 public:
  BufferArg(PyObject* object, const char* function, const char* name, const char* expected = "a bytes-like object");
  BufferArg(const BufferArg&) = delete;
  BufferArg& operator=(const BufferArg&) = delete;
  ~BufferArg() { PyBuffer_Release(&view_); }

  ByteBuffer copy() const { return ByteBuffer(view_.buf, static_cast<std::size_t>(view_.len)); }
  std::span<const uint8_t> bytes() const {
    return {static_cast<const uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

// A path given as str, bytes or any os.PathLike: its bytes as os.fsencode
// gives them (the file system's encoding with surrogateescape), and what
// os.fspath gives, which failures report as their filename.
struct PathArg {
  std::string bytes;
  Ref shown;
};
PathArg arg_path(PyObject* object, const char* function, const char* name);
// The rule of the loaders that take a regular file only: inside the folder
// the argument inside names, where it is given and not None.
FileRule regular_file_rule(PyObject* inside, const char* function);

// Runs a file operation; a core Error becomes the exception for a failed
// file operation on path, and throws PythonError.
template <class Work>
auto on_file(const ModuleState& state, const PathArg& path, Work&& work) -> decltype(work()) {
  try {
    return work();
  } catch (const Error& error) {
    raise_error(error, Failure::File, &state, path.shown.get());
    throw PythonError{};
  }
}

}  // namespace lumivex::py
