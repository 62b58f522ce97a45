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

PyObject* load_regular_page(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::File, [&] {
    PyObject* arg = nullptr;
    parse_args(args, kwargs, "_load_regular_page", {"path"}, {&arg});
    const PathArg path = arg_path(arg, "_load_regular_page", "path");
    const ModuleState& state = module_state(module);
    auto page = on_file(state, path, [&] {
      return without_gil(
          [&](const InterruptCheck& interrupt) { return PrpPage::from_file(path.bytes, interrupt, true); });
    });
    return make<PrpFileValue>(state, PrpFileValue{std::move(page)});
  });
}

}  // namespace lumivex::py
