#include "sdl/lint.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/lexical.h"
#include "core/text.h"
#include "sdl/descriptor.h"

namespace lumivex {
namespace {

constexpr std::string_view kOpening = "STATEDESC";
constexpr std::array<std::string_view, 1> kOpenings = {kOpening};
constexpr std::array<std::string_view, 3> kLineStarts = {"VAR", "VERSION", "STATEDESC"};
constexpr std::string_view kNeverClosed = "is never closed by a \"}\" line: dropped";
// The options by their names, the "=" that ends each prefix left out.
constexpr std::array<std::string_view, kSdlOptionPrefixes.size()> kOptionNames = [] {
  std::array<std::string_view, kSdlOptionPrefixes.size()> names;
  for (std::size_t i = 0; i < names.size(); ++i)
    names[i] = kSdlOptionPrefixes[i].substr(0, kSdlOptionPrefixes[i].size() - 1);
  return names;
}();

// Whether a line opens a descriptor: what tells a state description with
// mistakes from text that is none.
bool opens_a_descriptor(std::string_view text) {
  LineWords words(text);
  while (words.next_line()) {
    const auto first = words.next_word();
    if (first && first->starts_with(kOpening)) return true;
  }
  return false;
}

// The text from the start of one word of a line to the end of a later one.
std::string_view spanning(std::string_view first, std::string_view last) {
  return {first.data(), static_cast<std::size_t>(last.data() + last.size() - first.data())};
}

bool is_option(std::string_view word) {
  for (const std::string_view prefix : kSdlOptionPrefixes)
    if (word.starts_with(prefix)) return true;
  return false;
}

std::string unknown_option(std::string_view word) {
  const std::size_t equals = word.find('=');
  const std::string_view name = word.substr(0, equals);
  const auto closest = closest_name(name, kOptionNames);
  std::string reason = "unknown option " + quote_piece(word) + ": ignored";
  if (closest && equals == std::string_view::npos)
    return reason + " (an option is written " + std::string(*closest) + "=value, without spaces)";
  if (closest) return reason + " (did you mean " + debug_quote(std::string(*closest) + "=") + "?)";
  return reason;
}

// Walks the lines as the parser does, reporting what it skips, guesses or
// defaults. The problems of an open descriptor wait until it is closed or
// dropped, when what is told of the whole descriptor goes in after those of
// its STATEDESC line.
class Lint {
 public:
  Lint(std::string_view text, const LintReport& report) : text_(text), report_(report), words_(text) {}

  void run() {
    while (words_.next_line()) {
      ++number_;
      const auto first = words_.next_word();
      if (!first || first->front() == '#') continue;
      first_at_ = static_cast<std::size_t>(first->data() - text_.data());
      if (*first == "{") {
        if (const auto extra = words_.next_word()) problem("text after \"{\" is ignored: " + rest_from(*extra));
        continue;
      }
      if (first->starts_with(kOpening)) {
        open(*first);
        continue;
      }
      const auto second = words_.next_word();
      if (*first == "}" && !second) {
        if (open_) {
          close(open_->has_version ? "" : "has no VERSION line: its version is 0");
        } else {
          problem("\"}\" closes no descriptor: skipped");
        }
      } else if (!open_) {
        problem("outside any descriptor: skipped" + did_you_mean(*first, kOpenings));
      } else if (first->front() == '}') {
        problem("not a closing line: skipped (\"}\" closes a descriptor only alone on its line)");
      } else if (*first == "VERSION") {
        version(second);
      } else if (*first == "VAR") {
        variable(second);
      } else {
        problem("not understood: skipped" + did_you_mean(*first, kLineStarts));
      }
    }
    if (open_) close(kNeverClosed);
  }

 private:
  struct Open {
    std::string_view name;
    std::size_t line = 0;
    std::string_view text;
    bool has_version = false;
    std::size_t own_problems = 0;  // waiting, its STATEDESC line's
  };

  // The current line, found once it has a problem.
  std::string_view line_text() {
    if (text_of_line_ != number_) {
      line_ = line_around(text_, first_at_);
      text_of_line_ = number_;
    }
    return line_;
  }

  void problem(std::string reason) {
    LintProblem found{number_, line_text(), std::move(reason)};
    if (open_) {
      waiting_.push_back(std::move(found));
    } else {
      report_(std::move(found));
    }
  }

  // The text from word `first` to the end of the line, as a quoted piece.
  std::string rest_from(std::string_view first) {
    std::string_view last = first;
    while (const auto word = words_.next_word()) last = *word;
    return quote_piece(spanning(first, last));
  }

