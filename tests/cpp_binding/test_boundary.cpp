#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>

#include "../cpp/check.h"
#include "bindings/convert.h"

namespace lumivex::py {
namespace {

// The pending exception, taken: the caller owns it.
PyObject* take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

// The pending exception's class name and message, cleared.
std::string pending() {
  if (!PyErr_Occurred()) return "none";
  PyObject* exception = take_exception();
  PyObject* text = PyObject_Str(exception);
  std::string shown = std::string(Py_TYPE(exception)->tp_name) + ": " + (text ? PyUnicode_AsUTF8(text) : "?");
  Py_XDECREF(text);
  Py_DECREF(exception);
  PyErr_Clear();
  return shown;
}

// A value whose getter and repr fail with exceptions no getter of the module
// throws on purpose: a record that disagrees with its bytes, say.
struct Faulty {
  int kind = 0;
};

PyObject* faulty_get(const Faulty& faulty) {
  if (faulty.kind == 0) throw std::out_of_range("offset beyond the bytes");
  throw Error("failed to fill whole buffer");
}

std::string faulty_repr(const Faulty&) { throw std::logic_error("record and bytes disagree"); }

}  // namespace

template <>
const ClassDef<Faulty>& class_def<Faulty>() {
  static const ClassDef<Faulty> def{
      .id = TypeId::PrpFile,
      .qualified_name = "lumivex.Faulty",
      .properties = {{"value", faulty_get, "A value that cannot be read."}},
      .repr = faulty_repr,
  };
  return def;
}

namespace {

PyModuleDef test_module = {PyModuleDef_HEAD_INIT,
                           "lumivex_boundary_test",
                           nullptr,
                           sizeof(ModuleState),
                           nullptr,
                           nullptr,
                           nullptr,
                           nullptr,
                           nullptr};

// A module holding the test class and the module's OSError classes.
PyObject* module_with_classes() {
  PyObject* module = PyModule_Create(&test_module);
  auto& state = *static_cast<ModuleState*>(PyModule_GetState(module));
  state.types[0] = create_type<Faulty>(module);
  state.os_error_classes = add_os_error_classes(module);
  return module;
}

TEST(boundary_turns_every_exception_into_a_python_one) {
  CHECK(boundary(Failure::Data, []() -> PyObject* { throw std::logic_error("broken"); }) == nullptr);
  CHECK_EQ(pending(), "SystemError: lumivex internal error: broken");
  CHECK(boundary(Failure::Data, []() -> PyObject* { throw Error("bad data"); }) == nullptr);
  CHECK_EQ(pending(), "ValueError: bad data");
  CHECK(boundary(Failure::File, []() -> PyObject* { throw Error("Failed to write \"x\""); }) == nullptr);
  CHECK_EQ(pending(), "OSError: Failed to write \"x\"");
  CHECK(boundary(Failure::Data, []() -> PyObject* { throw std::bad_alloc(); }) == nullptr);
  CHECK_EQ(pending(), "MemoryError: ");
  CHECK(boundary(Failure::Data, []() -> Py_ssize_t { throw 42; }) == -1);
  CHECK_EQ(pending(), "SystemError: lumivex internal error");
  CHECK(boundary(Failure::Data, []() -> PyObject* {
          PyErr_SetString(PyExc_KeyError, "already set");
          throw PythonError{};
        }) == nullptr);
  CHECK_EQ(pending(), "KeyError: 'already set'");
}

TEST(getters_and_reprs_fail_as_python_exceptions) {
  PyObject* module = module_with_classes();
  const auto& state = *static_cast<ModuleState*>(PyModule_GetState(module));
  for (int kind : {0, 1}) {
    PyObject* object = make<Faulty>(state, Faulty{kind});
    CHECK(PyObject_GetAttrString(object, "value") == nullptr);
    CHECK_EQ(pending(), kind == 0 ? "SystemError: lumivex internal error: offset beyond the bytes"
                                  : "ValueError: failed to fill whole buffer");
    CHECK(PyObject_Repr(object) == nullptr);
    CHECK_EQ(pending(), "SystemError: lumivex internal error: record and bytes disagree");
    Py_DECREF(object);
  }
  Py_DECREF(module);
}

TEST(system_failures_raise_the_modules_os_error_class) {
  PyObject* module = module_with_classes();
  const auto& state = *static_cast<ModuleState*>(PyModule_GetState(module));
  PyObject* filename = PyUnicode_FromString("gone.prp");
  raise_error(Error("Failed to read \"gone.prp\"", Error("No such file or directory (os error 2)", ENOENT)),
              Failure::File, &state, filename);
  PyObject* exception = take_exception();
  CHECK(PyErr_GivenExceptionMatches(exception, PyExc_FileNotFoundError));
  PyObject* number = PyObject_GetAttrString(exception, "errno");
  CHECK_EQ(PyLong_AsLong(number), ENOENT);
  PyObject* cause = PyException_GetCause(exception);
  CHECK(cause && Py_TYPE(cause) == reinterpret_cast<PyTypeObject*>(PyExc_FileNotFoundError));
  // The module's own class, whose text is the message.
  CHECK(Py_TYPE(exception) != reinterpret_cast<PyTypeObject*>(PyExc_FileNotFoundError));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
  Py_DECREF(exception);
  CHECK_EQ(pending(), "FileNotFoundError: Failed to read \"gone.prp\"");
  Py_XDECREF(cause);
  Py_DECREF(number);
  Py_DECREF(filename);
  Py_DECREF(module);
}

}  // namespace
}  // namespace lumivex::py
