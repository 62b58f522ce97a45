#pragma once

// A minimal test harness: TEST(name) registers a case, CHECK records a
// failure and goes on, REQUIRE records a failure and ends the case (for
// preconditions such as a size checked before indexing), and main (in
// main.cpp) runs every case.

#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace lumivex::test {

struct Case {
  const char* name;
  std::function<void()> run;
};

inline std::vector<Case>& cases() {
  static std::vector<Case> all;
  return all;
}
inline int& failures() {
  static int count = 0;
  return count;
}
// Thrown by REQUIRE to end the case; not a std::exception, so the case
// cannot catch it by mistake.
struct CaseAborted {};
struct Register {
  Register(const char* name, std::function<void()> run) { cases().push_back({name, std::move(run)}); }
};

// Runs one case; true when it recorded no failure.
inline bool run_case(const Case& test_case) {
  const int before = failures();
  try {
    test_case.run();
  } catch (const CaseAborted&) {
    std::cerr << test_case.name << ": ended by a failed REQUIRE\n";
  } catch (const std::exception& e) {
    ++failures();
    std::cerr << test_case.name << ": unexpected exception: " << e.what() << "\n";
  }
  return failures() == before;
}

}  // namespace lumivex::test

#define LUMIVEX_CONCAT_(a, b) a##b
#define LUMIVEX_CONCAT(a, b) LUMIVEX_CONCAT_(a, b)
#define TEST(name)                                                               \
  static void name();                                                            \
  static ::lumivex::test::Register LUMIVEX_CONCAT(register_, name)(#name, name); \
  static void name()
#define CHECK(condition)                                                                 \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      ++::lumivex::test::failures();                                                     \
      std::cerr << __FILE__ << ":" << __LINE__ << ": CHECK failed: " #condition << "\n"; \
    }                                                                                    \
  } while (0)
#define CHECK_EQ(a, b)                                                                                               \
  do {                                                                                                               \
    if (!((a) == (b))) {                                                                                             \
      ++::lumivex::test::failures();                                                                                 \
      std::cerr << __FILE__ << ":" << __LINE__ << ": CHECK_EQ failed: " #a " == " #b << " (" << (a) << " vs " << (b) \
                << ")\n";                                                                                            \
    }                                                                                                                \
  } while (0)
#define REQUIRE(condition)                                                                 \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      ++::lumivex::test::failures();                                                       \
      std::cerr << __FILE__ << ":" << __LINE__ << ": REQUIRE failed: " #condition << "\n"; \
      throw ::lumivex::test::CaseAborted{};                                                \
    }                                                                                      \
  } while (0)
