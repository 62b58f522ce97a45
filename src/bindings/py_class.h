#pragma once

// The one mechanism behind every Python class of the module: an instance is a
// Python object header followed by one C++ value, and a class is described by
// a ClassDef listing its read-only properties, methods, repr, equality and
// extra slots. The classes are created per module and kept in its state.
// Every entry point from Python runs inside boundary(), the one place where
// C++ exceptions become Python exceptions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <initializer_list>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/file.h"
#include "core/stream.h"
#include "resource/prp/decoders.h"

namespace lumivex::py {

#if PY_VERSION_HEX >= 0x030C0000
inline constexpr int kSizeMember = Py_T_PYSSIZET;
inline constexpr int kReadOnlyMember = Py_READONLY;
#else
inline constexpr int kSizeMember = T_PYSSIZET;
inline constexpr int kReadOnlyMember = READONLY;
#endif

// Where the module's state keeps each class: the classes of their own, then
// one view class per decoder, in the order of the decoders.
enum class TypeId : uint8_t {
  PrpFile,
  PrpObject,
  PageHeaderInfo,
  ObjectIterator,
  PythonParam,
  AgeFile,
  PageEntry,
  SdlFile,
  SdlDescriptor,
  SdlVariable,
  Key,
  SdlNames,
  SdlNameIterator,
  PageBuilder,
  FirstView,
};
inline constexpr std::size_t kTypeCount = static_cast<std::size_t>(TypeId::FirstView) + kDecoderCount;

template <class Record>
constexpr TypeId view_type_id() {
  static_assert(decoder_index<Record>() < kDecoderCount, "not the record of a decoder");
  return static_cast<TypeId>(static_cast<std::size_t>(TypeId::FirstView) + decoder_index<Record>());
}

struct ModuleState {
  std::array<PyTypeObject*, kTypeCount> types{};
  // The module's own subclass of each built-in OSError class it has raised,
  // keyed by that class: the same errno, strerror and filename, but str()
  // gives the module's message.
  PyObject* os_error_classes = nullptr;
  // The named tuple of the lints' problems.
  PyObject* lint_problem_class = nullptr;

  PyTypeObject* type(TypeId id) const { return types[static_cast<std::size_t>(id)]; }
};

// The state of the module that created type (any class of this module).
inline ModuleState& state_of(PyTypeObject* type) { return *static_cast<ModuleState*>(PyType_GetModuleState(type)); }
inline ModuleState& state_of(PyObject* self) { return state_of(Py_TYPE(self)); }
inline ModuleState& module_state(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }
// The state of the calling interpreter's instance of the module, as found by
// a static method, which Python hands no class and no module.
ModuleState& static_method_state();

// A Python exception is already set; the boundary returns the failure.
struct PythonError {};

// What a core Error that is not the system's becomes: bad data is a
// ValueError; a file operation's failure is an OSError.
enum class Failure { Data, File };

// Raises the Python exception for error: the module's subclass of the
// matching OSError class, with errno, strerror and filename (when given) set,
// where the operating system failed; else ValueError or OSError as failure
// says. The message is the error's visible text, its causes are chained as
// __cause__.
void raise_error(const Error& error, Failure failure, const ModuleState* state = nullptr, PyObject* filename = nullptr);

// Creates the module's OSError classes, adds them to module and returns the
// mapping from each built-in class to the module's own.
PyObject* add_os_error_classes(PyObject* module);

template <class R>
R failed_value() {
  if constexpr (std::is_pointer_v<R>)
    return nullptr;
  else
    return -1;
}

// Runs body and returns what it returns; any C++ exception becomes a Python
// exception and the failure value of body's result type (nullptr or -1).
template <class Body>
auto boundary(Failure failure, Body&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const PythonError&) {
  } catch (const Error& error) {
    raise_error(error, failure);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_Format(PyExc_SystemError, "lumivex internal error: %s", error.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "lumivex internal error");
  }
  return failed_value<decltype(body())>();
}

// Runs work with the interpreter lock released, handing it the interrupt
// check: that takes the lock back for a moment to run Python's signal
// handlers, and throws PythonError when one raised (KeyboardInterrupt).
// work must not touch any Python object.
template <class Work>
auto without_gil(Work&& work) -> decltype(work(std::declval<const InterruptCheck&>())) {
  struct Released {
    PyThreadState* thread = PyEval_SaveThread();
    ~Released() { PyEval_RestoreThread(thread); }
  } released;
  const InterruptCheck interrupt = [&released] {
    PyEval_RestoreThread(released.thread);
    const int failed = PyErr_CheckSignals();
    released.thread = PyEval_SaveThread();
    if (failed) throw PythonError{};
  };
  return work(interrupt);
}

