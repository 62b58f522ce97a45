#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
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
};

// In stored order. A texture refers to nothing but itself.
template <class Visit>
void visit_fields(const MipmapData& mipmap, Visit&& visit) {
  visit("name", mipmap.name);
  visit("compression_type", mipmap.compression_type);
  visit("dxt_type", mipmap.dxt_type);
  visit("width", mipmap.width);
  visit("height", mipmap.height);
  visit("total_size", mipmap.total_size);
  visit("num_levels", mipmap.num_levels);
  visit("pixel_data", mipmap.pixel_data);
}

// Decodes a mipmap from its whole object data; the class index is stepped
// over unread.
MipmapData parse_mipmap(std::span<const uint8_t> object_bytes);

// The stored values of a new texture, in stored order.
struct NewMipmap {
  std::string name_bytes;
  uint8_t pixel_size = 0;  // bits per pixel
  uint8_t compression_type = 0;
  uint8_t block_size = 0;  // stored only when block-compressed
  uint8_t dxt_type = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t row_bytes = 0;
  uint8_t num_levels = 0;
  std::span<const uint8_t> pixel_data;
};

// A new texture's object data. Its own key is of location 0 and object id 0
// (a page builder gives it the page's); the stored values nothing reads, the
// space, the flags and the modified time, are 0. A name longer than a safe
// string holds and more pixel bytes than the size field counts are errors.
std::vector<uint8_t> write_mipmap(const NewMipmap& mipmap);

}  // namespace lumivex
