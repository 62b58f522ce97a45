#pragma once

#include <cstdint>
#include <string_view>

namespace lumivex {

struct ClassIndex {
  // The highest id the table names; every id above it is "Unknown".
  static constexpr uint16_t kLastClassType = 0x04A0;

  // The engine's name for a class type id; "Unknown" for ids without one.
  static std::string_view class_name(uint16_t class_type);
};

}  // namespace lumivex
