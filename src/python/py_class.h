#pragma once

// The one mechanism behind every Python class of the module: an instance is a
// Python object header followed by one C++ value, and a class is described by
// a ClassDef listing its read-only properties, methods, repr and extra slots.
// A decoded view's value is a Decoded record, whose instance also holds a copy
// of the object's bytes, right after the value in the same allocation.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace lumivex::py {

template <class T>
struct Box {
  PyObject_VAR_HEAD T value;
};

// A record that locates its strings and lists in the object's bytes, and the
// view's own copy of those bytes.
template <class Record>
struct Decoded {
  Record record;
  std::span<const uint8_t> bytes;
};

template <class T>
inline constexpr bool is_decoded = false;
template <class Record>
inline constexpr bool is_decoded<Decoded<Record>> = true;

template <class T>
struct Property {
  const char* name;
  PyObject* (*get)(const T&);
  const char* doc = nullptr;
};

template <class T>
struct ClassDef {
  const char* qualified_name;  // "lumivex.Name"
  const char* doc = nullptr;
  std::vector<Property<T>> properties = {};
  std::vector<PyMethodDef> methods = {};
  std::string (*repr)(const T&) = nullptr;
  // Further slots (len, iter, next, a constructor); without Py_tp_new the
  // class refuses construction from Python.
  std::vector<PyType_Slot> slots = {};
};

// The type object of each value type, set when the module creates it.
template <class T>
inline PyTypeObject* type_object = nullptr;

template <class T>
T& unbox(PyObject* self) {
  return reinterpret_cast<Box<T>*>(self)->value;
}

// A new instance of T's class holding value.
template <class T>
PyObject* make(T value) {
  PyTypeObject* type = type_object<T>;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  new (&unbox<T>(self)) T(std::move(value));
  return self;
}

// A new view of record, holding a copy of the object's bytes it was decoded
// from: one allocation, as for a bytes object.
template <class Record>
PyObject* make_decoded(Record record, std::span<const uint8_t> object_bytes) {
  using T = Decoded<Record>;
  auto* self = static_cast<PyVarObject*>(PyObject_Malloc(sizeof(Box<T>) + object_bytes.size()));
  if (!self) return PyErr_NoMemory();
  PyObject_InitVar(self, type_object<T>, static_cast<Py_ssize_t>(object_bytes.size()));
  uint8_t* copy = reinterpret_cast<uint8_t*>(self) + sizeof(Box<T>);
  if (!object_bytes.empty()) std::memcpy(copy, object_bytes.data(), object_bytes.size());
  new (&unbox<T>(reinterpret_cast<PyObject*>(self))) T{std::move(record), {copy, object_bytes.size()}};
  return reinterpret_cast<PyObject*>(self);
}

// A method of any C signature, as the method table stores it.
template <class F>
PyCFunction function(F* f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);
PyObject* new_str(const std::string& text);

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  unbox<T>(self).~T();
  type->tp_free(self);
  Py_DECREF(type);
}

template <class T>
PyObject* get_property(PyObject* self, void* closure) {
  // A getter may build C++ values on the way; running out of memory there
  // must become MemoryError, never escape into the interpreter.
  try {
    return static_cast<const Property<T>*>(closure)->get(unbox<T>(self));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

template <class T>
inline const ClassDef<T>* class_def = nullptr;

template <class T>
PyObject* repr_slot(PyObject* self) {
  try {
    return new_str(class_def<T>->repr(unbox<T>(self)));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// Creates T's class from its definition, which must outlive the module.
template <class T>
PyTypeObject* create_type(const ClassDef<T>& def) {
  class_def<T> = &def;
  auto* getset = new PyGetSetDef[def.properties.size() + 1]();
  for (std::size_t i = 0; i < def.properties.size(); ++i) {
    const Property<T>& p = def.properties[i];
    getset[i] = {p.name, get_property<T>, nullptr, p.doc, const_cast<Property<T>*>(&p)};
  }
  auto* methods = new PyMethodDef[def.methods.size() + 1]();
  for (std::size_t i = 0; i < def.methods.size(); ++i) methods[i] = def.methods[i];

  std::vector<PyType_Slot> slots = {
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<T>)},
      {Py_tp_getset, getset},
      {Py_tp_methods, methods},
  };
  if (def.doc) slots.push_back({Py_tp_doc, const_cast<char*>(def.doc)});
  if (def.repr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_slot<T>)});
  bool has_new = false;
  for (const PyType_Slot& slot : def.slots) {
    has_new = has_new || slot.slot == Py_tp_new;
    slots.push_back(slot);
  }
  if (!has_new) slots.push_back({Py_tp_new, reinterpret_cast<void*>(no_constructor)});
  slots.push_back({0, nullptr});

  static_assert(sizeof(Box<T>) <= static_cast<std::size_t>(PY_SSIZE_T_MAX));
  // A decoded view's size counts its copy of the bytes, one byte per item.
  PyType_Spec spec = {def.qualified_name, static_cast<int>(sizeof(Box<T>)), is_decoded<T> ? 1 : 0, Py_TPFLAGS_DEFAULT,
                      slots.data()};
  auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  type_object<T> = type;
  return type;
}

}  // namespace lumivex::py
