#pragma once

// Every decoder of a page's objects, one row each. The row names the
// PrpObject method that runs it, the engine class it is for, the view class
// that shows its record and the method's docstring; the table's order is the
// order of those methods and of the view classes in the module. The bindings,
// the fuzz targets and, through the module, the command and the tests take
// their lists of decoders from here.

#include <cstddef>
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>

#include "resource/prp/field_marks.h"
#include "resource/prp/fields.h"
#include "resource/prp/layer.h"
#include "resource/prp/material.h"
#include "resource/prp/mipmap.h"
#include "resource/prp/physical.h"
#include "resource/prp/python_file_mod.h"
#include "resource/prp/responder.h"
#include "resource/prp/scene_object.h"
#include "resource/prp/sound.h"

namespace lumivex {

template <class Record, Record (*Parse)(std::span<const uint8_t>),
          Record (*Locate)(std::span<const uint8_t>, FieldMarks&)>
struct DecoderRow {
  using RecordType = Record;
  // Decodes an object's whole bytes, class index included.
  static Record parse(std::span<const uint8_t> object_bytes) { return Parse(object_bytes); }
  // The same decode, marking where each field its view can change lies.
  static Record locate(std::span<const uint8_t> object_bytes, FieldMarks& marks) { return Locate(object_bytes, marks); }

  const char* method;   // the PrpObject method: "as_layer"
  uint16_t class_type;  // the engine class the decoder is for
  bool checks_class;    // whether the method refuses objects of other classes
  const char* view;     // the view class: "Layer"
  const char* doc;      // the method's docstring
};

inline constexpr std::tuple kDecoders{
    DecoderRow<SceneObjectData, parse_scene_object, parse_scene_object>{
        "as_scene_object", 0x0001, true, "SceneObject", "Parse as a SceneObject (if class_type matches)."},
    DecoderRow<MipmapData, parse_mipmap, parse_mipmap>{"as_mipmap", 0x0004, false, "Mipmap",
                                                       "Parse as a Mipmap texture."},
    DecoderRow<MaterialData, parse_material, parse_material>{"as_material", 0x0007, false, "Material",
                                                             "Parse as a Material (hsGMaterial)."},
    DecoderRow<LayerStateData, parse_layer_state, parse_layer_state>{"as_layer", 0x0006, false, "Layer",
                                                                     "Parse as a Layer (plLayer)."},
    DecoderRow<PythonFileModData, parse_python_file_mod, parse_python_file_mod>{
        "as_python_file_mod", 0x00A2, false, "PythonFileMod", "Parse as a PythonFileMod."},
    DecoderRow<ResponderModData, parse_responder_modifier, parse_responder_modifier>{
        "as_responder", 0x007C, false, "ResponderMod", "Parse as a ResponderModifier."},
    DecoderRow<PxPhysicalData, parse_px_physical, parse_px_physical>{"as_physical", 0x003F, false, "PhysicalData",
                                                                     "Parse as a plPXPhysical."},
    DecoderRow<Win32SoundData, parse_win32_sound, parse_win32_sound>{"as_sound", 0x0049, false, "SoundInfo",
                                                                     "Parse as a plWin32Sound."},
};

inline constexpr std::size_t kDecoderCount = std::tuple_size_v<decltype(kDecoders)>;

// The position of the row whose record is Record.
template <class Record>
constexpr std::size_t decoder_index() {
  return []<std::size_t... I>(std::index_sequence<I...>) {
    std::size_t found = kDecoderCount;
    ((std::is_same_v<typename std::tuple_element_t<I, decltype(kDecoders)>::RecordType, Record> ? found = I : 0), ...);
    return found;
  }(std::make_index_sequence<kDecoderCount>());
}

// Calls visit(row, index) for every row, in order.
template <class Visit>
constexpr void for_each_decoder(Visit&& visit) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (visit(std::get<I>(kDecoders), std::integral_constant<std::size_t, I>()), ...);
  }(std::make_index_sequence<kDecoderCount>());
}

}  // namespace lumivex
