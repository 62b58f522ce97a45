#include <string>

#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "core/text.h"
#include "resource/prp/material.h"

namespace lumivex::py {
namespace {

using MaterialView = Decoded<MaterialData>;

std::string material_repr(const MaterialView& material) {
  std::string names;
  for (const std::string& name : material.record.layers.present_names(material.source)) {
    if (!names.empty()) names += ", ";
    names += debug_quote(name);
  }
  return "Material(" + std::to_string(material.record.layers.present) + " layers: [" + names + "])";
}

}  // namespace

template <>
const ClassDef<MaterialView>& class_def<MaterialView>() {
  static const ClassDef<MaterialView> def{
      .id = view_type_id<MaterialData>(),
      .qualified_name = "lumivex.Material",
      .properties =
          {
              {"layer_names", decoded_names<&MaterialData::layers>, "Names of the material's layers, in stored order."},
              {"layer_keys", decoded_keys<&MaterialData::layers>, "Keys of the material's layers, in stored order."},
          },
      .repr = material_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<MaterialData>() {
  static const std::vector<Settable> settable = {
      {"layer_keys", Takes::Keys},
  };
  return settable;
}

const RegisterView<MaterialData> register_material_view;

}  // namespace lumivex::py
