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
constexpr uint64_t kPlayingAndTime = sizeof(uint8_t) + sizeof(double);
constexpr uint64_t kCurrentVolume = sizeof(float);
// The outer volume, the inner and outer cone angles and the faded volume.
constexpr uint64_t kOuterVolumeAndCones = 4 * sizeof(uint32_t);
// A fade's length, start and end volumes, type, current time and two flags.
constexpr uint64_t kFadeParamsSize = 3 * sizeof(float) + sizeof(uint8_t) + sizeof(float) + 2 * sizeof(uint32_t);
// The sound type, the priority, then the fade-in and fade-out parameters.
constexpr uint64_t kTypePriorityAndFades = sizeof(uint8_t) + sizeof(uint8_t) + 2 * kFadeParamsSize;

}  // namespace

template <class Marks>
Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  reader.skip(kClassIndexSize);
  Win32SoundData sound;
  sound.name = read_key_name(reader);
  skip_synched_object(reader);
  reader.skip(kPlayingAndTime);
  const uint64_t distances_at = reader.position();
  sound.max_distance = static_cast<float>(reader.read_i32());
  sound.min_distance = static_cast<float>(reader.read_i32());
  marks.mark("max_distance", distances_at, distances_at + 4, StoredAs::Integer);
  marks.mark("min_distance", distances_at + 4, distances_at + 8, StoredAs::Integer);
  reader.skip(kCurrentVolume);
  const uint64_t volume_at = reader.position();
  sound.volume = reader.read_f32();
  marks.mark("volume", volume_at, reader.position(), StoredAs::Itself);
  reader.skip(kOuterVolumeAndCones);
  const uint64_t properties_at = reader.position();
  const uint32_t properties = reader.read_u32();
  sound.is_3d = properties & kSound3d;
  sound.looping = properties & kSoundLooping;
  sound.auto_start = properties & kSoundAutoStart;
  marks.mark("is_3d", properties_at, reader.position(), StoredAs::Bit, kSound3d);
  marks.mark("looping", properties_at, reader.position(), StoredAs::Bit, kSoundLooping);
  marks.mark("auto_start", properties_at, reader.position(), StoredAs::Bit, kSoundAutoStart);
  reader.skip(kTypePriorityAndFades);
  sound.soft_region = locate_key(reader);
  const uint64_t buffer_at = reader.position();
  sound.buffer_key = locate_key(reader);
  marks.mark("sound_file_key", buffer_at, reader.position(), StoredAs::Key);
  return sound;
}

template Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes, FieldMarks& marks);

Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_win32_sound(object_bytes, marks);
}

}  // namespace lumivex
