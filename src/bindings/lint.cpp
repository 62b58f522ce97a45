#include "bindings/lint.h"

#include "bindings/convert.h"

namespace lumivex::py {
namespace {

constexpr const char* kClassDoc =
    "A line of a description that its parser skips, guesses or defaults: its number, its text as written and the "
    "reason.";
constexpr std::array<std::pair<const char*, const char*>, 3> kFields = {{
    {"line", "Line number, from 1; 0 for the file as a whole."},
    {"text", "The line as written, without its line end; empty for line 0."},
    {"reason", "What is wrong, and what the parser does with the line."},
}};

// Problems between two looks for Ctrl-C.
constexpr std::size_t kProblemsPerInterruptCheck = 4096;

void set_doc(PyObject* object, const char* doc) {
  const Ref text = Ref::checked(PyUnicode_FromString(doc));
  if (PyObject_SetAttrString(object, "__doc__", text.get()) < 0) throw PythonError{};
}

}  // namespace

PyObject* create_lint_problem_class() {
  const Ref collections = Ref::checked(PyImport_ImportModule("collections"));
  const Ref named_tuple = Ref::checked(PyObject_GetAttrString(collections.get(), "namedtuple"));
  const Ref args =
      Ref::checked(Py_BuildValue("(s(sss))", "LintProblem", kFields[0].first, kFields[1].first, kFields[2].first));
  const Ref kwargs = Ref::checked(Py_BuildValue("{ss}", "module", "lumivex"));
  Ref cls = Ref::checked(PyObject_Call(named_tuple.get(), args.get(), kwargs.get()));
  set_doc(cls.get(), kClassDoc);
  for (const auto& [name, doc] : kFields) {
    const Ref field = Ref::checked(PyObject_GetAttrString(cls.get(), name));
    set_doc(field.get(), doc);
  }
  // Frozen like the module's other classes once it is complete.
  auto* type = reinterpret_cast<PyTypeObject*>(cls.get());
  type->tp_flags = (type->tp_flags | Py_TPFLAGS_IMMUTABLETYPE) & ~Py_TPFLAGS_BASETYPE;
  PyType_Modified(type);
  return cls.release();
}

PyObject* lint_problems(const ModuleState& state, std::string_view text, Linter lint) {
  auto* type = reinterpret_cast<PyTypeObject*>(state.lint_problem_class);
  Ref list = Ref::checked(PyList_New(0));
  // The problems of a line share its text.
  std::size_t shown_line = 0;
  Ref shown_text;
  std::size_t count = 0;
  lint(text, [&](LintProblem&& problem) {
    if (++count % kProblemsPerInterruptCheck == 0 && PyErr_CheckSignals() < 0) throw PythonError{};
    if (!shown_text.get() || problem.line != shown_line) {
      // Not UTF-8 only in the problem that says so, whose text shows U+FFFD
      // for each invalid sequence.
      shown_text = Ref::checked(
          PyUnicode_DecodeUTF8(problem.text.data(), static_cast<Py_ssize_t>(problem.text.size()), "replace"));
      shown_line = problem.line;
    }
    Ref line = Ref::checked(to_py(problem.line));
    Ref reason = Ref::checked(new_str(problem.reason));
    // The class is a tuple with names for its items and nothing more: its
    // instances are made as tuple.__new__ makes them, without a call.
    const Ref item = Ref::checked(type->tp_alloc(type, 3));
    PyTuple_SET_ITEM(item.get(), 0, line.release());
    PyTuple_SET_ITEM(item.get(), 1, Py_NewRef(shown_text.get()));
    PyTuple_SET_ITEM(item.get(), 2, reason.release());
    // A number and two texts make no cycle. Left to the collector, a long
    // list of problems would be visited again and again as it grows.
    PyObject_GC_UnTrack(item.get());
    if (PyList_Append(list.get(), item.get()) < 0) throw PythonError{};
  });
  return list.release();
}

PyObject* lint_file(PyObject* args, PyObject* kwargs, Linter lint) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "lint", {"path"}, {&arg});
  const PathArg path = arg_path(arg, "lint", "path");
  const ModuleState& state = static_method_state();
  const ByteBuffer text = on_file(state, path, [&] {
    return without_gil([&](const InterruptCheck& interrupt) { return read_text_file_bytes(path.bytes, interrupt); });
  });
  return lint_problems(state, text.view(), lint);
}

}  // namespace lumivex::py
