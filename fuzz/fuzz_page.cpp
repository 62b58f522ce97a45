// A page from any bytes, then the writer on it, then every decoder on every
// object of it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode_all.h"
#include "resource/prp/page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::shared_ptr<const lumivex::PrpPage> page;
  try {
    page = lumivex::PrpPage::from_bytes(lumivex::ByteBuffer(data, size));
  } catch (const lumivex::Error&) {
    return 0;
  }
  try {
    const lumivex::PageBytes bytes = page->to_bytes();
    std::vector<uint8_t> out(bytes.size());
    bytes.copy_to(out.data());
  } catch (const lumivex::Error&) {
  }
  for (const lumivex::ObjectKey& key : page->keys()) {
    // A key's name was located when the index was read: showing it cannot fail.
    page->key_name(key);
    if (const auto bytes = page->object_data(key)) lumivex::fuzz::decode_all(*bytes);
  }
  return 0;
}
