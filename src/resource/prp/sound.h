#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/key_list.h"

namespace lumivex {

// A placed sound: its volume, distance range, playing flags and the name of
// the buffer that holds its sound file. Its sound type is read over: nothing
// shows it.
struct Win32SoundData {
  std::optional<StoredString> name;
  StoredKey first_key;   // the key reference before the buffer's
  StoredKey buffer_key;  // its name is the sound file's
  float volume = 0;
  // Stored as 32-bit integers; large magnitudes round to the nearest float.
  float min_distance = 0;
  float max_distance = 0;
  bool is_3d = false;
  bool looping = false;
  bool auto_start = false;

  // Reads back everything the record locates; after a decode that succeeded
  // this cannot fail.
  void read_all_located(const Source& source) const;
  // Every reference but the object's own key, in stored order.
  std::vector<KeyReference> references(const Source& source) const;
};

// Decodes a sound from its whole object data; the class index is stepped
// over unread.
Win32SoundData parse_win32_sound(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
