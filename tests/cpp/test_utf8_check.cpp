#include <string>
#include <vector>

#include "check.h"
#include "core/stream.h"
#include "core/text.h"

using namespace lumivex;

TEST(utf8_check_agrees_with_replacement_around_ascii_runs) {
  // A non-ASCII sequence, valid or not, at every offset of an ASCII run that
  // spans several eight-byte words.
  for (const std::string inner : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\xE2\x82", "\xC3"}) {
    for (std::size_t at = 0; at <= 20; ++at) {
      const std::string text = std::string(at, 'a') + inner + std::string(20 - at, 'b');
      CHECK_EQ(is_valid_utf8(text), utf8_replace_invalid(text) == text);
    }
  }
  CHECK(is_valid_utf8(std::string(17, 'x')));
  CHECK(is_valid_utf8(""));
}

TEST(safe_string_of_long_text_is_checked_whole) {
  // Inverted, longer than a word, with a damaged sequence after the ASCII.
  std::vector<uint8_t> bytes = {19, 0xF0};
  const std::string text = std::string(16, 'n') + "\xC3\x28" + "z";
  for (char c : text) bytes.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
  PlasmaRead reader(bytes);
  CHECK_EQ(reader.read_safe_string(), std::string(16, 'n') + "\xEF\xBF\xBD(z");
  bytes[bytes.size() - 2] = static_cast<uint8_t>(~0xA9);
  PlasmaRead again(bytes);
  CHECK_EQ(again.read_safe_string(), std::string(16, 'n') + "\xC3\xA9z");
}