template <class T>
inline constexpr bool is_decoded = false;
template <class Record>
inline constexpr bool is_decoded<Decoded<Record>> = true;

// Classes whose instances take weak references: decoded views, and the
// classes that say so beside their definition.
template <class T>
inline constexpr bool takes_weak_references = is_decoded<T>;

// An instance: a decoded view counts its copy of the object's bytes as its
// items, every other class has none and no item count. The list of weak
// references, where a class takes them, comes right after the header.
template <class T>
struct FixedBox {
  PyObject_HEAD T value;
};
template <class T>
struct WeakFixedBox {
  PyObject_HEAD PyObject* weak_references;
  T value;
};
template <class T>
struct VarBox {
  PyObject_VAR_HEAD PyObject* weak_references;
  T value;
};
template <class T>
using Box = std::conditional_t<is_decoded<T>, VarBox<T>,
                               std::conditional_t<takes_weak_references<T>, WeakFixedBox<T>, FixedBox<T>>>;

template <class T>
T& unbox(PyObject* self) {
  return reinterpret_cast<Box<T>*>(self)->value;
}

// A read-only property: its getter sees the value, or the value and the
// module's state when it makes objects of the module's classes, or the
// instance itself when what it makes keeps the instance alive.
template <class T>
struct Property {
  using Get = PyObject* (*)(const T&);
  using GetInModule = PyObject* (*)(const T&, const ModuleState&);
  using GetOfInstance = PyObject* (*)(PyObject*);

  Property(const char* name, Get get, const char* doc) : name(name), get(get), doc(doc) {}
  Property(const char* name, GetInModule get, const char* doc) : name(name), get_in_module(get), doc(doc) {}
  Property(const char* name, GetOfInstance get, const char* doc) : name(name), get_of_instance(get), doc(doc) {}

  const char* name;
  Get get = nullptr;
  GetInModule get_in_module = nullptr;
  GetOfInstance get_of_instance = nullptr;
  const char* doc;
};

using TypeCreator = PyTypeObject* (*)(PyObject* module);

// A class made and added to the module right after the class that shows it,
// as a view's parameters after the view.
struct NestedClass {
  const char* name;
  TypeId id;
  TypeCreator create;
};

template <class T>
struct ClassDef {
  TypeId id;
  const char* qualified_name;  // "lumivex.Name"
  const char* doc = nullptr;
  std::vector<Property<T>> properties = {};
  std::vector<PyMethodDef> methods = {};
  std::string (*repr)(const T&) = nullptr;
  // Value equality; without it, instances are equal only to themselves.
  bool (*equal)(const T&, const T&) = nullptr;
  std::size_t (*hash)(const T&) = nullptr;
  // Further slots (len, iter, next, a constructor); without Py_tp_new the
  // class refuses construction from Python.
  std::vector<PyType_Slot> slots = {};
  std::vector<NestedClass> nested = {};
  // An immutable value: copy.copy and copy.deepcopy give the instance
  // itself, as they give a tuple or a str, where a copy made through its
  // pickled form would copy a whole page; pickling still makes a new one.
  // Decoded views always do.
  bool copies_as_itself = false;
};

// A hash of values for the hash slot: texts and numbers mixed in turn.
inline std::size_t hash_of(std::initializer_list<std::string_view> texts, std::initializer_list<uint64_t> numbers) {
  std::size_t hash = 0;
  for (const std::string_view text : texts) hash = hash * 1000003 ^ std::hash<std::string_view>()(text);
  for (const uint64_t number : numbers) hash = hash * 1000003 ^ std::hash<uint64_t>()(number);
  return hash;
}

// Each class's definition, made once and never changed; defined beside the
// class's other code.
template <class T>
const ClassDef<T>& class_def();

// The creator of each decoder's view class and the classes nested in it, by
// decoder; each view's own file fills its entry while the module's code is
// loaded, before any module is made.
struct ViewClass {
  TypeCreator create = nullptr;
  const std::vector<NestedClass>* nested = nullptr;
};
std::array<ViewClass, kDecoderCount>& view_classes();

// A new instance of T's class holding value.
template <class T, class... Args>
PyObject* make(const ModuleState& state, Args&&... args) {
  PyTypeObject* type = state.type(class_def<T>().id);
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) throw PythonError{};
  try {
    new (&unbox<T>(self)) T(std::forward<Args>(args)...);
  } catch (...) {
    type->tp_free(self);
    Py_DECREF(type);
    throw;
  }
  return self;
}

