#pragma once

// The lints of the text formats from Python: the module's LintProblem class,
// a named tuple, and the lists of problems the static methods return.

#include <string_view>

#include "bindings/py_class.h"
#include "core/lint.h"

namespace lumivex::py {

// A text format's lint.
using Linter = void (*)(std::string_view text, const LintReport& report);

// Creates the module's LintProblem class: a named tuple (line, text, reason)
// that nothing can change or subclass.
PyObject* create_lint_problem_class();

// The problems of a text, as a new list of LintProblem.
PyObject* lint_problems(const ModuleState& state, std::string_view text, Linter lint);

// The body of a static method lint(path): the problems of the file, which is
// read as the loads read it but for its bytes, which may be anything.
PyObject* lint_file(PyObject* args, PyObject* kwargs, Linter lint);

}  // namespace lumivex::py
