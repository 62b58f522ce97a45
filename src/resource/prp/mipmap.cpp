#include "resource/prp/mipmap.h"

#include <algorithm>
#include <string>

#include "core/key.h"
#include "core/stream.h"

namespace lumivex {
namespace {

constexpr uint8_t kBitmapVersion = 2;
// The one compression type whose info takes two bytes; the last is kept.
constexpr uint8_t kTwoInfoBytes = 1;
constexpr uint8_t kLastCompression = 3;

}  // namespace

void MipmapData::read_all_located(const Source& source) const {
  if (name) source.text(*name);
  source.bytes(pixel_data);
}

MipmapData parse_mipmap(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(2);
  MipmapData mipmap;
  mipmap.name = read_key_name(reader);
  const uint8_t version = reader.read_u8();
  if (version != kBitmapVersion) throw Error("Unsupported bitmap version: " + std::to_string(version));
  // Two bytes and a 16-bit value this reader has no use for.
  reader.skip(4);
  mipmap.compression_type = reader.read_u8();
  if (mipmap.compression_type > kLastCompression)
    throw Error("Unknown compression: " + std::to_string(mipmap.compression_type));
  if (mipmap.compression_type == kTwoInfoBytes) reader.skip(1);
  mipmap.dxt_type = reader.read_u8();
  reader.skip(8);
  mipmap.width = reader.read_u32();
  mipmap.height = reader.read_u32();
  reader.skip(4);
  mipmap.total_size = reader.read_u32();
  mipmap.num_levels = reader.read_u8();
  // The stored size is only a claim: take what the object actually holds.
  mipmap.pixel_data = reader.locate_bytes(std::min<uint64_t>(mipmap.total_size, reader.remaining()));
  return mipmap;
}

}  // namespace lumivex
