#pragma once

// The lint of the ".age" text format: every line the lenient parser skips,
// guesses or defaults, with the reason.

#include <string_view>

#include "core/lint.h"

namespace lumivex {

// Reports each problem of an age description's text, in the order of its
// lines: a line without "=" or without a key, an unknown key, a value that
// does not parse, a page's field that does not parse or is ignored. A text
// that is not an age description at all, no line setting one of its keys, is
// one problem of line 0; bytes that are not UTF-8 are one problem of the
// first line that holds some.
void lint_age_description(std::string_view text, const LintReport& report);

}  // namespace lumivex
