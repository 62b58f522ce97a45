#pragma once

// The lexical rules shared by the age and state description text formats:
// lines, white space, words and numbers. Every function accepts any bytes.
// The parsers take every byte of their text through the line and word steps,
// and most lines through the number parsers: those are inline.

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace lumivex {

namespace white_space {

// What 64 bytes of text hold: bit i of a mask tells about byte i.
struct BlockBits {
  uint64_t white = 0;   // ASCII white space; meaningful only when ascii
  uint64_t feeds = 0;   // line feeds
  uint64_t equals = 0;  // "=" signs
  bool ascii = true;    // no byte above 0x7F
};

// With the processor's vector instructions where there are any.
BlockBits classify(const uint8_t* p);
// The same with plain integer operations, the form every processor runs.
BlockBits classify_portable(const uint8_t* p);

}  // namespace white_space

// One block of 64 bytes of a text (fewer at its end) as masks, bit i telling
// about byte start + i. The parsers read their text through these masks, so
// that each line, word and setting is found with a few bit operations.
struct TextBlock {
  std::size_t start = 0;
  uint64_t white = 0;   // white space, multi-byte characters included, and the bytes past the end
  uint64_t feeds = 0;   // line feeds
  uint64_t equals = 0;  // "=" signs

  // Reads the block that holds byte `at`, the blocks lying at multiples of 64.
  // In place: a block returned whole would be read back in larger pieces than
  // it was written, which stalls the processor.
  void load(std::string_view text, std::size_t at);
};

// The UTF-8 byte-order mark that some editors write at the start of a file.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The text without one leading byte-order mark, which is no white space: a
// second one, or one anywhere else, stays part of the text.
std::string_view skip_byte_order_mark(std::string_view text);

// The words of a text, line by line: lines end at line feeds, and words are
// separated by runs of white space, which a line feed is too. The text is
// read 64 bytes at a time into masks of its white-space bytes and of its line
// feeds, so that each word and each line end is found with a few bit
// operations whatever their lengths.
class LineWords {
 public:
  explicit LineWords(std::string_view text) : text_(text) { block_.load(text, 0); }

  // Moves to the next line, the first at the first call; false when there is
  // none. The text after the last line feed is a line, even empty.
  bool next_line() {
    if (at_ == kBeforeFirstLine) {
      at_ = 0;
      return true;
    }
    for (std::size_t at = at_;;) {
      if (at >= text_.size()) return false;
      if (at - block_.start >= 64) block_.load(text_, at);
      const uint64_t feeds = block_.feeds >> (at - block_.start);
      if (feeds) {
        at_ = at + static_cast<std::size_t>(std::countr_zero(feeds)) + 1;
        return true;
      }
      at = block_.start + 64;
    }
  }

  // The next word of the current line; nothing once the line has no more.
  std::optional<std::string_view> next_word() {
    std::size_t at = at_;
    for (;;) {
      if (at >= text_.size()) return std::nullopt;
      if (at - block_.start >= 64) block_.load(text_, at);
      const unsigned shift = static_cast<unsigned>(at - block_.start);
      // 64 when there is none in the rest of the block.
      const int word = std::countr_zero(~block_.white >> shift);
      const int feed = std::countr_zero(block_.feeds >> shift);
      if (feed < word) {
        at_ = at + static_cast<std::size_t>(feed);
        return std::nullopt;
      }
      if (word < 64) {
        at += static_cast<std::size_t>(word);
        break;
      }
      at = block_.start + 64;
    }
    const std::size_t begin = at;
    for (;;) {
      // Bytes past the end count as white space: the last block ends every word.
      const int white = std::countr_zero(block_.white >> (at - block_.start));
      if (white < 64) {
        at += static_cast<std::size_t>(white);
        break;
      }
      at = block_.start + 64;
      if (at == text_.size()) break;
      block_.load(text_, at);
    }
    at_ = at;
    return std::string_view(text_.data() + begin, at - begin);
  }

 private:
  static constexpr std::size_t kBeforeFirstLine = ~std::size_t{0};

  std::string_view text_;
  TextBlock block_;
  std::size_t at_ = kBeforeFirstLine;  // where the search for a word or line end resumes
};

// Eight bytes as a word, the first in the lowest bits.
inline constexpr uint64_t kEachByte = 0x0101010101010101;
inline constexpr uint64_t kHighBits = kEachByte * 0x80;

inline uint64_t load_word(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The high bit set in each byte of a word that equals `byte`.
inline uint64_t bytes_equal(uint64_t word, uint8_t byte) {
  const uint64_t other = word ^ (kEachByte * byte);
  return ~(((other & (kEachByte * 0x7F)) + kEachByte * 0x7F) | other) & kHighBits;
}

// The place of the first `byte` in text, or its size: eight bytes at a time
// and inline, which finds the end of a short field sooner than a call.
inline std::size_t find_byte(std::string_view text, char byte) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const std::size_t size = text.size();
  if (size < 8) {
    std::size_t at = 0;
    while (at < size && text[at] != byte) ++at;
    return at;
  }
  for (std::size_t at = 0; at + 8 <= size; at += 8) {
    if (const uint64_t found = bytes_equal(load_word(p + at), static_cast<uint8_t>(byte)))
      return at + static_cast<std::size_t>(std::countr_zero(found)) / 8;
  }
  const std::size_t searched = size - size % 8;
  if (searched == size) return size;
  // The last eight bytes, those already searched shifted out.
  const uint64_t found = bytes_equal(load_word(p + size - 8), static_cast<uint8_t>(byte)) >> (8 * (8 - size % 8));
  return found ? searched + static_cast<std::size_t>(std::countr_zero(found)) / 8 : size;
}

inline bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// One or more ASCII digits and nothing else, at most max.
inline std::optional<uint64_t> parse_digits(std::string_view text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  // Nineteen digits or fewer cannot pass 64 bits: compared with max once.
  if (text.size() <= 19) {
    uint64_t value = 0;
    for (const char c : text) {
      if (!is_ascii_digit(c)) return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= max ? std::optional(value) : std::nullopt;
  }
  // value * 10 + digit stays at most max while value is below max / 10, or
  // equal to it with a digit at most max % 10.
  const uint64_t tenth = max / 10, last_digit = max % 10;
  uint64_t value = 0;
  for (const char c : text) {
    if (!is_ascii_digit(c)) return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > tenth || (value == tenth && digit > last_digit)) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// An optional "+" and one or more ASCII digits, at most max; nothing else.
inline std::optional<uint64_t> parse_unsigned_decimal(std::string_view text, uint64_t max) {
  if (text.starts_with('+')) text.remove_prefix(1);
  return parse_digits(text, max);
}

// An optional "+" or "-" and one or more ASCII digits, within 32 bits signed.
inline std::optional<int32_t> parse_i32_decimal(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  const auto magnitude = parse_digits(text, limit);
  if (!magnitude) return std::nullopt;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude));
}

// An optional sign, then a decimal number (digits with an optional point and
// fraction, not both empty, and an optional exponent) or one of inf, infinity
// and nan in any case; rounded to the nearest float, too large becoming
// infinity and too small zero.
std::optional<float> parse_f32(std::string_view text);

// The full Unicode upper case of a word when it is all ASCII, nothing when it
// is not (then it can equal no ASCII keyword).
std::optional<std::string> ascii_upper_case(std::string_view word);

}  // namespace lumivex
