#include "resource/prp/sound.h"

#include "core/key.h"
#include "core/stream.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// Bits of the properties word that the view shows.
constexpr uint32_t kSound3d = 0x1;
constexpr uint32_t kSoundLooping = 0x4;
constexpr uint32_t kSoundAutoStart = 0x8;

// Stored fields nothing shows, in stored order; each must be present.
constexpr uint64_t kBeforeDistances = sizeof(uint8_t) + sizeof(uint64_t);  // a byte and an 8-byte value
constexpr uint64_t kBetweenDistancesAndVolume = sizeof(uint32_t);          // a 32-bit value
constexpr uint64_t kAfterVolume = 4 * sizeof(uint32_t);                    // four 32-bit values
constexpr uint64_t kSoundBlockSize = 25;
// The sound type, a byte and two 25-byte blocks.
constexpr uint64_t kAfterProperties = sizeof(uint8_t) + sizeof(uint8_t) + 2 * kSoundBlockSize;

}  // namespace

void Win32SoundData::read_all_located(const Source& source) const {
  if (name) source.text(*name);
  for (const auto& key : {first_key, buffer_key})
    if (key) source.text(read_key(source, key).name);
}

std::vector<KeyReference> Win32SoundData::references(const Source& source) const {
  std::vector<KeyReference> out;
  add_reference(out, "first_key", first_key, source);
  add_reference(out, "sound_file_key", buffer_key, source);
  return out;
}

Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  Win32SoundData sound;
  sound.name = read_key_name(reader);
  skip_synched_object(reader);
  reader.skip(kBeforeDistances);
  sound.max_distance = static_cast<float>(reader.read_i32());
  sound.min_distance = static_cast<float>(reader.read_i32());
  reader.skip(kBetweenDistancesAndVolume);
  sound.volume = reader.read_f32();
  reader.skip(kAfterVolume);
  const uint32_t properties = reader.read_u32();
  sound.is_3d = properties & kSound3d;
  sound.looping = properties & kSoundLooping;
  sound.auto_start = properties & kSoundAutoStart;
  reader.skip(kAfterProperties);
  sound.first_key = locate_key(reader);
  sound.buffer_key = locate_key(reader);
  return sound;
}

}  // namespace lumivex
