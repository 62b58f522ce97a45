#include "check.h"

int main() {
  int failed_cases = 0;
  for (const auto& test_case : lumivex::test::cases()) {
    const int before = lumivex::test::failures();
    try {
      test_case.run();
    } catch (const std::exception& e) {
      ++lumivex::test::failures();
      std::cerr << test_case.name << ": unexpected exception: " << e.what() << "\n";
    }
    if (lumivex::test::failures() != before) ++failed_cases;
  }
  const auto total = lumivex::test::cases().size();
  std::cout << (total - failed_cases) << " passed, " << failed_cases << " failed\n";
  return failed_cases == 0 ? 0 : 1;
}
