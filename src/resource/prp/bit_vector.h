#pragma once

#include <cstdint>

#include "core/stream.h"

namespace lumivex {

// A stored bit vector: a u32 word count, then that many u32 words, all of
// which must be present. Returns the first word, 0 when there is none.
inline uint32_t read_bit_vector(PlasmaRead& reader) {
  const uint32_t words = reader.read_u32();
  if (words == 0) return 0;
  const uint32_t first = reader.read_u32();
  reader.skip((uint64_t{words} - 1) * 4);
  return first;
}

inline void skip_bit_vector(PlasmaRead& reader) { read_bit_vector(reader); }

}  // namespace lumivex
