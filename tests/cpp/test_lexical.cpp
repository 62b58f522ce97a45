#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "core/lexical.h"

using namespace lumivex;

namespace {

std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> words;
  LineWords line_words(text);
  while (line_words.next_line()) {
    while (const auto word = line_words.next_word()) words.emplace_back(*word);
    words.emplace_back("|");  // a line's end
  }
  return words;
}

}  // namespace

// The vector form runs on this processor; the portable one must agree with it.
TEST(block_classification_is_the_same_in_both_forms) {
  const uint8_t interesting[] = {0x00, 0x08, 0x09, 0x0A, 0x0D, 0x0E, 0x1F, 0x20, 0x21,
                                 '=',  0x7F, 0x80, 0x85, 0xA0, 0xC2, 0xE2, 0xFF};
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    uint8_t block[64];
    for (uint8_t& byte : block)
      byte = random() % 2 ? interesting[random() % sizeof interesting] : static_cast<uint8_t>(random() % 0x80);
    const auto vector = white_space::classify(block);
    const auto portable = white_space::classify_portable(block);
    CHECK_EQ(vector.ascii, portable.ascii);
    CHECK_EQ(vector.feeds, portable.feeds);
    CHECK_EQ(vector.equals, portable.equals);
    if (vector.ascii) CHECK_EQ(vector.white, portable.white);
  }
}

// Multi-byte white space split by a block boundary, and a line feed right at one.
TEST(words_across_block_boundaries) {
  for (const std::string white : {"\xC2\xA0", "\xE3\x80\x80", "\xE2\x80\x89", "\xC2\x85"}) {
    for (std::size_t before = 58; before <= 70; ++before) {
      const std::string text = std::string(before, 'a') + white + "b" + white + "\n" + white + "c";
      const std::vector<std::string> expected = {std::string(before, 'a'), "b", "|", "c", "|"};
      CHECK(words_of(text) == expected);
    }
  }
  // Not white space: U+200B, and a lone continuation byte after a lead.
  for (std::size_t before = 60; before <= 66; ++before) {
    const std::string text = std::string(before, 'a') + "\xE2\x80\x8B" + "b";
    CHECK(words_of(text) == (std::vector<std::string>{text, "|"}));
  }
  CHECK(words_of(std::string(64, ' ') + "\n" + std::string(64, 'x')) ==
        (std::vector<std::string>{"|", std::string(64, 'x'), "|"}));
  CHECK(words_of("") == (std::vector<std::string>{"|"}));
}

// Found a word at a time, the last word overlapping the one before: every
// length and every place, with the byte absent, once or twice.
TEST(find_byte_agrees_with_a_plain_search) {
  for (std::size_t size = 0; size <= 40; ++size) {
    for (std::size_t place = 0; place <= size; ++place) {
      // Text before and after the view, so that a read outside it would show.
      std::string buffer(size + 16, ',');
      std::string_view text(buffer.data() + 8, size);
      std::fill(buffer.begin() + 8, buffer.begin() + 8 + static_cast<std::ptrdiff_t>(size), 'a');
      if (place < size) buffer[8 + place] = ',';
      if (place + 3 < size) buffer[8 + place + 3] = ',';
      const std::size_t expected = std::min(text.find(','), size);
      CHECK_EQ(find_byte(text, ','), expected);
    }
  }
}

// Digits up to every length, against the limits of the texts' numbers.
TEST(parse_digits_at_every_length_and_limit) {
  std::mt19937_64 random(11);
  for (const uint64_t max : {uint64_t{255}, uint64_t{2147483647}, uint64_t{4294967295}, UINT64_MAX}) {
    for (int round = 0; round < 4000; ++round) {
      std::string digits(1 + random() % 22, '0');
      for (char& digit : digits) digit = static_cast<char>('0' + random() % 10);
      if (round % 7 == 0) digits = std::to_string(max - round % 3 + (round % 2));
      // The reference: digits compared with max as decimal text of equal length.
      std::string trimmed = digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
      const std::string limit = std::to_string(max);
      const bool fits = trimmed.size() < limit.size() || (trimmed.size() == limit.size() && trimmed <= limit);
      const auto parsed = parse_digits(digits, max);
      CHECK_EQ(parsed.has_value(), fits);
      if (fits) CHECK_EQ(std::to_string(*parsed), trimmed);
    }
  }
  CHECK(!parse_digits("12a", UINT64_MAX));
  CHECK(!parse_digits("", UINT64_MAX));
}
