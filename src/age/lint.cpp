#include "age/lint.h"

#include <array>
#include <cstdint>
#include <string>

#include "age/description.h"
#include "age/settings.h"
#include "core/lexical.h"

namespace lumivex {
namespace {

using age_text::Fields;
using age_text::SettingLine;
using age_text::Settings;

// How a key's value is read.
enum class Grammar : uint8_t { Unsigned32, Signed32, Float, Page };

// A key of the description, and what the parser takes when its value does
// not parse.
struct Key {
  std::string_view name;
  Grammar grammar;
  std::string_view fallback;
};

constexpr std::array<Key, 7> kKeys = {{
    {"StartDateTime", Grammar::Unsigned32, "0"},
    {"DayLength", Grammar::Float, "24.0"},
    {"MaxCapacity", Grammar::Signed32, "-1"},
    {"LingerTime", Grammar::Signed32, "-1"},
    {"SequencePrefix", Grammar::Signed32, "0"},
    {"ReleaseVersion", Grammar::Unsigned32, "0"},
    {"Page", Grammar::Page, ""},
}};

constexpr std::array<std::string_view, kKeys.size()> kKeyNames = [] {
  std::array<std::string_view, kKeys.size()> names;
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kKeys[i].name;
  return names;
}();

constexpr std::string_view kUnsigned32 = "a whole number from 0 to 4294967295";

const Key* key_named(std::string_view name) {
  for (const Key& key : kKeys)
    if (key.name == name) return &key;
  return nullptr;
}

bool parses(Grammar grammar, std::string_view value) {
  switch (grammar) {
    case Grammar::Unsigned32:
      return parse_unsigned_decimal(value, UINT32_MAX).has_value();
    case Grammar::Signed32:
      return parse_i32_decimal(value).has_value();
    case Grammar::Float:
      return parse_f32(value).has_value();
    case Grammar::Page:
      break;
  }
  return true;
}

std::string_view expected(Grammar grammar) {
  switch (grammar) {
    case Grammar::Unsigned32:
      return kUnsigned32;
    case Grammar::Signed32:
      return "a whole number from -2147483648 to 2147483647";
    case Grammar::Float:
    case Grammar::Page:
      break;
  }
  return "a number";
}

// Whether a text is an age description, if one with mistakes: a line sets
// one of its keys. Near misses do not count: any text has words like them.
bool sets_a_key(std::string_view text) {
  std::string_view key, value;
  for (Settings settings(text); settings.next(key, value);)
    if (key_named(key)) return true;
  return false;
}

std::string_view trim_spaces(std::string_view field) {
  const std::size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return field.substr(first, field.find_last_not_of(" \t") + 1 - first);
}

// A page field that would parse but for the spaces an author put around it.
std::string spaces_hint(std::string_view field, uint64_t max) {
  const std::string_view trimmed = trim_spaces(field);
  if (trimmed.size() == field.size() || !parse_unsigned_decimal(trimmed, max)) return "";
  return " (no spaces around the commas)";
}

using Problem = std::function<void(std::string)>;

// Name, then an optional sequence suffix that restarts the running counter,
// then optional flags, as the parser reads them.
void lint_page(std::string_view value, uint32_t& counter, const Problem& problem) {
  Fields fields(value);
  const std::string_view name = *fields.next();
  const auto page = [&] { return "page " + quote_piece(name) + ": "; };
  if (const auto refusal = page_name_refusal(name))
    problem(page() + "not a plain file name (" + *refusal + "): no page file is looked for");
  if (const auto suffix = fields.next()) {
    if (const auto number = parse_unsigned_decimal(*suffix, UINT32_MAX)) {
      counter = static_cast<uint32_t>(*number);
    } else {
      const std::string what = suffix->empty() ? "no sequence suffix between the commas"
                                               : "sequence suffix " + quote_piece(*suffix) + " is not " +
                                                     std::string(kUnsigned32) + spaces_hint(*suffix, UINT32_MAX);
      problem(page() + what + ": " + std::to_string(counter) + " is used");
    }
  }
  if (const auto flags = fields.next()) {
    if (!parse_unsigned_decimal(*flags, UINT8_MAX)) {
      const std::string what = flags->empty()
                                   ? "no flags after the comma"
                                   : "flags " + quote_piece(*flags) + " are not a whole number from 0 to 255" +
                                         spaces_hint(*flags, UINT8_MAX);
      problem(page() + what + ": 0 is used");
    }
    if (const auto rest = fields.rest()) problem(page() + "text after the flags is ignored: " + quote_piece(*rest));
  }
  ++counter;  // wraps to 0 after the largest suffix, as the parser's does
}

void lint_setting(std::string_view name, std::string_view value, uint32_t& page_counter, const Problem& problem) {
  if (name.empty()) {
    problem("no key before \"=\": skipped");
    return;
  }
  const Key* key = key_named(name);
  if (!key) {
    problem("unknown key " + quote_piece(name) + ": skipped" + did_you_mean(name, kKeyNames));
    return;
  }
  if (key->grammar == Grammar::Page) {
    lint_page(value, page_counter, problem);
    return;
  }
  if (parses(key->grammar, value)) return;
  const std::string used = ": " + std::string(key->fallback) + " is used";
  if (value.empty()) {
    problem(std::string(key->name) + " has no value" + used);
    return;
  }
  const std::string comment_hint =
      value.find('#') == std::string_view::npos ? "" : " (a \"#\" starts a comment only at the start of a line)";
  problem(std::string(key->name) + " " + quote_piece(value) + " is not " + std::string(expected(key->grammar)) +
          comment_hint + used);
}

}  // namespace

void lint_age_description(std::string_view text, const LintReport& report) {
  const std::string_view content = skip_byte_order_mark(text);
  if (report_not_utf8(content, report)) return;
  if (!sets_a_key(content)) {
    std::string keys;
    for (const std::string_view name : kKeyNames) keys += (keys.empty() ? "" : ", ") + std::string(name);
    report({0, {}, "not an age description: no line sets one of its keys, which are case-sensitive: " + keys});
    return;
  }
  uint32_t page_counter = 1;
  std::size_t number = 0;
  SettingLine line;
  const Problem problem = [&](std::string reason) { report({number, line.text, std::move(reason)}); };
  for (Settings settings(content); settings.next_line(line);) {
    ++number;
    switch (line.kind) {
      case SettingLine::Kind::Blank:
      case SettingLine::Kind::Comment:
        break;
      case SettingLine::Kind::NoEquals:
        problem("not a setting (no \"=\"): skipped");
        break;
      case SettingLine::Kind::Setting:
        lint_setting(line.key, line.value, page_counter, problem);
        break;
    }
  }
}

}  // namespace lumivex
