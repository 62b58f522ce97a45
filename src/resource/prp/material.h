#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumivex {

// The names of a material's layers, in stored order, from its whole object
// data (class index included). Absent layer references contribute nothing.
std::vector<std::string> parse_material_layers(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
