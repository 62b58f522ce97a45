#pragma once

// A minimal test harness: TEST(name) registers a case, CHECK records a
// failure and goes on, and main (in main.cpp) runs every case.

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
struct Register {
  Register(const char* name, std::function<void()> run) { cases().push_back({name, std::move(run)}); }
};

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
