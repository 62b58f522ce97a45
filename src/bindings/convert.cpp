#include "bindings/convert.h"

#include <cstring>

#include "core/text.h"

namespace lumivex::py {
namespace {

[[noreturn]] void wrong_type(PyObject* object, const char* function, const char* name, const char* expected) {
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, name, expected,
               Py_TYPE(object)->tp_name);
  throw PythonError{};
}

unsigned long long arg_unsigned(PyObject* object, const char* function, const char* name, unsigned long long max) {
  if (!PyLong_Check(object) && !PyIndex_Check(object)) wrong_type(object, function, name, "int");
  const Ref index = Ref::checked(PyNumber_Index(object));
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (value == -1 && PyErr_Occurred()) throw PythonError{};
  if (overflow < 0 || (overflow == 0 && value < 0)) {
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s': can't convert negative int to unsigned", function, name);
    throw PythonError{};
  }
  if (overflow > 0 || static_cast<unsigned long long>(value) > max) {
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s': int too large, the largest allowed is %llu", function, name,
                 max);
    throw PythonError{};
  }
  return static_cast<unsigned long long>(value);
}

std::string system_message(int error_number) {
  char buffer[256];
  return ::strerror_r(error_number, buffer, sizeof buffer);
}

Ref exception_with_message(PyObject* type, const std::string& message) {
  const Ref text =
      Ref::checked(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  return Ref::checked(PyObject_CallOneArg(type, text.get()));
}

// The built-in OSError for error_number, the class Python itself picks for
// it: FileNotFoundError for ENOENT, and so on.
Ref builtin_os_error(int error_number, PyObject* filename) {
  const std::string text = system_message(error_number);
  if (filename) return Ref::checked(PyObject_CallFunction(PyExc_OSError, "isO", error_number, text.c_str(), filename));
  return Ref::checked(PyObject_CallFunction(PyExc_OSError, "is", error_number, text.c_str()));
}

int os_error_in(const Error& error) {
  for (const Error* e = &error; e; e = e->cause())
    if (e->os_error()) return e->os_error();
  return 0;
}

// The exception for error, whose causes are chained as __cause__.
Ref python_exception(const Error& error, Failure failure, const ModuleState* state, PyObject* filename,
                     bool outermost) {
  Ref exception;
  const int error_number = os_error_in(error);
  if (!outermost && error.os_error() && !error.cause()) {
    // The system's own failure under the message, as Python reports it.
    exception = builtin_os_error(error.os_error(), filename);
  } else if (error_number && state) {
    const Ref builtin = builtin_os_error(error_number, filename);
    PyObject* own_class =
        PyDict_GetItemWithError(state->os_error_classes, reinterpret_cast<PyObject*>(Py_TYPE(builtin.get())));
    if (!own_class && PyErr_Occurred()) throw PythonError{};
    exception = exception_with_message(own_class ? own_class : PyExc_OSError, error.message());
    const Ref number = Ref::checked(PyLong_FromLong(error_number));
    const Ref text = Ref::checked(PyUnicode_DecodeLocale(system_message(error_number).c_str(), "surrogateescape"));
    if (PyObject_SetAttrString(exception.get(), "errno", number.get()) < 0 ||
        PyObject_SetAttrString(exception.get(), "strerror", text.get()) < 0 ||
        (filename && PyObject_SetAttrString(exception.get(), "filename", filename) < 0))
      throw PythonError{};
  } else {
    exception = exception_with_message(failure == Failure::File ? PyExc_OSError : PyExc_ValueError, error.message());
  }
  if (const Error* cause = error.cause())
    PyException_SetCause(exception.get(), python_exception(*cause, Failure::Data, state, filename, false).release());
  return exception;
}

// The module's OSError classes leave str() to the message, and pickle with
// the attributes the message does not show.
PyObject* reduce_os_error(PyObject*, PyObject* self) {
  return boundary(Failure::Data, [&] {
    const Ref args = Ref::checked(PyObject_GetAttrString(self, "args"));
    const Ref errno_value = Ref::checked(PyObject_GetAttrString(self, "errno"));
    const Ref strerror_value = Ref::checked(PyObject_GetAttrString(self, "strerror"));
    const Ref filename_value = Ref::checked(PyObject_GetAttrString(self, "filename"));
    return checked(Py_BuildValue("(OO{sOsOsO})", Py_TYPE(self), args.get(), "errno", errno_value.get(), "strerror",
                                 strerror_value.get(), "filename", filename_value.get()));
  });
}

PyMethodDef kReduceOsError = {"__reduce__", reduce_os_error, METH_O, nullptr};

}  // namespace

