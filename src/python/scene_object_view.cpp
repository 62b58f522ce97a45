#include <string>
#include <vector>

#include "core/text.h"
#include "python/convert.h"
#include "resource/prp/scene_object.h"

namespace lumivex::py {
namespace {

using SceneObjectView = Decoded<SceneObjectData>;

std::vector<std::string> draw_interface_names(const SceneObjectView& scene) {
  if (!scene.record.draw_interface_name) return {};
  return {scene.source.text(*scene.record.draw_interface_name)};
}

std::string scene_object_repr(const SceneObjectView& scene) {
  return "SceneObject('" + text_or_empty(scene.record.name, scene.source) + "', " +
         std::to_string(scene.record.draw_interface_name ? 1 : 0) + " drawables, " +
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
              {"name", decoded_name_or_empty<&SceneObjectData::name>, "Object name."},
              {"draw_interface_names", [](const SceneObjectView& s) { return to_py(draw_interface_names(s)); },
               "Names of the drawable interfaces (none or one)."},
              {"coord_interface_name", decoded_value<&SceneObjectData::coord_interface_name>,
               "Name of the coordinate interface, or None."},
              {"modifier_names",
               [](const SceneObjectView& s) { return to_py(s.record.modifiers.present_names(s.source)); },
               "Names of the modifiers, in stored order."},
          },
      .repr = scene_object_repr,
  };
  return def;
}

const RegisterView<SceneObjectData> register_scene_object_view;

}  // namespace lumivex::py
