#include "core/lexical.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "core/unicode_tables.h"

namespace lumivex {
namespace {

// Length of the white-space character that starts at text[at], or 0. The
// multi-byte ones begin with a lead byte, so scanning byte by byte never
// finds one inside another character.
std::size_t white_space_at(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[at + i]); };
  const std::size_t left = text.size() - at;
  const uint8_t lead = byte(0);
  if ((lead >= 0x09 && lead <= 0x0D) || lead == 0x20) return 1;
  if (left >= 2 && lead == 0xC2 && (byte(1) == 0x85 || byte(1) == 0xA0)) return 2;
  if (left < 3) return 0;
  const uint8_t second = byte(1), third = byte(2);
  const bool white = (lead == 0xE1 && second == 0x9A && third == 0x80) ||
                     (lead == 0xE2 && second == 0x80 &&
                      ((third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 || third == 0xAF)) ||
                     (lead == 0xE2 && second == 0x81 && third == 0x9F) ||
                     (lead == 0xE3 && second == 0x80 && third == 0x80);
  return white ? 3 : 0;
}

// Length of the white-space character that ends the text, or 0.
std::size_t white_space_before_end(std::string_view text) {
  for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
    if (white_space_at(text, text.size() - length) == length) return length;
  }
  return 0;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One or more ASCII digits and nothing else, at most max.
std::optional<uint64_t> parse_digits(std::string_view text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower[i]) return false;
  }
  return true;
}

std::size_t count_digits(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && is_digit(text[end])) ++end;
  return end - from;
}

// An unsigned decimal number with optional fraction and exponent, rounded to
// the nearest float.
std::optional<float> parse_decimal_magnitude(std::string_view text) {
  const std::size_t int_digits = count_digits(text, 0);
  std::size_t at = int_digits;
  std::size_t fraction_digits = 0;
  if (at < text.size() && text[at] == '.') {
    fraction_digits = count_digits(text, at + 1);
    at += 1 + fraction_digits;
  }
  if (int_digits + fraction_digits == 0) return std::nullopt;
  const std::string_view mantissa = text.substr(0, at);
  // Saturated far beyond any float's range, so that it cannot overflow.
  constexpr int64_t kExponentLimit = int64_t{1} << 40;
  int64_t exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t exponent_digits = count_digits(text, at);
    if (exponent_digits == 0) return std::nullopt;
    for (std::size_t i = at; i < at + exponent_digits; ++i)
      exponent = std::min(exponent * 10 + (text[i] - '0'), kExponentLimit);
    if (negative) exponent = -exponent;
    at += exponent_digits;
  }
  if (at != text.size()) return std::nullopt;

  float value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (result.ec == std::errc{} && result.ptr == text.data() + text.size()) return value;
  if (result.ec != std::errc::result_out_of_range) return std::nullopt;
  // Out of range: too large when the first significant digit stands at or
  // above the units place, too small otherwise.
  const std::size_t first = mantissa.find_first_of("123456789");
  const auto place =
      first < int_digits ? static_cast<int64_t>(int_digits - 1 - first) : -static_cast<int64_t>(first - int_digits);
  return place + exponent >= 0 ? std::numeric_limits<float>::infinity() : 0.0f;
}

}  // namespace

std::optional<std::string_view> TrimmedLines::next() {
  if (rest_.empty()) return std::nullopt;
  const std::size_t end = rest_.find('\n');
  const std::string_view line = rest_.substr(0, end);
  rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
  // A carriage return before the line feed is white space: the trim drops it.
  return trim_white_space(line);
}

std::optional<std::string_view> Words::next() {
  std::size_t begin = 0;
  while (begin < rest_.size()) {
    const std::size_t white = white_space_at(rest_, begin);
    if (!white) break;
    begin += white;
  }
  if (begin == rest_.size()) {
    rest_ = {};
    return std::nullopt;
  }
  std::size_t end = begin;
  while (end < rest_.size() && !white_space_at(rest_, end)) ++end;
  const std::string_view word = rest_.substr(begin, end - begin);
  rest_ = rest_.substr(end);
  return word;
}

std::string_view trim_white_space(std::string_view text) {
  while (!text.empty()) {
    const std::size_t white = white_space_at(text, 0);
    if (!white) break;
    text.remove_prefix(white);
  }
  while (const std::size_t white = white_space_before_end(text)) text.remove_suffix(white);
  return text;
}

std::optional<uint64_t> parse_unsigned_decimal(std::string_view text, uint64_t max) {
  if (text.starts_with('+')) text.remove_prefix(1);
  return parse_digits(text, max);
}

std::optional<int32_t> parse_i32_decimal(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  const auto magnitude = parse_digits(text, limit);
  if (!magnitude) return std::nullopt;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude));
}

std::optional<float> parse_f32(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  std::optional<float> magnitude;
  if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity")) {
    magnitude = std::numeric_limits<float>::infinity();
  } else if (equals_ignoring_ascii_case(text, "nan")) {
    magnitude = std::numeric_limits<float>::quiet_NaN();
  } else {
    magnitude = parse_decimal_magnitude(text);
  }
  if (!magnitude) return std::nullopt;
  return negative ? -*magnitude : *magnitude;
}

std::optional<std::string> ascii_upper_case(std::string_view word) {
  std::string upper;
  upper.reserve(word.size());
  std::size_t at = 0;
  while (at < word.size()) {
    const char c = word[at];
    if (static_cast<uint8_t>(c) < 0x80) {
      upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
      ++at;
      continue;
    }
    const unicode::UpperCaseToAscii* match = nullptr;
    for (std::size_t i = 0; i < unicode::kUpperCaseToAscii_count && !match; ++i) {
      if (word.substr(at).starts_with(unicode::kUpperCaseToAscii[i].utf8)) match = &unicode::kUpperCaseToAscii[i];
    }
    if (!match) return std::nullopt;
    upper.append(match->upper);
    at += std::strlen(match->utf8);
  }
  return upper;
}

}  // namespace lumivex
