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

}  // namespace lumivex::unicode
