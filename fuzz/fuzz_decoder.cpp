// Each object decoder alone on arbitrary bytes: the first byte picks the
// decoder, by its place in the decoders' table, and the rest is the object's
// data.
#include <cstddef>
#include <cstdint>

#include "decode_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& decoders = lumivex::fuzz::kDecodeFunctions;
  decoders[data[0] % decoders.size()]({data + 1, size - 1});
  return 0;
}
