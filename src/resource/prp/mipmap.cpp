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
// the block size, dropped, then the block format.
constexpr uint8_t kBlockCompression = 1;
constexpr uint8_t kLastCompression = 3;

// Stored fields nothing shows; each must be present.
constexpr uint64_t kPixelSizeSpaceAndFlags = 2 * sizeof(uint8_t) + sizeof(uint16_t);
constexpr uint64_t kBlockSize = sizeof(uint8_t);
constexpr uint64_t kModifiedTime = 2 * sizeof(uint32_t);  // its low and high words
constexpr uint64_t kRowBytes = sizeof(uint32_t);

}  // namespace

// A texture has no field a view changes: its name goes with its key, and
// its format and sizes must agree with its pixels.
template <class Marks>
MipmapData parse_mipmap(std::span<const uint8_t> object_bytes, Marks&) {
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

template MipmapData parse_mipmap(std::span<const uint8_t> object_bytes, FieldMarks& marks);

MipmapData parse_mipmap(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_mipmap(object_bytes, marks);
}

}  // namespace lumivex
