// A page put together object by object: what build writes, read back, and
// the own key a rename rewrites inside an object's bytes.
#include <string>
#include <vector>

#include "check.h"
#include "core/key.h"
#include "resource/prp/page_builder.h"

using namespace lumivex;

namespace {

// An object's bytes: its class index, then its own key and a tail.
std::vector<uint8_t> keyed_object(uint16_t class_type, const std::string& name, uint32_t sequence) {
  PlasmaWrite w;
  w.write_u16(class_type);
  w.write_u8(1);
  w.write_u8(0);
  w.write_u32(sequence);
  w.write_u16(0);
  w.write_u16(class_type);
  w.write_u32(1);
  w.write_safe_string(name);
  w.write_u32(0xDEADBEEF);
  return w.take_bytes();
}

HeldBytes held(const std::vector<uint8_t>& bytes) { return HeldBytes::copy_of(bytes); }

std::vector<uint8_t> bytes_of(const PageBytes& page) {
  std::vector<uint8_t> out(page.size());
  page.copy_to(out.data());
  return out;
}

}  // namespace

TEST(built_page_reads_back_with_its_objects_in_order) {
  PageBuilder builder("Age", "Page", 0x21, 0);
  builder.add(0x0004, "b", held({4, 0, 1}));
  builder.add(0x0001, "a", held({1, 0}));
  builder.add(0x0004, "c", held({4, 0, 2, 3}));
  const auto page = builder.build();
  REQUIRE(page->keys().size() == 3);
  // Objects of a class stay together, in the order they came.
  CHECK_EQ(page->key_name(page->keys()[0]), "b");
  CHECK_EQ(page->key_name(page->keys()[1]), "c");
  CHECK_EQ(page->key_name(page->keys()[2]), "a");
  CHECK_EQ(page->keys()[1].object_id, 2u);
  CHECK_EQ(page->keys()[2].location_sequence, 0x21u);
  CHECK(page->object_data(page->keys()[1])->size() == 4);
  // The built page is in the writer's normal form: writing it again changes nothing.
  CHECK(bytes_of(page->to_bytes()) == std::vector<uint8_t>(page->data().begin(), page->data().end()));
  CHECK(bytes_of(PageBuilder::from_page(page).build()->to_bytes()) == bytes_of(page->to_bytes()));
}

TEST(removed_object_leaves_the_other_ids_and_is_not_found) {
  PageBuilder builder("Age", "Page", 1, 0);
  const BuiltKey first = builder.add(0x0004, "x", held({4, 0}));
  builder.add(0x0004, "y", held({4, 0}));
  builder.remove(first);
  CHECK(!builder.contains(first));
  CHECK_EQ(builder.size(), 1u);
  // The removed id is never given again.
  CHECK_EQ(builder.add(0x0004, "z", held({4, 0})).object_id, 3u);
  const auto page = builder.build();
  REQUIRE(page->keys().size() == 2);
  CHECK_EQ(page->keys()[0].object_id, 2u);
}

TEST(rename_rewrites_the_objects_own_key) {
  PageBuilder builder("Age", "Page", 7, 0);
  const BuiltKey key = builder.add(0x0099, "old", held(keyed_object(0x0099, "old", 7)));
  // Other undecodable objects with keys of their own, which cannot be
  // searched: one that holds the old name after its key may refer to it.
  builder.add(0x0099, "other", held(keyed_object(0x0099, "other", 7)));
  std::vector<uint8_t> holding = keyed_object(0x0099, "holding", 7);
  const std::vector<uint8_t> old_key = keyed_object(0x0099, "old", 7);
  holding.insert(holding.end(), old_key.begin() + 2, old_key.end());
  builder.add(0x0099, "holding", held(holding));
  const Rename renamed = builder.rename(key, "a longer name");
  CHECK_EQ(renamed.key.name_bytes, "a longer name");
  CHECK_EQ(renamed.references, 0u);
  CHECK_EQ(renamed.unsearched, 1u);
  CHECK(!builder.contains(key));
  CHECK(builder.contains(renamed.key));
  const auto page = builder.build();
  const auto bytes = page->object_data(page->keys()[0]);
  REQUIRE(bytes.has_value());
  CHECK(std::vector<uint8_t>(bytes->begin(), bytes->end()) == keyed_object(0x0099, "a longer name", 7));
}

TEST(builder_refuses_a_second_name_of_a_class_and_unknown_keys) {
  PageBuilder builder("Age", "Page", 1, 0);
  const BuiltKey key = builder.add(0x0004, "x", held({4, 0}));
  bool refused = false;
  try {
    builder.add(0x0004, "x", held({4, 0}));
  } catch (const Error&) {
    refused = true;
  }
  CHECK(refused);
  BuiltKey other = key;
  other.object_id = 9;
  refused = false;
  try {
    builder.set(other, held({}));
  } catch (const Error&) {
    refused = true;
  }
  CHECK(refused);
}
