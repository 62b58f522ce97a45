#include "python/object_views.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/scene_object.h"
#include "core/text.h"
#include "python/classes.h"
#include "python/page_classes.h"
#include "resource/prp/layer.h"
#include "resource/prp/material.h"
#include "resource/prp/mipmap.h"
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

PyObject* as_scene_object(PyObject* self, PyObject* args) {
  const uint16_t class_type = unbox<ObjectRef>(self).key->class_type;
  if (class_type != kSceneObjectClass) {
    char message[40];
    std::snprintf(message, sizeof message, "Not a plSceneObject (class 0x%04X)", static_cast<unsigned>(class_type));
    PyErr_SetString(PyExc_ValueError, message);
    return nullptr;
  }
  return decode_as<SceneObjectData, parse_scene_object>(self, args);
}

PyObject* as_mipmap(PyObject* self, PyObject* args) { return decode_as<MipmapData, parse_mipmap>(self, args); }

PyObject* as_material(PyObject* self, PyObject* args) { return decode_as<KeyList, parse_material_layers>(self, args); }

PyObject* as_layer(PyObject* self, PyObject* args) { return decode_as<LayerStateData, parse_layer_state>(self, args); }

PyObject* as_sound(PyObject* self, PyObject* args) { return decode_as<Win32SoundData, parse_win32_sound>(self, args); }

PyTypeObject* create_scene_object_type() {
  static const ClassDef<SceneObjectView> def{
      .qualified_name = "lumivex.SceneObject",
      .properties =
          {
              {"name", text_field<&SceneObjectData::name>},
              {"draw_interface_names", [](const SceneObjectView& s) { return to_py(draw_interface_names(s)); }},
              {"coord_interface_name", field<&SceneObjectData::coord_interface_name>},
              {"modifier_names",
               [](const SceneObjectView& s) { return to_py(s.record.modifiers.present_names(s.bytes)); }},
          },
      .repr = scene_object_repr,
  };
  return create_type(def);
}

PyTypeObject* create_mipmap_type() {
  static const ClassDef<MipmapView> def{
      .qualified_name = "lumivex.Mipmap",
      .properties =
          {
              {"name", text_field<&MipmapData::name>},
              {"width", field<&MipmapData::width>},
              {"height", field<&MipmapData::height>},
              {"num_levels", field<&MipmapData::num_levels>},
              {"compression_type", field<&MipmapData::compression_type>},
              {"dxt_type", field<&MipmapData::dxt_type>},
              {"total_size", field<&MipmapData::total_size>},
              {"pixel_data", [](const MipmapView& m) { return to_py(m.record.pixel_data.in(m.bytes)); }},
          },
      .repr = mipmap_repr,
  };
  return create_type(def);
}

PyTypeObject* create_material_type() {
  static const ClassDef<MaterialView> def{
      .qualified_name = "lumivex.Material",
      .properties = {{"layer_names", [](const MaterialView& m) { return to_py(m.record.present_names(m.bytes)); }}},
      .repr = material_repr,
  };
  return create_type(def);
}

PyTypeObject* create_layer_type() {
  static const ClassDef<LayerView> def{
      .qualified_name = "lumivex.Layer",
      .properties =
          {
              {"name", text_field<&LayerStateData::name>},
              {"texture_name", field<&LayerStateData::texture_name>},
              {"blend_flags", field<&LayerStateData::blend_flags>},
              {"shade_flags", field<&LayerStateData::shade_flags>},
              {"misc_flags", field<&LayerStateData::misc_flags>},
              {"z_flags", field<&LayerStateData::z_flags>},
              {"uv_channel", field<&LayerStateData::uv_channel>},
              {"opacity", field<&LayerStateData::opacity>},
              {"preshade_color", field<&LayerStateData::preshade_color>},
              {"runtime_color", field<&LayerStateData::runtime_color>},
              {"ambient_color", field<&LayerStateData::ambient_color>},
              {"specular_color", field<&LayerStateData::specular_color>},
          },
      .repr = layer_repr,
  };
  return create_type(def);
}

PyTypeObject* create_sound_info_type() {
  static const ClassDef<SoundView> def{
      .qualified_name = "lumivex.SoundInfo",
      .properties =
          {
              {"name", text_field<&Win32SoundData::name>},
              {"sound_file", text_field<&Win32SoundData::sound_file>},
              {"volume", field<&Win32SoundData::volume>},
              {"is_3d", field<&Win32SoundData::is_3d>},
              {"auto_start", field<&Win32SoundData::auto_start>},
              {"looping", field<&Win32SoundData::looping>},
              {"min_distance", field<&Win32SoundData::min_distance>},
              {"max_distance", field<&Win32SoundData::max_distance>},
          },
      .repr = sound_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
