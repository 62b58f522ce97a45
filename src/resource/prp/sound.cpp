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

}  // namespace

void Win32SoundData::read_all_located(const Source& source) const {
  for (const auto& text : {name, sound_file})
    if (text) source.text(*text);
}

Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes) {
  PlasmaRead reader(object_bytes);
  reader.skip(2);
  Win32SoundData sound;
  sound.name = read_key_name(reader);
  skip_synched_object(reader);
  // A byte and an 8-byte value, unused.
  reader.skip(1 + 8);
  sound.max_distance = static_cast<float>(reader.read_i32());
  sound.min_distance = static_cast<float>(reader.read_i32());
  reader.skip(4);
  sound.volume = reader.read_f32();
  reader.skip(16);
  const uint32_t properties = reader.read_u32();
  sound.is_3d = properties & kSound3d;
  sound.looping = properties & kSoundLooping;
  sound.auto_start = properties & kSoundAutoStart;
  sound.sound_type = reader.read_u8();
  // A byte and two 25-byte blocks the view has no use for.
  reader.skip(1);
  reader.skip(25);
  reader.skip(25);
  skip_key_uoid(reader);
  sound.sound_file = read_key_name(reader);
  return sound;
}

}  // namespace lumivex