void raise_error(const Error& error, Failure failure, const ModuleState* state, PyObject* filename) {
  try {
    Ref exception = python_exception(error, failure, state, filename, true);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
  } catch (const PythonError&) {
    // The exception could not be built; the reason why is set instead.
  }
}

PyObject* add_os_error_classes(PyObject* module) {
  static PyObject* const* const kBases[] = {
      &PyExc_OSError,
      &PyExc_BlockingIOError,
      &PyExc_ChildProcessError,
      &PyExc_ConnectionError,
      &PyExc_BrokenPipeError,
      &PyExc_ConnectionAbortedError,
      &PyExc_ConnectionRefusedError,
      &PyExc_ConnectionResetError,
      &PyExc_FileExistsError,
      &PyExc_FileNotFoundError,
      &PyExc_InterruptedError,
      &PyExc_IsADirectoryError,
      &PyExc_NotADirectoryError,
      &PyExc_PermissionError,
      &PyExc_ProcessLookupError,
      &PyExc_TimeoutError,
  };
  Ref classes = Ref::checked(PyDict_New());
  const Ref base_str = Ref::checked(PyObject_GetAttrString(PyExc_BaseException, "__str__"));
  const Ref reduce_function = Ref::checked(PyCFunction_New(&kReduceOsError, nullptr));
  const Ref reduce = Ref::checked(PyInstanceMethod_New(reduce_function.get()));
  for (PyObject* const* base : kBases) {
    const char* base_name = reinterpret_cast<PyTypeObject*>(*base)->tp_name;
    const Ref body = Ref::checked(PyDict_New());
    if (PyDict_SetItemString(body.get(), "__str__", base_str.get()) < 0 ||
        PyDict_SetItemString(body.get(), "__reduce__", reduce.get()) < 0)
      throw PythonError{};
    const std::string qualified = std::string("lumivex._lumivex.") + base_name;
    const Ref own = Ref::checked(PyErr_NewException(qualified.c_str(), *base, body.get()));
    if (PyDict_SetItem(classes.get(), *base, own.get()) < 0 || PyModule_AddObjectRef(module, base_name, own.get()) < 0)
      throw PythonError{};
  }
  return classes.release();
}

PyObject* new_str(std::string_view text) {
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyObject* text_object(const std::string& bytes) {
  return is_valid_utf8(bytes) ? new_str(bytes) : new_str(utf8_text(bytes));
}

PyObject* text_object(const Source& source, const StoredString& text) {
  const std::span<const uint8_t> stored = source.stored_span(text);
  const uint8_t flip = text.inverted() ? 0xFF : 0x00;
  uint8_t high_bits = 0;
  for (const uint8_t byte : stored) high_bits |= static_cast<uint8_t>(byte ^ flip);
  if (high_bits & 0x80) return new_str(source.text(text));
  PyObject* str = checked(PyUnicode_New(static_cast<Py_ssize_t>(stored.size()), 127));
  auto* characters = static_cast<uint8_t*>(PyUnicode_DATA(str));
  for (std::size_t i = 0; i < stored.size(); ++i) characters[i] = static_cast<uint8_t>(stored[i] ^ flip);
  return str;
}

PyObject* same_instance(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  const Ref name = Ref::checked(PyType_GetName(type));
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

PyObject* to_py(std::span<const uint8_t> bytes) {
  return checked(
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size())));
}

