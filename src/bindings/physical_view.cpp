#include <variant>

#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "core/text.h"
#include "resource/prp/physical.h"

namespace lumivex::py {
namespace {

using PhysicalDataView = Decoded<PxPhysicalData>;

uint64_t vertex_count(const PxPhysicalData& data) {
  if (const auto* hull = std::get_if<PhysHull>(&data.shape)) return hull->vertices.count;
  if (const auto* mesh = std::get_if<PhysMesh>(&data.shape)) return mesh->vertices.count;
  return 0;
}

uint64_t face_count(const PxPhysicalData& data) {
  if (const auto* mesh = std::get_if<PhysMesh>(&data.shape)) return mesh->indices.count / 3;
  return 0;
}

std::string physical_repr(const PhysicalDataView& view) {
  const PxPhysicalData& data = view.record;
  return "PhysicalData('" + text_or_empty(data.name, view.source) + "', mass=" + format_fixed(data.mass, 1) +
         ", group=" + phys_group_name(data.group) + ", bounds=" + phys_bounds_name(data.bounds_type) + ", " +
         std::to_string(vertex_count(data)) + " verts)";
}

}  // namespace

template <>
const ClassDef<PhysicalDataView>& class_def<PhysicalDataView>() {
  static const ClassDef<PhysicalDataView> def{
      .id = view_type_id<PxPhysicalData>(),
      .qualified_name = "lumivex.PhysicalData",
      .properties =
          {
              {"name", decoded_name_or_empty<&PxPhysicalData::name>, "Object name."},
              {"mass", decoded_value<&PxPhysicalData::mass>, "Mass (0.0 for a static object)."},
              {"friction", decoded_value<&PxPhysicalData::friction>, "Friction coefficient."},
              {"restitution", decoded_value<&PxPhysicalData::restitution>, "Restitution (bounciness)."},
              {"group", [](const PhysicalDataView& p) { return new_str(phys_group_name(p.record.group)); },
               "Collision group, by name."},
              {"bounds_type", [](const PhysicalDataView& p) { return new_str(phys_bounds_name(p.record.bounds_type)); },
               "Shape of the collision bounds, by name."},
              {"num_verts", [](const PhysicalDataView& p) { return to_py(vertex_count(p.record)); },
               "Number of vertices of a hull or mesh shape (0 for other shapes)."},
              {"num_faces", [](const PhysicalDataView& p) { return to_py(face_count(p.record)); },
               "Number of triangles of a mesh shape (0 for other shapes)."},
              {"reference_keys",
               [](const PhysicalDataView& p, const ModuleState& state) {
                 std::vector<StoredKey> present;
                 for (const auto& key : p.record.reference_keys)
                   if (key) present.push_back(key);
                 return to_py_list(present, [&](const auto& key) { return key_or_none(key, p.source, state); });
               },
               "Keys of the four references after the collision group, those present, in stored order."},
          },
      .repr = physical_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<PxPhysicalData>() {
  static const std::vector<Settable> settable = {
      {"mass", Takes::Float},
      {"friction", Takes::Float},
      {"restitution", Takes::Float},
      {"reference_keys", Takes::Keys},
  };
  return settable;
}

const RegisterView<PxPhysicalData> register_physical_view;

}  // namespace lumivex::py
