#pragma once

// The lexical rules shared by the age and state description text formats:
// lines, white space, words and numbers. Every function accepts any bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivex {

// The input split at line feeds, a carriage return before a line feed going
// with it; the text after the last line feed is a line too when not empty.
// Each line comes out trimmed of white space.
class TrimmedLines {
 public:
  explicit TrimmedLines(std::string_view text) : rest_(text) {}
  std::optional<std::string_view> next();

 private:
  std::string_view rest_;
};

// The words of a text, separated by runs of white space.
class Words {
 public:
  explicit Words(std::string_view text) : rest_(text) {}
  std::optional<std::string_view> next();

 private:
  std::string_view rest_;
};

// Removes white space at both ends. White space is the Unicode White_Space
// set: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F and U+3000.
std::string_view trim_white_space(std::string_view text);

// An optional "+" and one or more ASCII digits, at most max; nothing else.
std::optional<uint64_t> parse_unsigned_decimal(std::string_view text, uint64_t max);

// An optional "+" or "-" and one or more ASCII digits, within 32 bits signed.
std::optional<int32_t> parse_i32_decimal(std::string_view text);

// An optional sign, then a decimal number (digits with an optional point and
// fraction, not both empty, and an optional exponent) or one of inf, infinity
// and nan in any case; rounded to the nearest float, too large becoming
// infinity and too small zero.
std::optional<float> parse_f32(std::string_view text);

// The full Unicode upper case of a word when it is all ASCII, nothing when it
// is not (then it can equal no ASCII keyword).
std::optional<std::string> ascii_upper_case(std::string_view word);

}  // namespace lumivex