  void open(std::string_view first) {
    // A descriptor still open is dropped unfinished.
    if (open_) close(kNeverClosed);
    const auto name = words_.next_word();
    open_ = Open{name.value_or(""), number_, line_text()};
    if (first != kOpening) {
      problem(quote_piece(first) + " is read as STATEDESC: it opens a descriptor named " + quote_piece(open_->name));
    } else if (!name) {
      problem("STATEDESC without a name: the descriptor's name is empty");
    }
    if (name) {
      if (const auto extra = words_.next_word())
        problem("text after the descriptor's name is ignored: " + rest_from(*extra));
    }
    open_->own_problems = waiting_.size();
  }

  // Ends the open descriptor, with what is told of it as a whole, if anything.
  void close(std::string_view told) {
    if (!told.empty()) {
      const auto at = waiting_.begin() + static_cast<std::ptrdiff_t>(open_->own_problems);
      waiting_.insert(at,
                      {open_->line, open_->text, "descriptor " + quote_piece(open_->name) + " " + std::string(told)});
    }
    for (LintProblem& waiting : waiting_) report_(std::move(waiting));
    waiting_.clear();
    open_.reset();
  }

  void version(std::optional<std::string_view> number) {
    if (!number) {
      problem("VERSION without a number: skipped");
      return;
    }
    open_->has_version = true;
    if (!parse_unsigned_decimal(*number, UINT32_MAX))
      problem("version " + quote_piece(*number) + " is not a whole number from 0 to 4294967295: 0 is used");
    if (const auto extra = words_.next_word()) problem("text after the version is ignored: " + rest_from(*extra));
  }

  void variable(std::optional<std::string_view> type_word) {
    if (!type_word) {
      problem("VAR without a type and a name: skipped");
      return;
    }
    const auto name_word = words_.next_word();
    if (!name_word) {
      problem("VAR without a name after its type: skipped");
      return;
    }
    const bool nested = type_word->front() == '$';
    const auto type = sdl_type_of_word(*type_word);
    if (!type && !nested) {
      problem("unknown type " + quote_piece(*type_word) + ": the variable's type is StateDescriptor" +
              did_you_mean(*type_word, sdl_type_keywords()));
    }
    count(*name_word);
    if (type) {
      options();
    } else if (const auto option = words_.next_word()) {
      problem(std::string(nested ? "options of a nested descriptor's variable are ignored: "
                                 : "options of a variable of unknown type are ignored: ") +
              rest_from(*option));
    }
  }

  void count(std::string_view name_word) {
    const std::size_t bracket = name_word.find('[');
    if (bracket == std::string_view::npos) return;
    const std::string_view after = name_word.substr(bracket + 1);
    const std::string_view count_text = sdl_count_text(after);
    const auto count = count_text.empty() ? std::optional<uint64_t>(0) : parse_unsigned_decimal(count_text, UINT64_MAX);
    if (!name_word.ends_with(']')) {
      problem("no \"]\" at the end of " + quote_piece(name_word) + ": the count is " +
              std::to_string(count.value_or(1)) + (after.empty() ? "" : ", its last character taken for the \"]\""));
    } else if (!count) {
      problem("count " + quote_piece(count_text) + " is not a whole number from 0 to 18446744073709551615: 1 is used");
    }
  }

  void options() {
    while (auto word = words_.next_word()) {
      if (is_option(*word)) continue;
      if (word->front() != '#') {
        problem(unknown_option(*word));
        continue;
      }
      // A comment, up to the end of the line or an option written after it.
      const std::string_view comment = *word;
      std::string_view last = comment;
      while ((word = words_.next_word()) && !is_option(*word)) last = *word;
      problem(quote_piece(spanning(comment, last)) +
              " is ignored: a \"#\" starts a comment only at the start of a line");
      if (!word) return;
    }
  }

  std::string_view text_;
  const LintReport& report_;
  LineWords words_;
  std::size_t number_ = 0;
  std::size_t first_at_ = 0;  // where the current line's first word lies
  std::size_t text_of_line_ = 0;
  std::string_view line_;
  std::optional<Open> open_;
  std::vector<LintProblem> waiting_;
};

}  // namespace

void lint_state_descriptions(std::string_view text, const LintReport& report) {
  const std::string_view content = skip_byte_order_mark(text);
  if (report_not_utf8(content, report)) return;
  if (!opens_a_descriptor(content)) {
    report({0, {}, "not a state description: no line opens a descriptor with STATEDESC, which is case-sensitive"});
    return;
  }
  Lint(content, report).run();
}

}  // namespace lumivex
