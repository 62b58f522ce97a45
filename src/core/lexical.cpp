#include "core/lexical.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/unicode_tables.h"

namespace lumivex {
namespace {

// What a byte can begin: 1 for ASCII white space, 2 for the lead byte of a
// multi-byte white-space character (U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000), 0 for anything else.
constexpr std::array<uint8_t, 256> kWhiteStart = [] {
  std::array<uint8_t, 256> table{};
  for (int c = 0x09; c <= 0x0D; ++c) table[c] = 1;
  table[0x20] = 1;
  for (const int lead : {0xC2, 0xE1, 0xE2, 0xE3}) table[lead] = 2;
  return table;
}();

// Length of the multi-byte white-space character at p, whose lead byte may
// begin one, with left bytes available; 0 when there is none.
std::size_t multi_byte_white_space(const uint8_t* p, std::size_t left) {
  if (p[0] == 0xC2) return left >= 2 && (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;
  if (left < 3) return 0;
  const uint8_t lead = p[0], second = p[1], third = p[2];
  const bool white = (lead == 0xE1 && second == 0x9A && third == 0x80) ||
                     (lead == 0xE2 && second == 0x80 &&
                      ((third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 || third == 0xAF)) ||
                     (lead == 0xE2 && second == 0x81 && third == 0x9F) ||
                     (lead == 0xE3 && second == 0x80 && third == 0x80);
  return white ? 3 : 0;
}

// Length of the white-space character that starts at p, or 0. The multi-byte
// ones begin with a lead byte, so scanning byte by byte never finds one inside
// another character.
std::size_t white_space_at(const uint8_t* p, std::size_t left) {
  const uint8_t start = kWhiteStart[p[0]];
  return start == 2 ? multi_byte_white_space(p, left) : start;
}

// The high bit of each byte of the word gathered into eight bits, by a
// multiplication that moves each into the top byte.
uint64_t gather_high_bits(uint64_t word) { return (((word & kHighBits) >> 7) * 0x0102040810204080) >> 56; }

// The high bit set in each byte of an ASCII word that is white space.
uint64_t ascii_white_bytes(uint64_t word) {
  // No sum carries into the next byte, each byte being below 0x80.
  uint64_t white = ~(word + kEachByte * (0x80 - 0x21)) & kHighBits;  // at most 0x20
  const uint64_t control = ~(word + kEachByte * (0x80 - 0x20)) & kHighBits;
  // Below the space, only tab to carriage return are white space.
  if (control) white &= ~control | ((word + kEachByte * (0x80 - 0x09)) & ~(word + kEachByte * (0x80 - 0x0E)));
  return white;
}

// Bit i set for each byte start + i of the text (count bytes, at most 64,
// some of them not ASCII) that is part of a white-space character.
uint64_t block_white_bits(const uint8_t* p, std::size_t size, std::size_t start, std::size_t count) {
  uint64_t white = 0;
  // A character that begins in the two bytes before the block may end in it.
  std::size_t at = start >= 2 ? start - 2 : 0;
  while (at < start + count) {
    const std::size_t length = white_space_at(p + at, size - at);
    if (length == 0) {
      ++at;
      continue;
    }
    for (std::size_t i = std::max(at, start); i < std::min(at + length, start + count); ++i)
      white |= uint64_t{1} << (i - start);
    at += length;
  }
  return white;
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
  while (end < text.size() && is_ascii_digit(text[end])) ++end;
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

white_space::BlockBits white_space::classify_portable(const uint8_t* p) {
  BlockBits bits;
  uint64_t bytes = 0;  // every byte or-ed together
  for (std::size_t k = 0; k < 64; k += 8) {
    const uint64_t word = load_word(p + k);
    bytes |= word;
    bits.white |= gather_high_bits(ascii_white_bytes(word)) << k;
    bits.feeds |= gather_high_bits(bytes_equal(word, '\n')) << k;
    bits.equals |= gather_high_bits(bytes_equal(word, '=')) << k;
  }
  bits.ascii = (bytes & kHighBits) == 0;
  return bits;
}

#if defined(__SSE2__)
white_space::BlockBits white_space::classify(const uint8_t* p) {
  BlockBits bits;
  int high = 0;
  for (std::size_t k = 0; k < 64; k += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    const __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    // Tab to carriage return: the byte less 9 is at most 4.
    const __m128i control =
        _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(bytes, _mm_set1_epi8(0x09)), _mm_set1_epi8(4)), _mm_setzero_si128());
    const auto mask = [](__m128i flags) {
      return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(flags)));
    };
    bits.white |= mask(_mm_or_si128(space, control)) << k;
    bits.feeds |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))) << k;
    bits.equals |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('='))) << k;
    high |= _mm_movemask_epi8(bytes);
  }
  bits.ascii = high == 0;
  return bits;
}
#else
white_space::BlockBits white_space::classify(const uint8_t* p) { return classify_portable(p); }
#endif

void TextBlock::load(std::string_view text, std::size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const std::size_t start = at - at % 64;
  const std::size_t count = std::min<std::size_t>(64, text.size() - start);
  white_space::BlockBits bits;
  if (count == 64) {
    bits = white_space::classify(p + start);
  } else {
    // The last bytes, padded with zeros, which are neither white space nor
    // line feeds nor "=".
    uint8_t last[64] = {};
    std::memcpy(last, p + start, count);
    bits = white_space::classify(last);
  }
  if (!bits.ascii) bits.white = block_white_bits(p, text.size(), start, count);
  this->start = start;
  white = bits.white | (count == 64 ? 0 : ~uint64_t{0} << count);
  feeds = bits.feeds;
  equals = bits.equals;
}

std::string_view skip_byte_order_mark(std::string_view text) {
  return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
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
