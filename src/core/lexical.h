#pragma once

// The lexical rules shared by the age and state description text formats:
// lines, white space, words and numbers. Every function accepts any bytes.

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivex {

namespace white_space {

// What 64 bytes of text hold: bit i of a mask tells about byte i.
struct BlockBits {
  uint64_t white = 0;  // ASCII white space
  uint64_t feeds = 0;  // line feeds
  bool ascii = true;   // no byte above 0x7F
};

// With the processor's vector instructions where there are any.
BlockBits classify(const uint8_t* p);
// The same with plain integer operations, the form every processor runs.
BlockBits classify_portable(const uint8_t* p);

}  // namespace white_space

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

// The words of a text, line by line: lines end at line feeds, and words are
// separated by runs of white space, which a line feed is too. The text is
// read 64 bytes at a time into masks of its white-space bytes and of its line
// feeds, so that each word and each line end is found with a few bit
// operations whatever their lengths.
class LineWords {
 public:
  explicit LineWords(std::string_view text) : text_(text) { load_block(0); }

  // Moves to the next line, the first at the first call; false when there is
  // none. The text after the last line feed is a line, even empty.
  bool next_line() {
    if (at_ == kBeforeFirstLine) {
      at_ = 0;
      return true;
    }
    for (std::size_t at = at_;;) {
      if (at >= text_.size()) return false;
      if (at - block_ >= 64) load_block(at);
      const uint64_t feeds = feeds_ >> (at - block_);
      if (feeds) {
        at_ = at + static_cast<std::size_t>(std::countr_zero(feeds)) + 1;
        return true;
      }
      at = block_ + 64;
    }
  }

  // The next word of the current line; nothing once the line has no more.
  std::optional<std::string_view> next_word() {
    std::size_t at = at_;
    for (;;) {
      if (at >= text_.size()) return std::nullopt;
      if (at - block_ >= 64) load_block(at);
      const uint64_t other = ~white_ >> (at - block_);
      const uint64_t feeds = feeds_ >> (at - block_);
      // The line ends where a line feed comes before the next word.
      const uint64_t before_word = other ? (other & (~other + 1)) - 1 : ~uint64_t{0};
      if (feeds & before_word) {
        at_ = at + static_cast<std::size_t>(std::countr_zero(feeds));
        return std::nullopt;
      }
      if (other) {
        at += static_cast<std::size_t>(std::countr_zero(other));
        break;
      }
      at = block_ + 64;
    }
    const std::size_t begin = at;
    for (;;) {
      // Bytes past the end count as white space: the last block ends every word.
      const uint64_t white = white_ >> (at - block_);
      if (white) {
        at += static_cast<std::size_t>(std::countr_zero(white));
        break;
      }
      at = block_ + 64;
      if (at == text_.size()) break;
      load_block(at);
    }
    at_ = at;
    return text_.substr(begin, at - begin);
  }

 private:
  static constexpr std::size_t kBeforeFirstLine = ~std::size_t{0};

  // Reads the block of 64 bytes (fewer at the end) that holds byte `at`.
  void load_block(std::size_t at);

  std::string_view text_;
  std::size_t at_ = kBeforeFirstLine;  // where the search for a word or line end resumes
  std::size_t block_ = 0;              // the first byte of the block the masks describe
  uint64_t white_ = 0;                 // bit i: byte block_ + i is white space or past the end
  uint64_t feeds_ = 0;                 // bit i: byte block_ + i is a line feed
};

// The UTF-8 byte-order mark that some editors write at the start of a file.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The text without one leading byte-order mark, which is no white space: a
// second one, or one anywhere else, stays part of the text.
std::string_view skip_byte_order_mark(std::string_view text);

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
