// The binding's error boundary, driven from an embedded interpreter: what
// Python code cannot make happen on purpose must still end as a Python
// exception, never as a crash.
#include "../cpp/check.h"
#include "bindings/py_class.h"

int main() {
  Py_InitializeEx(0);
  int failed_cases = 0;
  for (const auto& test_case : lumivex::test::cases()) {
    if (!lumivex::test::run_case(test_case)) ++failed_cases;
    PyErr_Clear();
  }
  const auto total = lumivex::test::cases().size();
  std::cout << (total - failed_cases) << " passed, " << failed_cases << " failed\n";
  const bool finalized = Py_FinalizeEx() == 0;
  return failed_cases == 0 && finalized ? 0 : 1;
}
