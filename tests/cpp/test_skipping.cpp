#include <string>
#include <vector>

#include "check.h"
#include "core/key.h"
#include "core/stream.h"
#include "core/text.h"

using namespace lumivex;

namespace {

// What a read did: its error text ("" for none) and where it left the reader.
struct Outcome {
  std::string error;
  uint64_t position = 0;
  bool operator==(const Outcome&) const = default;
};

template <class Read>
Outcome outcome(const std::vector<uint8_t>& bytes, Read&& read) {
  PlasmaRead reader(bytes);
  Outcome out;
  try {
    read(reader);
  } catch (const Error& e) {
    out.error = e.message();
  }
  out.position = reader.position();
  return out;
}

std::vector<uint8_t> key_reference(uint8_t contents) {
  std::vector<uint8_t> b = {0x01, contents, 1, 0, 0, 0, 2, 0};
  if (contents & kHasLoadMask) b.push_back(0x12);
  for (uint8_t x : {0x06, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x02, 0xF0, 0x9E, 0x9D}) b.push_back(x);
  if (contents & kHasCloneIds)
    for (uint8_t x : {0x05, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}) b.push_back(x);
  return b;
}

// Every prefix of the bytes, the whole included.
std::vector<std::vector<uint8_t>> prefixes(const std::vector<uint8_t>& bytes) {
  std::vector<std::vector<uint8_t>> out;
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) out.emplace_back(bytes.begin(), bytes.begin() + cut);
  return out;
}

}  // namespace

TEST(skipping_a_key_reference_stops_where_reading_it_does) {
  for (uint8_t contents : {0x00, 0x01, 0x02, 0x03}) {
    for (const auto& bytes : prefixes(key_reference(contents))) {
      const Outcome read = outcome(bytes, [](PlasmaRead& r) { read_key_uoid(r); });
      CHECK(outcome(bytes, [](PlasmaRead& r) { skip_key_uoid(r); }) == read);
      CHECK(outcome(bytes, [](PlasmaRead& r) { read_key_name(r); }) == read);
    }
  }
  const std::vector<uint8_t> absent = {0x00, 0x01};
  CHECK_EQ(outcome(absent, [](PlasmaRead& r) { skip_key_uoid(r); }).position, 1u);
}

TEST(skipping_a_safe_string_stops_where_reading_it_does) {
  const std::vector<std::vector<uint8_t>> strings = {
      {0x00, 0x00}, {0x00, 0xF0, 0x41}, {0x03, 0xF0, 0x9E, 0x9D, 0x9C}, {0x04, 0x00, 'a', 0xFF, 'c', 0x00}};
  for (const auto& whole : strings) {
    for (const auto& bytes : prefixes(whole)) {
      const Outcome read = outcome(bytes, [](PlasmaRead& r) { r.read_safe_string(); });
      CHECK(outcome(bytes, [](PlasmaRead& r) { r.skip_safe_string(); }) == read);
    }
  }
}

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
