#include <optional>
#include <string>
#include <vector>

#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "resource/prp/scene_object.h"

namespace lumivex::py {
namespace {

using SceneObjectView = Decoded<SceneObjectData>;

std::string scene_object_repr(const SceneObjectView& scene) {
  return "SceneObject('" + text_or_empty(scene.record.self_key, scene.source) + "', " +
         std::to_string(scene.record.draw_interface ? 1 : 0) + " drawables, " +
         std::to_string(scene.record.modifiers.present) + " modifiers)";
}

}  // namespace

template <>
const ClassDef<SceneObjectView>& class_def<SceneObjectView>() {
  static const ClassDef<SceneObjectView> def{
      .id = view_type_id<SceneObjectData>(),
      .qualified_name = "lumivex.SceneObject",
      .properties =
          {
              {"name", decoded_name_or_empty<&SceneObjectData::self_key>, "Object name."},
              {"draw_interface_names",
               [](const SceneObjectView& s) {
                 const std::span<const StoredKey> present(&s.record.draw_interface, s.record.draw_interface ? 1 : 0);
                 return to_py_list(present, [&](const StoredKey& key) { return located_to_py(key, s.source); });
               },
               "Names of the drawable interfaces (none or one)."},
              {"coord_interface_name", decoded_value<&SceneObjectData::coord_interface>,
               "Name of the coordinate interface, or None."},
              {"modifier_names", decoded_names<&SceneObjectData::modifiers>,
               "Names of the modifiers, in stored order."},
              {"draw_interface_keys",
               [](const SceneObjectView& s, const ModuleState& state) {
                 std::vector<StoredKey> keys;
                 if (s.record.draw_interface) keys.push_back(s.record.draw_interface);
                 return to_py_list(keys, [&](const auto& key) { return key_or_none(key, s.source, state); });
               },
               "Keys of the drawable interfaces (none or one)."},
              {"coord_interface_key", decoded_key<&SceneObjectData::coord_interface>,
               "Key of the coordinate interface, or None."},
              {"modifier_keys", decoded_keys<&SceneObjectData::modifiers>, "Keys of the modifiers, in stored order."},
          },
      .repr = scene_object_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<SceneObjectData>() {
  static const std::vector<Settable> settable = {
      {"draw_interface_keys", Takes::Keys},
      {"coord_interface_key", Takes::KeyOrNone},
      {"modifier_keys", Takes::Keys},
  };
  return settable;
}

const RegisterView<SceneObjectData> register_scene_object_view;

}  // namespace lumivex::py
