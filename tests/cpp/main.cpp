#include "check.h"

int main() {
  int failed_cases = 0;
  for (const auto& test_case : lumivex::test::cases())
    if (!lumivex::test::run_case(test_case)) ++failed_cases;
  const auto total = lumivex::test::cases().size();
  std::cout << (total - failed_cases) << " passed, " << failed_cases << " failed\n";
  return failed_cases == 0 ? 0 : 1;
}
