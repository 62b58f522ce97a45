#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivex::unicode {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

// Sorted, disjoint ranges of code points that quoted text shows as escapes.
extern const CodePointRange kNonPrintable[];
extern const std::size_t kNonPrintable_count;

struct UpperCaseToAscii {
  const char* utf8;   // one character
  const char* upper;  // its full upper case
};

// The non-ASCII characters whose full upper case is all ASCII; every other
// non-ASCII character upper-cases to something non-ASCII.
extern const UpperCaseToAscii kUpperCaseToAscii[];
extern const std::size_t kUpperCaseToAscii_count;

}  // namespace lumivex::unicode
