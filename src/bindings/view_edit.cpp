#include "bindings/view_edit.h"

#include <cfloat>
#include <cmath>

namespace lumivex::py {
namespace {

[[noreturn]] void wrong_value_type(PyObject* value, const char* function, const char* property, const char* expected) {
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, property, expected,
               Py_TYPE(value)->tp_name);
  throw PythonError{};
}

float float_of(PyObject* value, const char* function, const char* property) {
  if (PyBool_Check(value) || !(PyFloat_Check(value) || PyLong_Check(value)))
    wrong_value_type(value, function, property, "float");
  const auto too_large = [&] {
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s' is too large for a 32-bit float", function, property);
    throw PythonError{};
  };
  const double number = PyFloat_AsDouble(value);
  if (number == -1.0 && PyErr_Occurred()) {
    // An int too large for a double is too large for a float as well.
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
    PyErr_Clear();
    too_large();
  }
  if (std::isfinite(number) && std::fabs(number) > FLT_MAX && std::isinf(static_cast<float>(number))) too_large();
  return static_cast<float>(number);
}

BuiltKey key_of(PyObject* value, const char* function, const char* property, const ModuleState& state,
                const char* expected) {
  if (Py_TYPE(value) != state.type(TypeId::Key)) wrong_value_type(value, function, property, expected);
  return unbox<KeyValue>(value);
}

// The items of a list or tuple, as a tuple: reading an item may run code
// (a number's __float__) that changes a list, never a tuple.
Ref sequence_of(PyObject* value, const char* function, const char* property, const char* expected) {
  if (!PyList_Check(value) && !PyTuple_Check(value)) wrong_value_type(value, function, property, expected);
  return Ref::checked(PySequence_Tuple(value));
}

}  // namespace

FieldValue field_value(PyObject* value, const Settable& settable, const char* function, const ModuleState& state) {
  const char* property = settable.property.data();
  switch (settable.takes) {
    case Takes::U8: {
      const uint32_t number = arg_u32(value, function, property);
      if (number > UINT8_MAX) {
        PyErr_Format(PyExc_OverflowError, "%s() argument '%s' must be at most 255", function, property);
        throw PythonError{};
      }
      return uint64_t{number};
    }
    case Takes::U32:
      return uint64_t{arg_u32(value, function, property)};
    case Takes::Float:
      return float_of(value, function, property);
    case Takes::Bool:
      if (!PyBool_Check(value)) wrong_value_type(value, function, property, "bool");
      return value == Py_True;
    case Takes::Color: {
      const Ref items = sequence_of(value, function, property, "a list of 4 floats");
      if (PyTuple_GET_SIZE(items.get()) != 4) {
        PyErr_Format(PyExc_ValueError, "%s() argument '%s' must hold 4 floats (red, green, blue, alpha), not %zd",
                     function, property, PyTuple_GET_SIZE(items.get()));
        throw PythonError{};
      }
      std::array<float, 4> color{};
      for (std::size_t i = 0; i < color.size(); ++i)
        color[i] = float_of(PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i)), function, property);
      return color;
    }
    case Takes::Text:
      return arg_str(value, function, property);
    case Takes::KeyOrNone:
      if (value == Py_None) return std::optional<BuiltKey>();
      return std::optional<BuiltKey>(key_of(value, function, property, state, "Key or None"));
    case Takes::Keys: {
      const Ref items = sequence_of(value, function, property, "a list of Key");
      std::vector<BuiltKey> keys;
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i)
        keys.push_back(key_of(PyTuple_GET_ITEM(items.get(), i), function, property, state, "a list of Key"));
      return keys;
    }
    case Takes::Params: {
      const Ref items = sequence_of(value, function, property, "a list of PythonParam");
      std::vector<ParamSetting> params;
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i)
        params.push_back(param_setting(PyTuple_GET_ITEM(items.get(), i), function, property, state));
      return params;
    }
  }
  throw Error("A property of an unknown kind");
}

bool shows(PyObject* self, const Settable& settable, PyObject* name, PyObject* value) {
  if (settable.takes == Takes::Float || settable.takes == Takes::Color) return false;
  const Ref shown = Ref::checked(PyObject_GetAttr(self, name));
  const int equal = PyObject_RichCompareBool(shown.get(), value, Py_EQ);
  if (equal < 0) throw PythonError{};
  return equal == 1;
}

void refuse_change(PyObject* self, PyObject* name, const char* function) {
  PyObject* attribute = PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(self)), name);
  const bool shown = attribute && Py_IS_TYPE(attribute, &PyGetSetDescr_Type);
  Py_XDECREF(attribute);
  PyErr_Clear();
  if (!shown)
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, name);
  else if (PyUnicode_CompareWithASCIIString(name, "name") == 0)
    PyErr_Format(PyExc_TypeError, "%s() cannot set 'name': rename the object with PageBuilder.rename", function);
  else
    PyErr_Format(PyExc_TypeError,
                 "%s() cannot set '%U': it is not stored as itself, or must agree with other stored data", function,
                 name);
  throw PythonError{};
}

}  // namespace lumivex::py
