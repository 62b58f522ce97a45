#include <array>
#include <string>
#include <string_view>

#include "bindings/classes.h"
#include "bindings/convert.h"
#include "core/log.h"

namespace lumivex::py {
namespace {

struct LevelName {
  std::string_view name;
  log::Level level;
  int python_level;  // the logging module's number for it; trace is below DEBUG
};
constexpr std::array<LevelName, 5> kLevels = {{
    {"error", log::Level::Error, 40},
    {"warn", log::Level::Warn, 30},
    {"info", log::Level::Info, 20},
    {"debug", log::Level::Debug, 10},
    {"trace", log::Level::Trace, 5},
}};

bool interpreter_is_going() {
#if PY_VERSION_HEX >= 0x030D0000
  return !Py_IsInitialized() || Py_IsFinalizing();
#else
  return !Py_IsInitialized() || _Py_IsFinalizing();
#endif
}

// "lumivex::sdl::descriptor" logs to the logger "lumivex.sdl.descriptor", a
// child of "lumivex".
std::string logger_name(std::string_view target) {
  std::string name;
  for (std::size_t at = 0; at < target.size(); ++at) {
    if (target.substr(at, 2) == "::") {
      name += '.';
      ++at;
    } else {
      name += target[at];
    }
  }
  return name;
}

void log_in_python(const log::Record& record) {
  int python_level = 0;
  for (const LevelName& level : kLevels)
    if (level.level == record.level) python_level = level.python_level;
  const Ref logging = Ref::checked(PyImport_ImportModule("logging"));
  const std::string name = logger_name(record.target);
  const Ref logger = Ref::checked(
      PyObject_CallMethod(logging.get(), "getLogger", "s#", name.data(), static_cast<Py_ssize_t>(name.size())));
  const Ref message = Ref::checked(
      PyUnicode_DecodeUTF8(record.message.data(), static_cast<Py_ssize_t>(record.message.size()), "replace"));
  const Ref logged = Ref::checked(PyObject_CallMethod(logger.get(), "log", "isO", python_level, "%s", message.get()));
}

// Takes the exception set on this thread, if any, and sets it again when it
// goes.
class PendingException {
 public:
#if PY_VERSION_HEX >= 0x030C0000
  PendingException() : raised_(PyErr_GetRaisedException()) {}
  ~PendingException() { PyErr_SetRaisedException(raised_); }

 private:
  PyObject* raised_;
#else
  PendingException() { PyErr_Fetch(&type_, &value_, &traceback_); }
  ~PendingException() { PyErr_Restore(type_, value_, traceback_); }

 private:
  PyObject* type_ = nullptr;
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
#endif
};

// The sink: called on any thread, with or without the interpreter lock, and
// silent once the interpreter is shutting down.
void forward_to_logging(const log::Record& record) {
  if (interpreter_is_going()) return;
  const PyGILState_STATE gil = PyGILState_Ensure();
  {
    // An exception already set on the emitting thread is kept for it.
    const PendingException pending;
    try {
      log_in_python(record);
    } catch (const PythonError&) {
      PyErr_WriteUnraisable(nullptr);
    } catch (...) {
      // A record that cannot be built is dropped: logging never fails a read.
    }
  }
  PyGILState_Release(gil);
}

}  // namespace

PyObject* enable_logging(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    PyObject* arg = nullptr;
    parse_args(args, kwargs, "enable_logging", {"level"}, {&arg}, 0);
    const std::string name = arg ? arg_str(arg, "enable_logging", "level") : "warn";
    const LevelName* chosen = nullptr;
    for (const LevelName& level : kLevels)
      if (level.name == name) chosen = &level;
    if (!chosen) {
      PyErr_Format(PyExc_ValueError,
                   "enable_logging() argument 'level' must be error, warn, info, debug or trace, not %R", arg);
      throw PythonError{};
    }
    // Records of every thread reach Python through the main interpreter.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
      PyErr_SetString(PyExc_RuntimeError, "enable_logging() works in the main interpreter only");
      throw PythonError{};
    }
    log::set_sink(forward_to_logging);
    log::set_max_level(chosen->level);
    Py_RETURN_NONE;
  });
}

PyObject* disable_logging(PyObject*, PyObject*) {
  log::set_max_level(log::Level::Off);
  log::set_sink(nullptr);
  Py_RETURN_NONE;
}

}  // namespace lumivex::py
