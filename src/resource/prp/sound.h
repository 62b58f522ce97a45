#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/key_list.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

// A placed sound: its volume, distance range, playing flags and the name of
// the buffer that holds its sound file. Its sound type is read over: nothing
// shows it.
struct Win32SoundData {
  std::optional<StoredString> name;
  StoredKey soft_region;  // the region the sound is heard in
  StoredKey buffer_key;   // its name is the sound file's
  float volume = 0;
  // Stored as 32-bit integers; large magnitudes round to the nearest float.
  float min_distance = 0;
  float max_distance = 0;
  bool is_3d = false;
  bool looping = false;
  bool auto_start = false;
};

// In stored order; the soft region's label is the one references() has
// always listed it by.
template <class Visit>
void visit_fields(const Win32SoundData& sound, Visit&& visit) {
  visit("name", sound.name);
  visit("max_distance", sound.max_distance);
  visit("min_distance", sound.min_distance);
  visit("volume", sound.volume);
  visit("is_3d", sound.is_3d);
  visit("looping", sound.looping);
  visit("auto_start", sound.auto_start);
  visit("first_key", sound.soft_region);
  visit("sound_file_key", sound.buffer_key);
}

// Decodes a sound from its whole object data; the class index is stepped
// over unread.
Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes, Marks& marks);

}  // namespace lumivex
