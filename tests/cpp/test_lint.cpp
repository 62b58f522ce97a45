#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "age/description.h"
#include "age/lint.h"
#include "check.h"
#include "core/lint.h"
#include "sdl/descriptor.h"
#include "sdl/lint.h"

using namespace lumivex;

namespace {

using Linter = void (*)(std::string_view, const LintReport&);

std::vector<LintProblem> problems_of(Linter lint, std::string_view text) {
  std::vector<LintProblem> all;
  lint(text, [&](LintProblem&& problem) { all.push_back(std::move(problem)); });
  return all;
}

std::vector<std::string> reasons_of(Linter lint, std::string_view text) {
  std::vector<std::string> reasons;
  for (const LintProblem& problem : problems_of(lint, text)) reasons.push_back(problem.reason);
  return reasons;
}

// Everything a parse keeps, to compare two parses.
auto age_result(std::string_view text) {
  const AgeDescription age = AgeDescription::parse("A", text);
  std::vector<std::tuple<std::string, uint32_t, uint8_t>> pages;
  for (const AgePage& page : age.pages) pages.emplace_back(age.name_of(page), page.seq_suffix, page.flags);
  return std::tuple(pages, age.start_date_time, age.day_length, age.max_capacity, age.linger_time, age.sequence_prefix,
                    age.release_version);
}

auto sdl_result(std::string_view text) {
  using Variable = std::tuple<std::string, SdlType, uint64_t, std::optional<std::string>, std::optional<std::string>,
                              std::optional<std::string>>;
  std::vector<std::tuple<std::string, uint32_t, std::vector<Variable>>> all;
  const auto owned = [](std::optional<std::string_view> text) {
    return text ? std::optional<std::string>(*text) : std::nullopt;
  };
  for (const StateDescriptor& descriptor : parse_state_descriptors(text)) {
    std::vector<Variable> variables;
    for (std::size_t i = 0; i < descriptor.variable_count(); ++i) {
      const VarDescriptor v = descriptor.variable(i);
      variables.emplace_back(v.name, v.var_type, v.count, owned(v.default_value), owned(v.default_option),
                             owned(v.display_option));
    }
    all.emplace_back(descriptor.name, descriptor.version, variables);
  }
  return all;
}

// The lines of a text as the parsers split them, a carriage return before a
// line feed dropped.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t begin = 0; begin <= text.size();) {
    std::size_t end = text.find('\n', begin);
    const bool fed = end != std::string_view::npos;
    if (!fed) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    if (fed && line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    begin = end + 1;
  }
  return lines;
}

bool is_skipped(const LintProblem& problem) { return problem.reason.find(": skipped") != std::string::npos; }

// Texts of random lines, mistakes among them, in both formats' shapes.
const std::vector<std::string_view> kAgeLines = {
    "Page=A",
    "Page=B,2",
    "Page=C,x",
    "Page=D,1,300",
    "Page=E,1,1,z",
    "Page=F, 3",
    "Page=G,,1",
    "Pgae=H",
    "page=I",
    "DayLength=3",
    "DayLength=x",
    "MaxCapacity=5",
    "MaxCapacity=",
    "  = 4",
    "foo",
    "# c=1",
    "[Pages]",
    "",
    "StartDateTime=-1",
    "LingerTime=7",
    "ReleaseVersion=+2",
    "Sequenceprefix=1",
    "Page=J\r",
    " Page = K ,2 ",
};
const std::vector<std::string_view> kSdlLines = {
    "STATEDESC A",
    "STATEDESC",
    "STATEDESCB",
    "STATEDESC C extra words",
    "{",
    "{ x",
    "}",
    "};",
    "} x",
    "VERSION 2",
    "VERSION",
    "VERSION x 3",
    "VAR INT a",
    "VAR INT b[2] DEFAULT=1 DISPLAYOPTION=red",
    "VAR INT c[x]",
    "VAR INT c[5",
    "VAR RGBA8 d DEFAULT=1",
    "VAR $S e[3 DEFAULT=1",
    "VAR INT f DEFALT=1 DEFAULT=2",
    "VAR INT g DEFAULT = 1",
    "VAR",
    "VAR INT",
    "var INT h",
    "# VAR INT i",
    "foo bar",
    "VAR BOOL j # DEFAULT=1 x",
    "\tVAR\tFLOAT k\r",
};

std::string random_text(std::mt19937& random, const std::vector<std::string_view>& lines) {
  std::string text;
  const std::size_t count = random() % 30;
  for (std::size_t i = 0; i < count; ++i) {
    text += lines[random() % lines.size()];
    text += '\n';
  }
  if (random() % 2) text += lines[random() % lines.size()];
  return text;
}

// Each problem is a line of the text, in order; and the lines said to be
// skipped are: without them the text parses the same.
template <class Result>
void check_against_parser(Linter lint, Result (*parse)(std::string_view), std::string_view text) {
  const auto problems = problems_of(lint, text);
  const auto lines = lines_of(text);
  std::size_t last = 0;
  std::vector<bool> skipped(lines.size() + 1);
  for (const LintProblem& problem : problems) {
    CHECK(problem.line >= last);
    last = problem.line;
    if (problem.line == 0) {
      CHECK(problem.text.empty());
      continue;
    }
    CHECK(problem.line <= lines.size());
    if (problem.line > lines.size()) return;
    CHECK_EQ(problem.text, lines[problem.line - 1]);
    if (is_skipped(problem)) skipped[problem.line] = true;
  }
  std::string kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (skipped[i + 1]) continue;
    kept += lines[i];
    kept += '\n';
  }
  CHECK(parse(kept) == parse(text));
}

}  // namespace

