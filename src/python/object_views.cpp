#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"
#include "python/classes.h"
#include "python/page_classes.h"
#include "resource/prp/layer.h"
#include "resource/prp/material.h"
#include "resource/prp/mipmap.h"
#include "resource/prp/scene_object.h"
#include "resource/prp/sound.h"

namespace lumivex::py {
namespace {

constexpr uint16_t kSceneObjectClass = 0x0001;

using SceneObjectView = Decoded<SceneObjectData>;
using MipmapView = Decoded<MipmapData>;
using MaterialView = Decoded<KeyList>;
using LayerView = Decoded<LayerStateData>;
using SoundView = Decoded<Win32SoundData>;

const char* bool_word(bool value) { return value ? "true" : "false"; }

std::vector<std::string> draw_interface_names(const SceneObjectView& scene) {
  if (!scene.record.draw_interface_name) return {};
  return {scene.record.draw_interface_name->text(scene.bytes)};
}

std::string scene_object_repr(const SceneObjectView& scene) {
  return "SceneObject('" + text_or_empty(scene.record.name, scene.bytes) + "', " +
         std::to_string(scene.record.draw_interface_name ? 1 : 0) + " drawables, " +
         std::to_string(scene.record.modifiers.present) + " modifiers)";
}

std::string mipmap_repr(const MipmapView& view) {
  const MipmapData& mipmap = view.record;
  return "Mipmap('" + text_or_empty(mipmap.name, view.bytes) + "', " + std::to_string(mipmap.width) + "x" +
         std::to_string(mipmap.height) + ", " + std::to_string(mipmap.num_levels) + " levels, " +
         std::to_string(mipmap.total_size) + " bytes)";
}

std::string material_repr(const MaterialView& material) {
  std::string names;
  for (const std::string& name : material.record.present_names(material.bytes)) {
    if (!names.empty()) names += ", ";
    names += debug_quote(name);
  }
  return "Material(" + std::to_string(material.record.present) + " layers: [" + names + "])";
}

std::string layer_repr(const LayerView& view) {
  const LayerStateData& layer = view.record;
  std::optional<std::string> texture;
  if (layer.texture_name) texture = layer.texture_name->text(view.bytes);
  return "Layer('" + text_or_empty(layer.name, view.bytes) +
         "', texture=" + debug_optional(texture ? &*texture : nullptr) + ", opacity=" + format_fixed(layer.opacity, 2) +
         ")";
}

std::string sound_repr(const SoundView& view) {
  const Win32SoundData& sound = view.record;
  return "SoundInfo('" + text_or_empty(sound.name, view.bytes) + "', file='" +
         text_or_empty(sound.sound_file, view.bytes) + "', vol=" + format_fixed(sound.volume, 2) +
         ", 3d=" + bool_word(sound.is_3d) + ")";
}

}  // namespace

template <>
const ClassDef<SceneObjectView>& class_def<SceneObjectView>();
template <>
const ClassDef<MipmapView>& class_def<MipmapView>();
template <>
const ClassDef<MaterialView>& class_def<MaterialView>();
template <>
const ClassDef<LayerView>& class_def<LayerView>();
template <>
const ClassDef<SoundView>& class_def<SoundView>();

PyObject* as_scene_object(PyObject* self) {
  const uint16_t class_type = unbox<ObjectRef>(self).key->class_type;
  if (class_type != kSceneObjectClass) {
    char message[40];
    std::snprintf(message, sizeof message, "Not a plSceneObject (class 0x%04X)", static_cast<unsigned>(class_type));
    PyErr_SetString(PyExc_ValueError, message);
    throw PythonError{};
  }
  return decode_as<SceneObjectData, parse_scene_object>(self);
}

PyObject* as_mipmap(PyObject* self) { return decode_as<MipmapData, parse_mipmap>(self); }

PyObject* as_material(PyObject* self) { return decode_as<KeyList, parse_material_layers>(self); }

PyObject* as_layer(PyObject* self) { return decode_as<LayerStateData, parse_layer_state>(self); }

PyObject* as_sound(PyObject* self) { return decode_as<Win32SoundData, parse_win32_sound>(self); }

template <>
const ClassDef<SceneObjectView>& class_def<SceneObjectView>() {
  static const ClassDef<SceneObjectView> def{
      .id = TypeId::SceneObject,
      .qualified_name = "lumivex.SceneObject",
      .properties =
          {
              {"name", name_field<&SceneObjectData::name>, "Object name."},
              {"draw_interface_names", [](const SceneObjectView& s) { return to_py(draw_interface_names(s)); },
               "Names of the drawable interfaces (none or one)."},
              {"coord_interface_name", field<&SceneObjectData::coord_interface_name>,
               "Name of the coordinate interface, or None."},
              {"modifier_names",
               [](const SceneObjectView& s) { return to_py(s.record.modifiers.present_names(s.bytes)); },
               "Names of the modifiers, in stored order."},
          },
      .repr = scene_object_repr,
  };
  return def;
}

template <>
const ClassDef<MipmapView>& class_def<MipmapView>() {
  static const ClassDef<MipmapView> def{
      .id = TypeId::Mipmap,
      .qualified_name = "lumivex.Mipmap",
      .properties =
          {
              {"name", name_field<&MipmapData::name>, "Texture name."},
              {"width", field<&MipmapData::width>, "Width of the top level in pixels."},
              {"height", field<&MipmapData::height>, "Height of the top level in pixels."},
              {"num_levels", field<&MipmapData::num_levels>, "Number of levels."},
              {"compression_type", field<&MipmapData::compression_type>,
               "Compression: 0 uncompressed, 1 block-compressed (DXT)."},
              {"dxt_type", field<&MipmapData::dxt_type>,
               "Block format (1 DXT1, 5 DXT5), or pixel format when uncompressed (0: 32-bit B,G,R,A)."},
              {"total_size", field<&MipmapData::total_size>, "Size of every level's pixels, as stored."},
              {"pixel_data", [](const MipmapView& m) { return to_py(m.record.pixel_data.in(m.bytes)); },
               "Stored bytes of every level, the top level first."},
          },
      .repr = mipmap_repr,
  };
  return def;
}

template <>
const ClassDef<MaterialView>& class_def<MaterialView>() {
  static const ClassDef<MaterialView> def{
      .id = TypeId::Material,
      .qualified_name = "lumivex.Material",
      .properties = {{"layer_names", [](const MaterialView& m) { return to_py(m.record.present_names(m.bytes)); },
                      "Names of the material's layers, in stored order."}},
      .repr = material_repr,
  };
  return def;
}

template <>
const ClassDef<LayerView>& class_def<LayerView>() {
  static const ClassDef<LayerView> def{
      .id = TypeId::Layer,
      .qualified_name = "lumivex.Layer",
      .properties =
          {
              {"name", name_field<&LayerStateData::name>, "Layer name."},
              {"texture_name", field<&LayerStateData::texture_name>, "Name of the layer's texture, or None."},
              {"blend_flags", field<&LayerStateData::blend_flags>, "Blend flags."},
              {"shade_flags", field<&LayerStateData::shade_flags>, "Shade flags."},
              {"misc_flags", field<&LayerStateData::misc_flags>, "Miscellaneous flags."},
              {"z_flags", field<&LayerStateData::z_flags>, "Depth-buffer flags."},
              {"uv_channel", field<&LayerStateData::uv_channel>, "UV channel (the low byte of the UVW source)."},
              {"opacity", field<&LayerStateData::opacity>, "Opacity, 0.0 to 1.0."},
              {"preshade_color", field<&LayerStateData::preshade_color>, "Preshade colour: red, green, blue, alpha."},
              {"runtime_color", field<&LayerStateData::runtime_color>, "Runtime colour: red, green, blue, alpha."},
              {"ambient_color", field<&LayerStateData::ambient_color>, "Ambient colour: red, green, blue, alpha."},
              {"specular_color", field<&LayerStateData::specular_color>, "Specular colour: red, green, blue, alpha."},
          },
      .repr = layer_repr,
  };
  return def;
}

template <>
const ClassDef<SoundView>& class_def<SoundView>() {
  static const ClassDef<SoundView> def{
      .id = TypeId::SoundInfo,
      .qualified_name = "lumivex.SoundInfo",
      .properties =
          {
              {"name", name_field<&Win32SoundData::name>, "Sound name."},
              {"sound_file", name_field<&Win32SoundData::sound_file>, "Name of the sound's file."},
              {"volume", field<&Win32SoundData::volume>, "Volume, 0.0 to 1.0."},
              {"is_3d", field<&Win32SoundData::is_3d>, "Whether the sound is placed in 3D space."},
              {"auto_start", field<&Win32SoundData::auto_start>, "Whether the sound starts on load."},
              {"looping", field<&Win32SoundData::looping>, "Whether the sound loops."},
              {"min_distance", field<&Win32SoundData::min_distance>, "Distance within which it plays at full volume."},
              {"max_distance", field<&Win32SoundData::max_distance>, "Distance beyond which it is not heard."},
          },
      .repr = sound_repr,
  };
  return def;
}

PyTypeObject* create_scene_object_type(PyObject* module) { return create_type<SceneObjectView>(module); }
PyTypeObject* create_mipmap_type(PyObject* module) { return create_type<MipmapView>(module); }
PyTypeObject* create_material_type(PyObject* module) { return create_type<MaterialView>(module); }
PyTypeObject* create_layer_type(PyObject* module) { return create_type<LayerView>(module); }
PyTypeObject* create_sound_info_type(PyObject* module) { return create_type<SoundView>(module); }

}  // namespace lumivex::py
