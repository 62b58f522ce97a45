#pragma once

#include <cstdint>

#include "core/stream.h"

namespace lumivex {

// A stored bit vector: a u32 word count, then that many u32 words, all of
// which must be present. Nothing reads its bits.
inline void skip_bit_vector(PlasmaRead& reader) {
  const uint32_t words = reader.read_u32();
  reader.skip(uint64_t{words} * sizeof(uint32_t));
}

}  // namespace lumivex