// The memory of a view of size bytes: one allocation, as for a bytes object.
template <class Record>
PyVarObject* view_memory(std::size_t size) {
  auto* self = static_cast<PyVarObject*>(PyObject_Malloc(sizeof(Box<Decoded<Record>>) + size));
  if (!self) throw std::bad_alloc();
  return self;
}
// Where the view's bytes lie in its memory.
template <class Record>
uint8_t* view_memory_bytes(PyVarObject* self) {
  return reinterpret_cast<uint8_t*>(self) + sizeof(Box<Decoded<Record>>);
}
// Makes memory, its size bytes written, the view of the record
// make_record() returns, copied once into place: a decoder writes its record
// field by field, and every copy reads those fields back as wide loads that
// wait on the narrow stores. Frees memory if make_record throws.
template <class Record, class MakeRecord>
PyObject* init_view(const ModuleState& state, PyVarObject* memory, std::size_t size, MakeRecord&& make_record) {
  auto* self = reinterpret_cast<PyObject*>(memory);
  try {
    new (&unbox<Decoded<Record>>(self))
        Decoded<Record>{make_record(), Source({view_memory_bytes<Record>(memory), size})};
  } catch (...) {
    PyObject_Free(memory);
    throw;
  }
  PyObject_InitVar(memory, state.type(view_type_id<Record>()), static_cast<Py_ssize_t>(size));
  reinterpret_cast<Box<Decoded<Record>>*>(memory)->weak_references = nullptr;
  return self;
}

// A new view of the object's bytes, holding a copy of them, which the
// located values of the record make_record() decodes are read back from.
template <class Record, class MakeRecord>
PyObject* make_decoded(const ModuleState& state, std::span<const uint8_t> object_bytes, MakeRecord&& make_record) {
  PyVarObject* memory = view_memory<Record>(object_bytes.size());
  if (!object_bytes.empty()) std::memcpy(view_memory_bytes<Record>(memory), object_bytes.data(), object_bytes.size());
  return init_view<Record>(state, memory, object_bytes.size(), make_record);
}

// The view of the object's bytes by its decoder.
template <class Record>
PyObject* decode_view_of(const ModuleState& state, std::span<const uint8_t> object_bytes) {
  return make_decoded<Record>(state, object_bytes,
                              [&] { return std::get<decoder_index<Record>()>(kDecoders).parse(object_bytes); });
}

// A new view of the size bytes write(out) puts in it, decoded where they
// lie: made without a copy of them beside it.
template <class Record, class Write>
PyObject* make_written(const ModuleState& state, std::size_t size, Write&& write) {
  PyVarObject* memory = view_memory<Record>(size);
  uint8_t* bytes = view_memory_bytes<Record>(memory);
  return init_view<Record>(state, memory, size, [&] {
    write(bytes);
    return std::get<decoder_index<Record>()>(kDecoders).parse({bytes, size});
  });
}

// A method of any C signature, as the method table stores it.
template <class F>
PyCFunction function(F* f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// Method table entries whose body runs inside the boundary. Body takes
// (self) for a method without arguments, (self, args, kwargs) otherwise. A
// static method's body receives no self and finds the module's state with
// static_method_state().
template <auto Body, Failure F>
PyObject* call_noargs(PyObject* self, PyObject*) {
  return boundary(F, [&] { return Body(self); });
}
template <auto Body, Failure F>
PyObject* call_args(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary(F, [&] { return Body(self, args, kwargs); });
}
// A method called often with keywords takes them as the call passes them,
// (self, args, nargs, kwnames), with no tuple or dict made for it.
template <auto Body, Failure F>
PyObject* call_fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return boundary(F, [&] { return Body(self, args, nargs, kwnames); });
}
template <auto Body, Failure F = Failure::Data>
PyMethodDef method(const char* name, const char* doc) {
  if constexpr (std::is_invocable_v<decltype(Body), PyObject*>)
    return {name, call_noargs<Body, F>, METH_NOARGS, doc};
  else if constexpr (std::is_invocable_v<decltype(Body), PyObject*, PyObject* const*, Py_ssize_t, PyObject*>)
    return {name, function(call_fast<Body, F>), METH_FASTCALL | METH_KEYWORDS, doc};
  else
    return {name, function(call_args<Body, F>), METH_VARARGS | METH_KEYWORDS, doc};
}
template <auto Body, Failure F = Failure::Data>
PyMethodDef static_method(const char* name, const char* doc) {
  return {name, function(call_args<Body, F>), METH_VARARGS | METH_KEYWORDS | METH_STATIC, doc};
}

