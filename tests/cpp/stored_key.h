#pragma once

// Test bytes of a key reference.

#include <string>
#include <vector>

#include "core/stream.h"

namespace lumivex::test {

// A present key reference with no load mask and no clone ids: presence,
// contents, location, class type and object id zero, then its name.
inline void write_key(PlasmaWrite& w, const std::string& name) {
  w.write_u8(1);
  w.write_u8(0);
  w.write_bytes(std::vector<uint8_t>(12, 0));
  w.write_safe_string(name);
}

}  // namespace lumivex::test
