// Each object decoder alone on arbitrary bytes: the first byte picks the
// decoder, the rest is the object's data.
#include <cstddef>
#include <cstdint>

#include "decode_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t decoder = data[0] % std::size(lumivex::fuzz::kDecoders);
  lumivex::fuzz::decode_with(decoder, {data + 1, size - 1});
  return 0;
}
