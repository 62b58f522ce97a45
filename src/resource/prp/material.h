#pragma once

#include <cstdint>
#include <span>

#include "core/key_list.h"

namespace lumivex {

// The references to a material's layers, in stored order, from its whole
// object data (class index included).
KeyList parse_material_layers(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
