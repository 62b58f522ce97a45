#include "resource/prp/mipmap.h"

#include <algorithm>
#include <string>

#include "core/key.h"
#include "core/stream.h"
#include "resource/prp/decoders.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

constexpr uint8_t kBitmapVersion = 2;
// Block compression: the one compression type whose info takes two bytes,
// the block size, dropped, then the block format.
constexpr uint8_t kBlockCompression = 1;
constexpr uint8_t kLastCompression = 3;

// Stored fields nothing shows; each must be present.
constexpr uint64_t kPixelSizeSpaceAndFlags = 2 * sizeof(uint8_t) + sizeof(uint16_t);
constexpr uint64_t kBlockSize = sizeof(uint8_t);
constexpr uint64_t kModifiedTime = 2 * sizeof(uint32_t);  // its low and high words
constexpr uint64_t kRowBytes = sizeof(uint32_t);

constexpr uint16_t kMipmapClass = std::get<decoder_index<MipmapData>()>(kDecoders).class_type;

}  // namespace

std::vector<uint8_t> write_mipmap(const NewMipmap& mipmap) {
  if (mipmap.pixel_data.size() > UINT32_MAX)
    throw Error("A texture of " + std::to_string(mipmap.pixel_data.size()) +
                " bytes is too large (at most 4294967295)");
  PlasmaWrite writer(64 + mipmap.name_bytes.size() + mipmap.pixel_data.size());
  writer.write_u16(kMipmapClass);
  // The own key: present, no optional fields.
  writer.write_u8(1);
  writer.write_u8(0);
  writer.write_u32(0);
  writer.write_u16(0);
  writer.write_u16(kMipmapClass);
  writer.write_u32(0);
  writer.write_safe_string(mipmap.name_bytes);
  writer.write_u8(kBitmapVersion);
  writer.write_u8(mipmap.pixel_size);
  writer.write_u8(0);   // space
  writer.write_u16(0);  // flags
  writer.write_u8(mipmap.compression_type);
  if (mipmap.compression_type == kBlockCompression) writer.write_u8(mipmap.block_size);
  writer.write_u8(mipmap.dxt_type);
  writer.write_u32(0);  // modified time, low and high words
  writer.write_u32(0);
  writer.write_u32(mipmap.width);
  writer.write_u32(mipmap.height);
  writer.write_u32(mipmap.row_bytes);
  writer.write_u32(static_cast<uint32_t>(mipmap.pixel_data.size()));
  writer.write_u8(mipmap.num_levels);
  writer.write_bytes(mipmap.pixel_data);
  return writer.take_bytes();
}

MipmapData parse_mipmap(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  MipmapData mipmap;
  mipmap.name = read_key_name(reader);
  const uint8_t version = reader.read_u8();
  if (version != kBitmapVersion) throw Error("Unsupported bitmap version: " + std::to_string(version));
  reader.skip(kPixelSizeSpaceAndFlags);
  mipmap.compression_type = reader.read_u8();
  if (mipmap.compression_type > kLastCompression)
    throw Error("Unknown compression: " + std::to_string(mipmap.compression_type));
  if (mipmap.compression_type == kBlockCompression) reader.skip(kBlockSize);
  mipmap.dxt_type = reader.read_u8();
  reader.skip(kModifiedTime);
  mipmap.width = reader.read_u32();
  mipmap.height = reader.read_u32();
  reader.skip(kRowBytes);
  mipmap.total_size = reader.read_u32();
  mipmap.num_levels = reader.read_u8();
  // The stored size is only a claim: take what the object actually holds.
  mipmap.pixel_data = reader.locate_bytes(std::min<uint64_t>(mipmap.total_size, reader.remaining()));
  return mipmap;
}

}  // namespace lumivex
