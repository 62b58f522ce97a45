#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/key_list.h"
#include "core/stream.h"

namespace lumivex {

// A texture's header values and where its name and stored pixel bytes lie.
struct MipmapData {
  std::optional<StoredString> name;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t num_levels = 0;
  uint8_t compression_type = 0;
  uint8_t dxt_type = 0;
  // As stored; pixel_data may be shorter when the object ends early.
  uint32_t total_size = 0;
  ByteRange pixel_data;

  // Reads back everything the record locates; after a decode that succeeded
  // this cannot fail.
  void read_all_located(const Source& source) const;
  // A texture refers to nothing but itself.
  std::vector<KeyReference> references(const Source&) const { return {}; }
};

// Decodes a mipmap from its whole object data; the class index is stepped
// over unread.
MipmapData parse_mipmap(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
