#include <optional>
#include <string>

#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "core/text.h"
#include "resource/prp/layer.h"

namespace lumivex::py {
namespace {

using LayerView = Decoded<LayerStateData>;

std::string layer_repr(const LayerView& view) {
  const LayerStateData& layer = view.record;
  std::optional<std::string> texture;
  if (layer.texture) texture = view.source.text(read_key(view.source, layer.texture).name);
  return "Layer('" + text_or_empty(layer.name, view.source) + "', texture=" + debug_optional(texture) +
         ", opacity=" + format_fixed(layer.opacity, 2) + ")";
}

}  // namespace

template <>
const ClassDef<LayerView>& class_def<LayerView>() {
  static const ClassDef<LayerView> def{
      .id = view_type_id<LayerStateData>(),
      .qualified_name = "lumivex.Layer",
      .properties =
          {
              {"name", decoded_name_or_empty<&LayerStateData::name>, "Layer name."},
              {"texture_name", decoded_value<&LayerStateData::texture>, "Name of the layer's texture, or None."},
              {"blend_flags", decoded_value<&LayerStateData::blend_flags>, "Blend flags."},
              {"shade_flags", decoded_value<&LayerStateData::shade_flags>, "Shade flags."},
              {"misc_flags", decoded_value<&LayerStateData::misc_flags>, "Miscellaneous flags."},
              {"z_flags", decoded_value<&LayerStateData::z_flags>, "Depth-buffer flags."},
              {"uv_channel", decoded_value<&LayerStateData::uv_channel>,
               "UV channel (the low byte of the UVW source)."},
              {"opacity", decoded_value<&LayerStateData::opacity>, "Opacity, 0.0 to 1.0."},
              {"preshade_color", decoded_value<&LayerStateData::preshade_color>,
               "Preshade colour: red, green, blue, alpha."},
              {"runtime_color", decoded_value<&LayerStateData::runtime_color>,
               "Runtime colour: red, green, blue, alpha."},
              {"ambient_color", decoded_value<&LayerStateData::ambient_color>,
               "Ambient colour: red, green, blue, alpha."},
              {"specular_color", decoded_value<&LayerStateData::specular_color>,
               "Specular colour: red, green, blue, alpha."},
              {"texture_key", decoded_key<&LayerStateData::texture>, "Key of the layer's texture, or None."},
          },
      .repr = layer_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<LayerStateData>() {
  static const std::vector<Settable> settable = {
      {"blend_flags", Takes::U32},      {"shade_flags", Takes::U32},       {"misc_flags", Takes::U32},
      {"z_flags", Takes::U32},          {"uv_channel", Takes::U8},         {"opacity", Takes::Float},
      {"preshade_color", Takes::Color}, {"runtime_color", Takes::Color},   {"ambient_color", Takes::Color},
      {"specular_color", Takes::Color}, {"texture_key", Takes::KeyOrNone},
  };
  return settable;
}

const RegisterView<LayerStateData> register_layer_view;

}  // namespace lumivex::py
