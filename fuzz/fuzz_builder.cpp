// A page builder driven by arbitrary bytes: the first two (little-endian)
// say how many of the rest are a page, and what follows is a list of edits
// of it (renames of many objects at once, removals, new objects, new
// bodies), each failing only with the core's error type. A rename that
// succeeds leaves every renamed object under its new key; one that fails
// leaves the builder as it was. What the builder builds reads back as a page
// of as many objects.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/error.h"
#include "resource/prp/page.h"
#include "resource/prp/page_builder.h"
#include "taken_bytes.h"

namespace lumivex::fuzz {
namespace {

using Bytes = std::span<const uint8_t>;

// The edits, from the bytes after the page's.
class EditBytes : public TakenBytes {
 public:
  using TakenBytes::TakenBytes;

  // Names drawn from a few letters, so that renames meet names already held.
  std::string name() {
    std::string out(u8() % 6, '\0');
    for (char& c : out) c = static_cast<char>('A' + u8() % 4);
    return out;
  }
  std::vector<uint8_t> body(uint16_t class_type) {
    std::vector<uint8_t> out = {static_cast<uint8_t>(class_type), static_cast<uint8_t>(class_type >> 8)};
    const std::size_t size = u8() % 48;
    for (std::size_t i = 0; i < size; ++i) out.push_back(u8());
    return out;
  }
};

std::vector<BuiltKey> keys_of(const PageBuilder& builder) {
  std::vector<BuiltKey> keys;
  for (const BuiltKey* key : builder.keys()) keys.push_back(*key);
  return keys;
}

void check(bool holds) {
  if (!holds) std::abort();
}

void rename_some(PageBuilder& builder, EditBytes& edits) {
  const std::vector<BuiltKey> before = keys_of(builder);
  if (before.empty()) return;
  std::vector<NewName> renames(1 + edits.u8() % 6);
  for (NewName& rename : renames) {
    rename.key = before[edits.u16() % before.size()];
    // Now and then a key of another page, whose references are followed.
    if (edits.u8() % 8 == 0) rename.key.location_sequence ^= 1;
    rename.name_bytes = edits.name();
  }
  std::vector<Rename> results;
  try {
    results = builder.rename_all(renames);
  } catch (const Error&) {
    check(keys_of(builder) == before);
    return;
  }
  check(results.size() == renames.size() && builder.size() == before.size());
  for (std::size_t i = 0; i < renames.size(); ++i) {
    check(results[i].key.name_bytes == renames[i].name_bytes);
    if (renames[i].key.location_sequence == builder.header().sequence_number &&
        renames[i].key.location_flags == builder.header().flags)
      check(builder.contains(results[i].key));
  }
}

void edit(PageBuilder& builder, EditBytes& edits) {
  const std::vector<BuiltKey> keys = keys_of(builder);
  const auto some_key = [&] { return keys[edits.u16() % keys.size()]; };
  try {
    switch (edits.u8() % 4) {
      case 0:
        rename_some(builder, edits);
        break;
      case 1:
        if (!keys.empty()) builder.remove(some_key());
        break;
      case 2: {
        const uint16_t class_type = edits.u8() % 8;
        builder.add(class_type, edits.name(), HeldBytes::copy_of(edits.body(class_type)));
        break;
      }
      default:
        if (!keys.empty()) {
          const BuiltKey key = some_key();
          builder.set(key, HeldBytes::copy_of(edits.body(key.class_type)));
        }
        break;
    }
  } catch (const Error&) {
  }
}

}  // namespace
}  // namespace lumivex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace lumivex;
  if (size < 2) return 0;
  fuzz::TakenBytes input({data, size});
  const fuzz::Bytes page_bytes = input.span(input.u16());
  std::optional<PageBuilder> builder;
  try {
    builder.emplace(PageBuilder::from_page(PrpPage::from_bytes(ByteBuffer(page_bytes.data(), page_bytes.size()))));
  } catch (const Error&) {
    return 0;
  }
  fuzz::EditBytes edits(input.rest());
  for (int i = 0; i < 16 && !edits.done(); ++i) fuzz::edit(*builder, edits);
  try {
    const std::shared_ptr<const PrpPage> built = builder->build();
    const PageBytes bytes = built->to_bytes();
    std::vector<uint8_t> out(bytes.size());
    bytes.copy_to(out.data());
    const auto read_back = PrpPage::from_bytes(ByteBuffer(out.data(), out.size()));
    fuzz::check(read_back->keys().size() == builder->size());
  } catch (const Error&) {
    std::abort();
  }
  return 0;
}