TEST(lint_names_the_word_meant) {
  const std::vector<std::string_view> keys = {"Page", "DayLength", "MaxCapacity", "VAR", "DEFAULT"};
  CHECK_EQ(closest_name("Pgae", keys).value_or("-"), "Page");
  CHECK_EQ(closest_name("pAGE", keys).value_or("-"), "Page");
  CHECK_EQ(closest_name("DayLenght", keys).value_or("-"), "DayLength");
  CHECK_EQ(closest_name("daylen", keys).value_or("-"), "-");
  CHECK_EQ(closest_name("MaxCap", keys).value_or("-"), "-");
  CHECK_EQ(closest_name("VAT", keys).value_or("-"), "VAR");
  CHECK_EQ(closest_name("VA", keys).value_or("-"), "VAR");
  CHECK_EQ(closest_name("XAT", keys).value_or("-"), "-");
  CHECK_EQ(closest_name("", keys).value_or("-"), "-");
  CHECK_EQ(closest_name(std::string(100000, 'a'), keys).value_or("-"), "-");
  const std::vector<std::string_view> long_name = {"ABCDEFGHIJKLMNOPQ"};
  CHECK(!closest_name("ABCDEFGHIJKLMNOPQ", long_name));
  CHECK_EQ(did_you_mean("Pgae", keys), " (did you mean \"Page\"?)");
  CHECK_EQ(did_you_mean("Zzzz", keys), "");
}

TEST(lint_quotes_pieces_of_lines) {
  CHECK_EQ(quote_piece("a\"b\tc"), "\"a\\\"b\\tc\"");
  const std::string sixty(60, 'x');
  CHECK_EQ(quote_piece(sixty), std::string("\"").append(sixty).append("\""));
  CHECK_EQ(quote_piece(sixty + "x"), std::string("\"").append(sixty).append("\"..."));
  // Cut before a character that would not fit whole.
  CHECK_EQ(quote_piece(sixty.substr(1) + "\xC3\xA9zz"), std::string("\"").append(sixty.substr(1)).append("\"..."));
}

TEST(lint_finds_the_line_around_a_byte) {
  const std::string_view text = "ab\r\ncd\n\nef\r";
  CHECK_EQ(line_around(text, 0), "ab");
  CHECK_EQ(line_around(text, 3), "ab");
  CHECK_EQ(line_around(text, 4), "cd");
  CHECK_EQ(line_around(text, 7), "");
  // A carriage return ends a line only before a line feed.
  CHECK_EQ(line_around(text, 8), "ef\r");
}

// The settings Python does not show are linted as the parser reads them.
TEST(lint_age_keys_python_does_not_show) {
  CHECK(reasons_of(lint_age_description, "StartDateTime=4294967295\nLingerTime=-30\nReleaseVersion=+7").empty());
  CHECK_EQ(AgeDescription::parse("A", "StartDateTime=4294967296").start_date_time, 0u);
  CHECK(reasons_of(lint_age_description, "StartDateTime=4294967296\nLingerTime=2147483648\nReleaseVersion=-1") ==
        (std::vector<std::string>{
            "StartDateTime \"4294967296\" is not a whole number from 0 to 4294967295: 0 is used",
            "LingerTime \"2147483648\" is not a whole number from -2147483648 to 2147483647: -1 is used",
            "ReleaseVersion \"-1\" is not a whole number from 0 to 4294967295: 0 is used",
        }));
}

// The options Python does not show are linted as the parser reads them.
TEST(lint_sdl_options_python_does_not_show) {
  const std::string_view text =
      "STATEDESC A\n{\nVERSION 1\nVAR INT a DEFAULTOPTON=VAULT DISPLAYOPTION=hidden displayoption=x\n}\n";
  const auto descriptors = parse_state_descriptors(text);
  REQUIRE(descriptors.size() == 1);
  const auto variable = descriptors[0].variable(0);
  CHECK(!variable.default_option);
  CHECK_EQ(variable.display_option.value_or("-"), "hidden");
  CHECK(reasons_of(lint_state_descriptions, text) ==
        (std::vector<std::string>{
            "unknown option \"DEFAULTOPTON=VAULT\": ignored (did you mean \"DEFAULTOPTION=\"?)",
            "unknown option \"displayoption=x\": ignored (did you mean \"DISPLAYOPTION=\"?)",
        }));
}

// Random texts of lines right and wrong: every problem is a line of the text,
// and the lines said to be skipped change nothing the parser reads.
TEST(lint_agrees_with_the_parsers) {
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    check_against_parser(lint_age_description, age_result, random_text(random, kAgeLines));
    const std::string sdl = random_text(random, kSdlLines);
    check_against_parser(lint_state_descriptions, sdl_result, sdl);
    // A descriptor is finished for each STATEDESC line but those dropped.
    std::size_t opened = 0, dropped = 0;
    for (const std::string_view line : lines_of(sdl)) opened += line.starts_with("STATEDESC");
    for (const LintProblem& problem : problems_of(lint_state_descriptions, sdl))
      dropped += problem.reason.ends_with("dropped");
    if (opened) CHECK_EQ(parse_state_descriptors(sdl).size(), opened - dropped);
  }
}
