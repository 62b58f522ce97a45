// The ".age" and ".sdl" parsers on arbitrary text: both must give a result
// for any UTF-8 text. Their lints take any bytes, and report each problem as
// a line of the text, in line order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "age/description.h"
#include "age/lint.h"
#include "core/text.h"
#include "sdl/descriptor.h"
#include "sdl/lint.h"

namespace {

void lint_in_order(void (*lint)(std::string_view, const lumivex::LintReport&), std::string_view text) {
  std::size_t last_line = 0;
  lint(text, [&](lumivex::LintProblem&& problem) {
    const bool within =
        problem.text.empty() ||
        (problem.text.data() >= text.data() && problem.text.data() + problem.text.size() <= text.data() + text.size());
    if (problem.line < last_line || !within || problem.reason.empty()) std::abort();
    last_line = problem.line;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  lint_in_order(lumivex::lint_age_description, text);
  lint_in_order(lumivex::lint_state_descriptions, text);
  // Both parsers are only ever given UTF-8: files are checked when read.
  if (!lumivex::is_valid_utf8(text)) return 0;
  const auto age = lumivex::AgeDescription::parse("Fuzz", text);
  for (const auto& page : age.pages) age.prp_filename(age.name_of(page));
  for (const auto& descriptor : lumivex::parse_state_descriptors(text))
    for (std::size_t i = 0; i < descriptor.variable_count(); ++i) descriptor.variable(i);
  return 0;
}
