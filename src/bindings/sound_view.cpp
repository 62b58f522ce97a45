#include <string>

#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "core/text.h"
#include "resource/prp/sound.h"

namespace lumivex::py {
namespace {

using SoundView = Decoded<Win32SoundData>;

const char* bool_word(bool value) { return value ? "true" : "false"; }

std::string sound_repr(const SoundView& view) {
  const Win32SoundData& sound = view.record;
  return "SoundInfo('" + text_or_empty(sound.name, view.source) + "', file='" +
         text_or_empty(sound.buffer_key, view.source) + "', vol=" + format_fixed(sound.volume, 2) +
         ", 3d=" + bool_word(sound.is_3d) + ")";
}

}  // namespace

template <>
const ClassDef<SoundView>& class_def<SoundView>() {
  static const ClassDef<SoundView> def{
      .id = view_type_id<Win32SoundData>(),
      .qualified_name = "lumivex.SoundInfo",
      .properties =
          {
              {"name", decoded_name_or_empty<&Win32SoundData::name>, "Sound name."},
              {"sound_file", decoded_name_or_empty<&Win32SoundData::buffer_key>, "Name of the sound's file."},
              {"volume", decoded_value<&Win32SoundData::volume>, "Volume, 0.0 to 1.0."},
              {"is_3d", decoded_value<&Win32SoundData::is_3d>, "Whether the sound is placed in 3D space."},
              {"auto_start", decoded_value<&Win32SoundData::auto_start>, "Whether the sound starts on load."},
              {"looping", decoded_value<&Win32SoundData::looping>, "Whether the sound loops."},
              {"min_distance", decoded_value<&Win32SoundData::min_distance>,
               "Distance within which it plays at full volume."},
              {"max_distance", decoded_value<&Win32SoundData::max_distance>, "Distance beyond which it is not heard."},
              {"sound_file_key", decoded_key<&Win32SoundData::buffer_key>,
               "Key of the buffer that holds the sound's file, or None."},
          },
      .repr = sound_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<Win32SoundData>() {
  static const std::vector<Settable> settable = {
      {"volume", Takes::Float},
      {"is_3d", Takes::Bool},
      {"auto_start", Takes::Bool},
      {"looping", Takes::Bool},
      {"min_distance", Takes::Float},
      {"max_distance", Takes::Float},
      {"sound_file_key", Takes::KeyOrNone},
  };
  return settable;
}

const RegisterView<Win32SoundData> register_sound_view;

}  // namespace lumivex::py