void raise_key_error(PyObject* key) {
  const Ref args = Ref::checked(PyTuple_Pack(1, key));
  PyErr_SetObject(PyExc_KeyError, args.get());
  throw PythonError{};
}

void parse_args(PyObject* args, PyObject* kwargs, const char* function, std::initializer_list<const char*> names,
                std::initializer_list<PyObject**> values, std::size_t required) {
  const Py_ssize_t expected = static_cast<Py_ssize_t>(names.size());
  const Py_ssize_t given = args ? PyTuple_GET_SIZE(args) : 0;
  if (given > expected) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd were given", function, expected,
                 expected == 1 ? "" : "s", given);
    throw PythonError{};
  }
  Py_ssize_t i = 0;
  auto value = values.begin();
  for (const char* name : names) {
    PyObject* positional = i < given ? PyTuple_GET_ITEM(args, i) : nullptr;
    PyObject* keyword = kwargs ? PyDict_GetItemString(kwargs, name) : nullptr;
    if (positional && keyword) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, name);
      throw PythonError{};
    }
    if (!positional && !keyword && static_cast<std::size_t>(i) >= required) {
      **value = nullptr;
    } else if (!positional && !keyword) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", function, name, i + 1);
      throw PythonError{};
    } else {
      **value = positional ? positional : keyword;
    }
    ++i;
    ++value;
  }
  if (kwargs) {
    PyObject* key;
    PyObject* item;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &item)) {
      bool known = false;
      for (const char* name : names) known = known || PyUnicode_CompareWithASCIIString(key, name) == 0;
      if (!known) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, key);
        throw PythonError{};
      }
    }
  }
}

std::string arg_str(PyObject* object, const char* function, const char* name) {
  if (!PyUnicode_Check(object)) wrong_type(object, function, name, "str");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (!utf8) throw PythonError{};
  return std::string(utf8, static_cast<std::size_t>(size));
}

uint16_t arg_u16(PyObject* object, const char* function, const char* name) {
  return static_cast<uint16_t>(arg_unsigned(object, function, name, UINT16_MAX));
}

uint32_t arg_u32(PyObject* object, const char* function, const char* name) {
  return static_cast<uint32_t>(arg_unsigned(object, function, name, UINT32_MAX));
}

std::span<const uint8_t> arg_bytes(PyObject* object, const char* function, const char* name) {
  if (!PyBytes_Check(object)) wrong_type(object, function, name, "bytes");
  return {reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(object)),
          static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
}

BufferArg::BufferArg(PyObject* object, const char* function, const char* name, const char* expected) {
  if (!PyObject_CheckBuffer(object)) wrong_type(object, function, name, expected);
  if (PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) < 0) throw PythonError{};
}

PathArg arg_path(PyObject* object, const char* function, const char* name) {
  if (!PyUnicode_Check(object) && !PyBytes_Check(object) && !PyObject_HasAttrString(object, "__fspath__"))
    wrong_type(object, function, name, "str, bytes or os.PathLike");
  PathArg path;
  path.shown = Ref::checked(PyOS_FSPath(object));
  const Ref encoded = PyBytes_Check(path.shown.get()) ? Ref::checked(Py_NewRef(path.shown.get()))
                                                      : Ref::checked(PyUnicode_EncodeFSDefault(path.shown.get()));
  path.bytes.assign(PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
  return path;
}

FileRule regular_file_rule(PyObject* inside, const char* function) {
  FileRule rule{.regular_only = true, .inside = {}};
  if (inside && inside != Py_None) {
    rule.inside = arg_path(inside, function, "inside").bytes;
    // An empty path would mean no folder at all.
    if (rule.inside.empty()) {
      PyErr_Format(PyExc_ValueError, "%s() argument 'inside' must name a folder", function);
      throw PythonError{};
    }
  }
  return rule;
}

}  // namespace lumivex::py
