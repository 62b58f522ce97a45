#include "python/convert.h"

namespace lumivex::py {
namespace {

bool wrong_type(PyObject* object, const char* function, const char* name, const char* expected) {
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, name, expected,
               Py_TYPE(object)->tp_name);
  return false;
}

bool arg_unsigned(PyObject* object, const char* function, const char* name, unsigned long long max,
                  unsigned long long& out) {
  if (!PyLong_Check(object) && !PyIndex_Check(object)) return wrong_type(object, function, name, "int");
  PyObject* index = PyNumber_Index(object);
  if (!index) return false;
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
  Py_DECREF(index);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && value < 0)) {
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s': can't convert negative int to unsigned", function, name);
    return false;
  }
  if (overflow > 0 || static_cast<unsigned long long>(value) > max) {
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s': int too large, the largest allowed is %llu", function, name,
                 max);
    return false;
  }
  out = static_cast<unsigned long long>(value);
  return true;
}

}  // namespace

void set_error(PyObject* exception_type, const Error& error) {
  const std::string& text = error.message();
  PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (!message) return;
  PyErr_SetObject(exception_type, message);
  Py_DECREF(message);
}

PyObject* new_str(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", _PyType_Name(type));
  return nullptr;
}

PyObject* to_py(std::span<const uint8_t> bytes) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size()));
}

bool parse_args(PyObject* args, PyObject* kwargs, const char* function, std::initializer_list<const char*> names,
                std::initializer_list<PyObject**> values) {
  const Py_ssize_t expected = static_cast<Py_ssize_t>(names.size());
  const Py_ssize_t given = args ? PyTuple_GET_SIZE(args) : 0;
  if (given > expected) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd were given", function, expected,
                 expected == 1 ? "" : "s", given);
    return false;
  }
  Py_ssize_t i = 0;
  auto value = values.begin();
  for (const char* name : names) {
    PyObject* positional = i < given ? PyTuple_GET_ITEM(args, i) : nullptr;
    PyObject* keyword = kwargs ? PyDict_GetItemString(kwargs, name) : nullptr;
    if (positional && keyword) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, name);
      return false;
    }
    if (!positional && !keyword) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", function, name, i + 1);
      return false;
    }
    **value = positional ? positional : keyword;
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
        return false;
      }
    }
  }
  return true;
}

bool arg_str(PyObject* object, const char* function, const char* name, std::string& out) {
  if (!PyUnicode_Check(object)) return wrong_type(object, function, name, "str");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (!utf8) return false;
  out.assign(utf8, static_cast<std::size_t>(size));
  return true;
}

bool arg_u16(PyObject* object, const char* function, const char* name, uint16_t& out) {
  unsigned long long value = 0;
  if (!arg_unsigned(object, function, name, UINT16_MAX, value)) return false;
  out = static_cast<uint16_t>(value);
  return true;
}

bool arg_u32(PyObject* object, const char* function, const char* name, uint32_t& out) {
  unsigned long long value = 0;
  if (!arg_unsigned(object, function, name, UINT32_MAX, value)) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool arg_bytes(PyObject* object, const char* function, const char* name, std::span<const uint8_t>& out) {
  if (!PyBytes_Check(object)) return wrong_type(object, function, name, "bytes");
  out = {reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(object)),
         static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
  return true;
}

}  // namespace lumivex::py