// Slots whose body runs inside the boundary.
template <auto Body>
Py_ssize_t length_slot(PyObject* self) {
  return boundary(Failure::Data, [&] { return Body(self); });
}
template <auto Body>
PyObject* object_slot(PyObject* self) {
  return boundary(Failure::Data, [&] { return Body(self); });
}
template <auto Body>
PyObject* binary_slot(PyObject* self, PyObject* other) {
  return boundary(Failure::Data, [&] { return Body(self, other); });
}
template <auto Body>
int contains_slot(PyObject* self, PyObject* item) {
  return boundary(Failure::Data, [&] { return Body(self, item); });
}

// A decoded view pickles and copies as its class's _decode and the object's
// bytes it was decoded from: decoding them again gives an equal view.
// The copy of the object's bytes a view holds.
template <class Record>
std::span<const uint8_t> view_bytes(PyObject* self) {
  return {reinterpret_cast<const uint8_t*>(self) + sizeof(Box<Decoded<Record>>),
          static_cast<std::size_t>(Py_SIZE(self))};
}
template <class Record>
PyObject* view_bytes_object(PyObject* self) {
  const std::span<const uint8_t> bytes = view_bytes<Record>(self);
  PyObject* data =
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size()));
  if (!data) throw PythonError{};
  return data;
}
template <class Record>
PyObject* reduce_view(PyObject* self, PyObject*) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    PyObject* data = view_bytes_object<Record>(self);
    return Py_BuildValue("(N(N))", PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_decode"), data);
  });
}
template <class Record>
PyObject* decode_view(PyObject*, PyObject* data) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    if (!PyBytes_Check(data)) {
      PyErr_Format(PyExc_TypeError, "_decode() argument must be bytes, not %.200s", Py_TYPE(data)->tp_name);
      throw PythonError{};
    }
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(data)),
                                         static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
    return decode_view_of<Record>(static_method_state(), bytes);
  });
}
// The methods that encode a view, to_bytes, replace and __replace__; defined
// in view_edit.h, which every view's file includes.
template <class Record>
std::vector<PyMethodDef> encoding_methods();
// The methods every view has beside its own: pickling and encoding.
template <class T>
inline const std::vector<PyMethodDef> kViewMethods = {};
template <class Record>
inline const std::vector<PyMethodDef> kViewMethods<Decoded<Record>> = [] {
  std::vector<PyMethodDef> methods = {
      {"__reduce__", reduce_view<Record>, METH_NOARGS, nullptr},
      {"_decode", decode_view<Record>, METH_O | METH_STATIC, nullptr},
  };
  for (const PyMethodDef& method : encoding_methods<Record>()) methods.push_back(method);
  return methods;
}();

// __copy__ and __deepcopy__ of a class whose instances copy as themselves.
PyObject* same_instance(PyObject* self, PyObject*);
inline const std::vector<PyMethodDef> kCopiesAsItself = {
    {"__copy__", same_instance, METH_NOARGS, nullptr},
    {"__deepcopy__", same_instance, METH_O, nullptr},
};

// Raises "No constructor defined for <name>".
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  if constexpr (takes_weak_references<T>)
    if (reinterpret_cast<Box<T>*>(self)->weak_references) PyObject_ClearWeakRefs(self);
  unbox<T>(self).~T();
  type->tp_free(self);
  Py_DECREF(type);
}

template <class T>
PyObject* get_property(PyObject* self, void* closure) {
  const auto& property = *static_cast<const Property<T>*>(closure);
  return boundary(Failure::Data, [&] {
    if (property.get) return property.get(unbox<T>(self));
    if (property.get_in_module) return property.get_in_module(unbox<T>(self), state_of(self));
    return property.get_of_instance(self);
  });
}

PyObject* new_str(std::string_view text);
// A stored string as a str, as Source::text reads it: the characters go
// straight into the str where they are ASCII, as names nearly always are.
PyObject* text_object(const Source& source, const StoredString& text);
// Stored bytes as a str, as utf8_text reads them: copied once where they are
// valid UTF-8.
PyObject* text_object(const std::string& bytes);

template <class T>
PyObject* repr_slot(PyObject* self) {
  return boundary(Failure::Data, [&] { return new_str(class_def<T>().repr(unbox<T>(self))); });
}

template <class T>
PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  return boundary(Failure::Data, [&] {
    const bool equal = class_def<T>().equal(unbox<T>(self), unbox<T>(other));
    return PyBool_FromLong(equal == (op == Py_EQ));
  });
}

