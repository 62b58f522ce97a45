#include <string>
#include <vector>

#include "check.h"
#include "core/key.h"
#include "core/stream.h"
#include "core/text.h"

using namespace lumivex;

namespace {

std::string error_of(auto&& body) {
  try {
    body();
  } catch (const Error& e) {
    return e.message();
  }
  return "";
}

std::string read_string(std::vector<uint8_t> bytes, uint64_t* consumed = nullptr) {
  PlasmaRead reader(bytes);
  std::string text = reader.read_safe_string();
  if (consumed) *consumed = reader.position();
  return text;
}

}  // namespace

TEST(short_read_fails_and_moves_to_the_end) {
  const std::vector<uint8_t> one = {0x7F};
  PlasmaRead reader(one);
  CHECK_EQ(error_of([&] { reader.read_u16(); }), "failed to fill whole buffer");
  CHECK_EQ(reader.position(), 1u);
}

TEST(fixed_width_reads_are_little_endian) {
  const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F};
  PlasmaRead reader(bytes);
  CHECK_EQ(reader.read_u32(), 0x04030201u);
  CHECK_EQ(reader.read_i16(), -1);
  CHECK_EQ(reader.read_u16(), 0u);
  CHECK_EQ(reader.read_f32(), 1.0f);
  CHECK_EQ(reader.remaining(), 0u);
}

TEST(forward_seek_may_pass_the_end_but_not_overflow) {
  const std::vector<uint8_t> bytes = {1, 2};
  PlasmaRead reader(bytes);
  reader.seek_forward(10);
  CHECK_EQ(reader.position(), 10u);
  CHECK_EQ(error_of([&] { reader.read_u8(); }), "failed to fill whole buffer");
  CHECK_EQ(reader.position(), 2u);
  reader.seek_forward(1);
  CHECK_EQ(error_of([&] { reader.seek_forward(UINT64_MAX); }), "invalid seek to a negative or overflowing position");
  CHECK_EQ(reader.position(), 3u);
  CHECK_EQ(error_of([&] { reader.skip(1); }), "failed to fill whole buffer");
  PlasmaRead fresh(bytes);
  fresh.skip(0);
  fresh.skip(2);
  CHECK_EQ(fresh.position(), 2u);
}

TEST(safe_string_forms) {
  uint64_t consumed = 0;
  CHECK_EQ(read_string({0x00, 0x00}, &consumed), "");
  CHECK_EQ(consumed, 2u);
  CHECK_EQ(read_string({0x00, 0xF0, 0x41}, &consumed), "");
  CHECK_EQ(consumed, 2u);
  CHECK_EQ(read_string({0x03, 0xF0, 0x9E, 0x9D, 0x9C}, &consumed), "abc");
  CHECK_EQ(consumed, 5u);
  CHECK_EQ(read_string({0x04, 0x00, 'a', 'b', 'c', 0x00}), "abc");
  CHECK_EQ(read_string({0x03, 0x00, 'a', 0x00, 0x00}), std::string("a\0", 2));
  CHECK_EQ(read_string({0x03, 0x10, 'a', 'b', 'c'}), "abc");
  CHECK_EQ(read_string({0x03, 0xE0, 'a', 'b', 'c'}), "abc");
  CHECK_EQ(read_string({0x02, 0x00, 0xC3, 0x28}), "\xEF\xBF\xBD(");
}

// Whether a stored string holds given bytes agrees with the bytes read back,
// for every stored form and for bytes one off them.
TEST(safe_string_stores_what_it_reads_back) {
  const std::vector<std::vector<uint8_t>> forms = {
      {0x00, 0x00},
      {0x00, 0xF0, 0x41},
      {0x03, 0xF0, 0x9E, 0x9D, 0x9C},
      {0x04, 0x00, 'a', 'b', 'c', 0x00},
      {0x03, 0x00, 'a', 0x00, 0x00},
      {0x03, 0xF0, 0x9E, 0x9D, 0xFF},
      {0x01, 0x00, 0x00},
      {0x02, 0x00, 0xC3, 0x28},
  };
  for (const std::vector<uint8_t>& bytes : forms) {
    PlasmaRead reader(bytes);
    const Source source(bytes);
    const StoredString text = reader.locate_safe_string();
    const std::string stored = source.stored_bytes(text);
    CHECK(source.stores(text, stored));
    CHECK(!source.stores(text, stored + "a"));
    CHECK(!source.stores(text, stored + std::string(1, '\0')));
    if (!stored.empty()) CHECK(!source.stores(text, stored.substr(0, stored.size() - 1) + "z"));
  }
}

TEST(safe_string_cut_short) {
  const std::vector<uint8_t> bytes = {0x05, 0x00, 'a', 'b', 'c'};
  PlasmaRead reader(bytes);
  CHECK_EQ(error_of([&] { reader.read_safe_string(); }), "failed to fill whole buffer");
  CHECK_EQ(reader.position(), 5u);
}

