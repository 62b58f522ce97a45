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
