#pragma once

// The lint of the ".sdl" text format: every line the lenient parser skips,
// guesses or defaults, with the reason.

#include <string_view>

#include "core/lint.h"

namespace lumivex {

// Reports each problem of a state description text, in the order of its
// lines: a line outside any descriptor or not understood, a STATEDESC line
// without a name or with more, a descriptor never closed or without a VERSION
// line, a version or a count that does not parse, a VAR line of unknown type
// or short of words, a word of a VAR line that is no option. A text that is
// not a state description at all, no line opening a descriptor, is one
// problem of line 0; bytes that are not UTF-8 are one problem of the
// first line that holds some.
void lint_state_descriptions(std::string_view text, const LintReport& report);

}  // namespace lumivex