TEST(safe_string_writes_inverted) {
  PlasmaWrite writer;
  writer.write_safe_string("");
  writer.write_safe_string("abc");
  CHECK(writer.bytes() == (std::vector<uint8_t>{0x00, 0xF0, 0x03, 0xF0, 0x9E, 0x9D, 0x9C}));
  PlasmaRead reader(writer.bytes());
  CHECK_EQ(reader.read_safe_string(), "");
  CHECK_EQ(reader.read_safe_string(), "abc");
  CHECK(!error_of([&] { writer.write_safe_string(std::string(4096, 'x')); }).empty());
  writer.write_safe_string(std::string(4095, 'x'));
}

TEST(utf8_replacement_uses_maximal_subparts) {
  CHECK_EQ(utf8_replace_invalid("\xE2\x82"), "\xEF\xBF\xBD");
  CHECK_EQ(utf8_replace_invalid("\xF0\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  CHECK_EQ(utf8_replace_invalid("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  CHECK_EQ(utf8_replace_invalid("a\xFF"
                                "b\xE2\x82\xAC"),
           "a\xEF\xBF\xBD"
           "b\xE2\x82\xAC");
}

TEST(debug_quote_escapes) {
  CHECK_EQ(debug_quote("a\"b\\c'"), "\"a\\\"b\\\\c'\"");
  CHECK_EQ(debug_quote(std::string("\t\r\n\0", 4)), "\"\\t\\r\\n\\0\"");
  CHECK_EQ(debug_quote("\x1b\xC2\xA0\xC3\xA9"), "\"\\u{1b}\\u{a0}\xC3\xA9\"");
  CHECK_EQ(format_fixed(0.125, 2), "0.12");
  CHECK_EQ(format_fixed(-0.0, 2), "-0.00");
}

namespace {

std::vector<uint8_t> key_bytes(uint8_t contents, bool cut_clone_block) {
  std::vector<uint8_t> b = {0x01, contents, 1, 0, 0, 0, 2, 0};
  if (contents & kHasLoadMask) b.push_back(0x12);
  for (uint8_t x : {0x06, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x9E}) b.push_back(x);
  if (contents & kHasCloneIds) {
    for (uint8_t x : {0x05, 0x00}) b.push_back(x);
    if (!cut_clone_block)
      for (uint8_t x : {0x00, 0x00, 0x07, 0x00, 0x00, 0x00}) b.push_back(x);
  }
  return b;
}

}  // namespace

TEST(key_reference_fields) {
  const auto bytes = key_bytes(0x03, false);
  PlasmaRead reader(bytes);
  const auto uoid = read_key_uoid(reader);
  CHECK(uoid.has_value());
  CHECK_EQ(uoid->location_sequence, 1u);
  CHECK_EQ(uoid->location_flags, 2u);
  CHECK_EQ(uoid->load_mask_upper, 0xF1);
  CHECK_EQ(uoid->load_mask_lower, 0xF2);
  CHECK_EQ(uoid->class_type, 6u);
  CHECK_EQ(uoid->object_id, 42u);
  CHECK_EQ(Source(bytes).text(uoid->name), "a");
  CHECK_EQ(uoid->clone_id, 5u);
  CHECK_EQ(uoid->clone_player_id, 7u);
  CHECK_EQ(reader.position(), bytes.size());
  PlasmaRead again(bytes);
  const auto name = read_key_name(again);
  CHECK(name && Source(bytes).text(*name) == "a");
  CHECK_EQ(again.position(), bytes.size());
}

TEST(key_reference_ignores_other_contents_bits) {
  const auto bytes = key_bytes(0xFC, false);
  PlasmaRead reader(bytes);
  const auto uoid = read_key_uoid(reader);
  CHECK_EQ(uoid->load_mask_upper, 0xFF);
  CHECK_EQ(uoid->load_mask_lower, 0xFF);
  CHECK_EQ(uoid->clone_id, 0u);
  CHECK_EQ(uoid->clone_player_id, 0u);
  CHECK_EQ(reader.position(), bytes.size());
}

TEST(absent_key_reference_takes_one_byte) {
  const std::vector<uint8_t> bytes = {0x00, 0x09};
  PlasmaRead reader(bytes);
  CHECK(!read_key_uoid(reader).has_value());
  CHECK_EQ(reader.position(), 1u);
  PlasmaRead again(bytes);
  CHECK(!read_key_name(again).has_value());
  CHECK_EQ(again.position(), 1u);
}

TEST(key_reference_cut_in_clone_block) {
  for (uint64_t cut = 0; cut < key_bytes(0x01, false).size(); ++cut) {
    auto bytes = key_bytes(0x01, false);
    bytes.resize(cut);
    PlasmaRead a(bytes), b(bytes);
    CHECK_EQ(error_of([&] { read_key_uoid(a); }), "failed to fill whole buffer");
    CHECK_EQ(error_of([&] { read_key_name(b); }), "failed to fill whole buffer");
    CHECK_EQ(a.position(), b.position());
  }
  const auto cut = key_bytes(0x01, true);
  PlasmaRead reader(cut);
  CHECK_EQ(error_of([&] { read_key_name(reader); }), "failed to fill whole buffer");
}
