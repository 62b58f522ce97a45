#include <variant>

#include "core/text.h"
#include "python/classes.h"
#include "python/page_classes.h"
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
  return "PhysicalData('" + text_or_empty(data.name, view.bytes) + "', mass=" + format_fixed(data.mass, 1) +
         ", group=" + phys_group_name(data.group) + ", bounds=" + phys_bounds_name(data.bounds_type) + ", " +
         std::to_string(vertex_count(data)) + " verts)";
}

}  // namespace

PyObject* as_physical(PyObject* self, PyObject* args) {
  return decode_as<PxPhysicalData, &parse_px_physical>(self, args);
}

PyTypeObject* create_physical_data_type() {
  static const ClassDef<PhysicalDataView> def{
      .qualified_name = "lumivex.PhysicalData",
      .properties =
          {
              {"name", text_field<&PxPhysicalData::name>},
              {"mass", field<&PxPhysicalData::mass>},
              {"friction", field<&PxPhysicalData::friction>},
              {"restitution", field<&PxPhysicalData::restitution>},
              {"group", [](const PhysicalDataView& p) { return new_str(phys_group_name(p.record.group)); }},
              {"bounds_type",
               [](const PhysicalDataView& p) { return new_str(phys_bounds_name(p.record.bounds_type)); }},
              {"num_verts", [](const PhysicalDataView& p) { return to_py(vertex_count(p.record)); }},
              {"num_faces", [](const PhysicalDataView& p) { return to_py(face_count(p.record)); }},
          },
      .repr = physical_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
