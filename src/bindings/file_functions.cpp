#include <memory>
#include <vector>

#include "bindings/classes.h"
#include "bindings/convert.h"
#include "bindings/page_classes.h"
#include "core/file.h"

namespace lumivex::py {
namespace {

// The bytes of any object that has them (bytes, bytearray, memoryview, an
// array), held until the end of the call: an exported buffer cannot be
// resized, so the bytes stay put while other threads run.
class HeldBuffer {
 public:
  explicit HeldBuffer(PyObject* object) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) < 0) throw PythonError{};
  }
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() { PyBuffer_Release(&view_); }
  std::span<const uint8_t> span() const {
    return {static_cast<const uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

}  // namespace

PyObject* save_file(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::File, [&] {
    PyObject* path_arg = nullptr;
    PyObject* data_arg = nullptr;
    parse_args(args, kwargs, "save_file", {"path", "data"}, {&path_arg, &data_arg});
    const PathArg path = arg_path(path_arg, "save_file", "path");
    const HeldBuffer data(data_arg);
    on_file(module_state(module), path, [&] {
      without_gil([&](const InterruptCheck& interrupt) {
        try {
          lumivex::save_file(path.bytes, {data.span()}, interrupt);
        } catch (const Error& e) {
          throw Error("Failed to write " + quote_path(path.bytes), e);
        }
      });
    });
    Py_RETURN_NONE;
  });
}

PyObject* save_files(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::File, [&] {
    if (PyTuple_GET_SIZE(args) > 1) {
      PyErr_Format(PyExc_TypeError, "save_files() takes 1 positional argument but %zd were given",
                   PyTuple_GET_SIZE(args));
      throw PythonError{};
    }
    PyObject* files_arg = nullptr;
    PyObject* in_place_arg = nullptr;
    PyObject* dry_run_arg = nullptr;
    parse_args(args, kwargs, "save_files", {"files", "in_place", "dry_run"}, {&files_arg, &in_place_arg, &dry_run_arg},
               1);
    const int in_place = in_place_arg ? PyObject_IsTrue(in_place_arg) : 0;
    if (in_place < 0) throw PythonError{};
    const int dry_run = dry_run_arg ? PyObject_IsTrue(dry_run_arg) : 0;
    if (dry_run < 0) throw PythonError{};
    const Ref items = Ref::checked(PySequence_Fast(files_arg, "save_files() argument 'files' must be a sequence"));
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    std::vector<FileContent> files;
    std::vector<std::unique_ptr<HeldBuffer>> held;
    std::vector<Ref> shown_paths;  // as a failure names them
    files.reserve(static_cast<std::size_t>(count));
    held.reserve(static_cast<std::size_t>(count));
    shown_paths.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
        PyErr_Format(PyExc_TypeError, "save_files() argument 'files' must hold (path, data) pairs, not %.200s",
                     Py_TYPE(item)->tp_name);
        throw PythonError{};
      }
      PathArg path = arg_path(PyTuple_GET_ITEM(item, 0), "save_files", "files");
      held.push_back(std::make_unique<HeldBuffer>(PyTuple_GET_ITEM(item, 1)));
      files.push_back({path.bytes, {held.back()->span()}});
      shown_paths.push_back(std::move(path.shown));
    }
    std::size_t failed_file = 0;
    try {
      without_gil([&](const InterruptCheck& interrupt) {
        if (dry_run)
          check_save_files(files, in_place != 0, interrupt, &failed_file);
        else
          lumivex::save_files(files, in_place != 0, interrupt, &failed_file);
      });
    } catch (const Error& error) {
      raise_error(error, Failure::File, &module_state(module), shown_paths.at(failed_file).get());
      throw PythonError{};
    }
    Py_RETURN_NONE;
  });
}

PyObject* load_regular_page(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::File, [&] {
    PyObject* arg = nullptr;
    PyObject* inside = nullptr;
    parse_args(args, kwargs, "_load_regular_page", {"path", "inside"}, {&arg, &inside}, 1);
    const PathArg path = arg_path(arg, "_load_regular_page", "path");
    const FileRule rule = regular_file_rule(inside, "_load_regular_page");
    const ModuleState& state = module_state(module);
    auto page = on_file(state, path, [&] {
      return without_gil(
          [&](const InterruptCheck& interrupt) { return PrpPage::from_file(path.bytes, interrupt, rule); });
    });
    return make<PrpFileValue>(state, PrpFileValue{std::move(page)});
  });
}

}  // namespace lumivex::py
