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

// The material's view holds only its layer names.
struct MaterialLayers {
  std::vector<std::string> layer_names;
};

const char* bool_word(bool value) { return value ? "true" : "false"; }

std::vector<std::string> draw_interface_names(const SceneObjectData& scene) {
  if (!scene.draw_interface_name) return {};
  return {*scene.draw_interface_name};
}

MaterialLayers decode_material(std::span<const uint8_t> object_bytes) { return {parse_material_layers(object_bytes)}; }

std::string scene_object_repr(const SceneObjectData& scene) {
  return "SceneObject('" + scene.name.value_or("") + "', " + std::to_string(scene.draw_interface_name ? 1 : 0) +
         " drawables, " + std::to_string(scene.modifier_names.size()) + " modifiers)";
}

std::string mipmap_repr(const MipmapData& mipmap) {
  return "Mipmap('" + mipmap.name + "', " + std::to_string(mipmap.width) + "x" + std::to_string(mipmap.height) + ", " +
         std::to_string(mipmap.num_levels) + " levels, " + std::to_string(mipmap.total_size) + " bytes)";
}

std::string material_repr(const MaterialLayers& material) {
  std::string names;
  for (const std::string& name : material.layer_names) {
    if (!names.empty()) names += ", ";
    names += debug_quote(name);
  }
  return "Material(" + std::to_string(material.layer_names.size()) + " layers: [" + names + "])";
}

std::string layer_repr(const LayerStateData& layer) {
  return "Layer('" + layer.name + "', texture=" + debug_optional(layer.texture_name ? &*layer.texture_name : nullptr) +
         ", opacity=" + format_fixed(layer.opacity, 2) + ")";
}

std::string sound_repr(const Win32SoundData& sound) {
  return "SoundInfo('" + sound.name + "', file='" + sound.sound_file.value_or("") +
         "', vol=" + format_fixed(sound.volume, 2) + ", 3d=" + bool_word(sound.is_3d) + ")";
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

PyObject* as_material(PyObject* self, PyObject* args) { return decode_as<MaterialLayers, decode_material>(self, args); }

PyObject* as_layer(PyObject* self, PyObject* args) { return decode_as<LayerStateData, parse_layer_state>(self, args); }

PyObject* as_sound(PyObject* self, PyObject* args) { return decode_as<Win32SoundData, parse_win32_sound>(self, args); }

PyTypeObject* create_scene_object_type() {
  static const ClassDef<SceneObjectData> def{
      .qualified_name = "lumivex.SceneObject",
      .properties =
          {
              {"name", [](const SceneObjectData& s) { return to_py(s.name.value_or("")); }},
              {"draw_interface_names", [](const SceneObjectData& s) { return to_py(draw_interface_names(s)); }},
              {"coord_interface_name", member<&SceneObjectData::coord_interface_name>},
              {"modifier_names", member<&SceneObjectData::modifier_names>},
          },
      .repr = scene_object_repr,
  };
  return create_type(def);
}

PyTypeObject* create_mipmap_type() {
  static const ClassDef<MipmapData> def{
      .qualified_name = "lumivex.Mipmap",
      .properties =
          {
              {"name", member<&MipmapData::name>},
              {"width", member<&MipmapData::width>},
              {"height", member<&MipmapData::height>},
              {"num_levels", member<&MipmapData::num_levels>},
              {"compression_type", member<&MipmapData::compression_type>},
              {"dxt_type", member<&MipmapData::dxt_type>},
              {"total_size", member<&MipmapData::total_size>},
              {"pixel_data", [](const MipmapData& m) { return to_py(std::span<const uint8_t>(m.pixel_data)); }},
          },
      .repr = mipmap_repr,
  };
  return create_type(def);
}

PyTypeObject* create_material_type() {
  static const ClassDef<MaterialLayers> def{
      .qualified_name = "lumivex.Material",
      .properties = {{"layer_names", member<&MaterialLayers::layer_names>}},
      .repr = material_repr,
  };
  return create_type(def);
}

PyTypeObject* create_layer_type() {
  static const ClassDef<LayerStateData> def{
      .qualified_name = "lumivex.Layer",
      .properties =
          {
              {"name", member<&LayerStateData::name>},
              {"texture_name", member<&LayerStateData::texture_name>},
              {"blend_flags", member<&LayerStateData::blend_flags>},
              {"shade_flags", member<&LayerStateData::shade_flags>},
              {"misc_flags", member<&LayerStateData::misc_flags>},
              {"z_flags", member<&LayerStateData::z_flags>},
              {"uv_channel", member<&LayerStateData::uv_channel>},
              {"opacity", member<&LayerStateData::opacity>},
              {"preshade_color", member<&LayerStateData::preshade_color>},
              {"runtime_color", member<&LayerStateData::runtime_color>},
              {"ambient_color", member<&LayerStateData::ambient_color>},
              {"specular_color", member<&LayerStateData::specular_color>},
          },
      .repr = layer_repr,
  };
  return create_type(def);
}

PyTypeObject* create_sound_info_type() {
  static const ClassDef<Win32SoundData> def{
      .qualified_name = "lumivex.SoundInfo",
      .properties =
          {
              {"name", member<&Win32SoundData::name>},
              {"sound_file", [](const Win32SoundData& s) { return to_py(s.sound_file.value_or("")); }},
              {"volume", member<&Win32SoundData::volume>},
              {"is_3d", member<&Win32SoundData::is_3d>},
              {"auto_start", member<&Win32SoundData::auto_start>},
              {"looping", member<&Win32SoundData::looping>},
              {"min_distance", member<&Win32SoundData::min_distance>},
              {"max_distance", member<&Win32SoundData::max_distance>},
          },
      .repr = sound_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
