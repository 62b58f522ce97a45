#pragma once

// What the lints of the text formats share: the problem each reports for a
// line its parser skips, guesses or defaults, the name a misspelt word was
// meant to be, and how a piece of a line is quoted in a reason.

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumivex {

struct LintProblem {
  std::size_t line = 0;   // from 1; 0 for the text as a whole
  std::string_view text;  // the line as written, without its line end; empty for line 0
  std::string reason;
};

// Receives each problem of a text, in the order of their lines. The texts are
// views of the linted text, UTF-8 but in the problem that says they are not.
using LintReport = std::function<void(LintProblem&&)>;

// Reports the first line of text that is not UTF-8, and returns whether there
// is one: the parsers refuse such a file whole, so nothing else of it counts.
bool report_not_utf8(std::string_view text, const LintReport& report);

// The line of text that holds byte `at`, without its line feed and the
// carriage return before it.
std::string_view line_around(std::string_view text, std::size_t at);

// The name a misspelt word was meant to be: the one it equals but for ASCII
// case, else the nearest within an edit or two (a letter added, dropped,
// changed, or two swapped; one edit for names of four letters or fewer).
// Names longer than 16 bytes are passed over.
std::optional<std::string_view> closest_name(std::string_view word, std::span<const std::string_view> names);

// " (did you mean "Name"?)" for the closest name, or nothing.
std::string did_you_mean(std::string_view word, std::span<const std::string_view> names);

// A piece of a line in double quotes, escaped, and cut after its first 60
// bytes with "..." after the quotes: the problem holds the whole line.
std::string quote_piece(std::string_view piece);

}  // namespace lumivex