template <class T>
Py_hash_t hash_slot(PyObject* self) {
  return boundary(Failure::Data, [&] {
    const auto hash = static_cast<Py_hash_t>(class_def<T>().hash(unbox<T>(self)));
    // -1 tells Python that hashing failed.
    return hash == -1 ? -2 : hash;
  });
}

// Views are values, as the bytes they hold: two of one class that hold the
// same bytes are equal, and hash alike.
template <class Record>
PyObject* view_richcompare_slot(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  const std::span<const uint8_t> a = view_bytes<Record>(self);
  const std::span<const uint8_t> b = view_bytes<Record>(other);
  return PyBool_FromLong(std::equal(a.begin(), a.end(), b.begin(), b.end()) == (op == Py_EQ));
}
template <class Record>
Py_hash_t view_hash_slot(PyObject* self) {
  const std::span<const uint8_t> bytes = view_bytes<Record>(self);
  const auto hash = static_cast<Py_hash_t>(hash_of({{reinterpret_cast<const char*>(bytes.data()), bytes.size()}}, {}));
  // -1 tells Python that hashing failed.
  return hash == -1 ? -2 : hash;
}
template <class Record>
void add_view_value_slots(std::vector<PyType_Slot>& slots, std::type_identity<Decoded<Record>>) {
  slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(view_richcompare_slot<Record>)});
  slots.push_back({Py_tp_hash, reinterpret_cast<void*>(view_hash_slot<Record>)});
}

// Creates T's class in module; the arrays Python keeps pointers into are made
// once per class and shared by every module instance.
template <class T>
PyTypeObject* create_type(PyObject* module) {
  const ClassDef<T>& def = class_def<T>();
  static const std::vector<PyGetSetDef> getset = [&] {
    std::vector<PyGetSetDef> table;
    for (const Property<T>& p : def.properties)
      table.push_back({p.name, get_property<T>, nullptr, p.doc, const_cast<Property<T>*>(&p)});
    table.push_back({});
    return table;
  }();
  static const std::vector<PyMethodDef> methods = [&] {
    std::vector<PyMethodDef> table = def.methods;
    table.insert(table.end(), kViewMethods<T>.begin(), kViewMethods<T>.end());
    if (def.copies_as_itself || is_decoded<T>)
      table.insert(table.end(), kCopiesAsItself.begin(), kCopiesAsItself.end());
    table.push_back({});
    return table;
  }();
  std::vector<PyType_Slot> slots = {
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<T>)},
      {Py_tp_getset, const_cast<PyGetSetDef*>(getset.data())},
      {Py_tp_methods, const_cast<PyMethodDef*>(methods.data())},
  };
  if (def.doc) slots.push_back({Py_tp_doc, const_cast<char*>(def.doc)});
  if (def.repr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_slot<T>)});
  if (def.equal) slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(richcompare_slot<T>)});
  if (def.hash) slots.push_back({Py_tp_hash, reinterpret_cast<void*>(hash_slot<T>)});
  if constexpr (is_decoded<T>) add_view_value_slots(slots, std::type_identity<T>{});
  // The list of weak references follows the object's header.
  static PyMemberDef weak_list[] = {
      {"__weaklistoffset__", kSizeMember,
       static_cast<Py_ssize_t>(is_decoded<T> ? sizeof(PyVarObject) : sizeof(PyObject)), kReadOnlyMember, nullptr},
      {},
  };
  if (takes_weak_references<T>) slots.push_back({Py_tp_members, weak_list});
  bool has_new = false;
  for (const PyType_Slot& slot : def.slots) {
    has_new = has_new || slot.slot == Py_tp_new;
    slots.push_back(slot);
  }
  // Refusing in tp_new keeps the class's own message; an immutable class
  // cannot be given another __new__.
  if (!has_new) slots.push_back({Py_tp_new, reinterpret_cast<void*>(no_constructor)});
  slots.push_back({0, nullptr});

  static_assert(sizeof(Box<T>) <= static_cast<std::size_t>(INT32_MAX));
  // A decoded view's size counts its copy of the bytes, one byte per item.
  PyType_Spec spec = {def.qualified_name, static_cast<int>(sizeof(Box<T>)), is_decoded<T> ? 1 : 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &spec, nullptr));
}

// Fills the view class entry of the decoder whose record is Record.
template <class Record>
struct RegisterView {
  RegisterView() {
    view_classes()[decoder_index<Record>()] = {create_type<Decoded<Record>>, &class_def<Decoded<Record>>().nested};
  }
};

}  // namespace lumivex::py
