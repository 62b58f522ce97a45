#include "resource/prp/mipmap.h"

#include <algorithm>
#include <string>

#include "core/key.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

constexpr uint8_t kBitmapVersion = 2;
// Block compression: the one compression type whose info takes two bytes,
// of which the first is dropped.
constexpr uint8_t kBlockCompression = 1;
constexpr uint8_t kLastCompression = 3;

// Stored fields nothing shows; each must be present.
constexpr uint64_t kAfterVersion = 2 * sizeof(uint8_t) + sizeof(uint16_t);  // two bytes and a 16-bit value
constexpr uint64_t kFirstInfoByte = sizeof(uint8_t);
constexpr uint64_t kBeforeWidth = 2 * sizeof(uint32_t);  // two 32-bit values
constexpr uint64_t kBeforeTotalSize = sizeof(uint32_t);  // a 32-bit value

}  // namespace

void MipmapData::read_all_located(const Source& source) const {
  if (name) source.text(*name);
  source.bytes(pixel_data);
}

MipmapData parse_mipmap(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  MipmapData mipmap;
  mipmap.name = read_key_name(reader);
  const uint8_t version = reader.read_u8();
  if (version != kBitmapVersion) throw Error("Unsupported bitmap version: " + std::to_string(version));
  reader.skip(kAfterVersion);
  mipmap.compression_type = reader.read_u8();
  if (mipmap.compression_type > kLastCompression)
    throw Error("Unknown compression: " + std::to_string(mipmap.compression_type));
  if (mipmap.compression_type == kBlockCompression) reader.skip(kFirstInfoByte);
  mipmap.dxt_type = reader.read_u8();
  reader.skip(kBeforeWidth);
  mipmap.width = reader.read_u32();
  mipmap.height = reader.read_u32();
  reader.skip(kBeforeTotalSize);
  mipmap.total_size = reader.read_u32();
  mipmap.num_levels = reader.read_u8();
  // The stored size is only a claim: take what the object actually holds.
  mipmap.pixel_data = reader.locate_bytes(std::min<uint64_t>(mipmap.total_size, reader.remaining()));
  return mipmap;
}

}  // namespace lumivex
