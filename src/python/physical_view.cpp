#include <variant>

#include "core/text.h"
#include "python/classes.h"
#include "python/page_classes.h"
#include "resource/prp/physical.h"

namespace lumivex::py {
namespace {

// What PhysicalData shows of a decoded physical; the shape itself is dropped.
struct PhysicalDataView {
  std::string name;
  float mass = 0;
  float friction = 0;
  float restitution = 0;
  std::string group;
  std::string bounds_type;
  uint64_t num_verts = 0;
  uint64_t num_faces = 0;
};

PhysicalDataView physical_view(std::span<const uint8_t> object_bytes) {
  PxPhysicalData data = parse_px_physical(object_bytes);
  PhysicalDataView view{std::move(data.name),
                        data.mass,
                        data.friction,
                        data.restitution,
                        phys_group_name(data.group),
                        phys_bounds_name(data.bounds_type)};
  if (const auto* hull = std::get_if<PhysHull>(&data.shape)) view.num_verts = hull->vertices.size();
  if (const auto* mesh = std::get_if<PhysMesh>(&data.shape)) {
    view.num_verts = mesh->vertices.size();
    view.num_faces = mesh->indices.size() / 3;
  }
  return view;
}

std::string physical_repr(const PhysicalDataView& view) {
  return "PhysicalData('" + view.name + "', mass=" + format_fixed(view.mass, 1) + ", group=" + view.group +
         ", bounds=" + view.bounds_type + ", " + std::to_string(view.num_verts) + " verts)";
}

}  // namespace

PyObject* as_physical(PyObject* self, PyObject* args) {
  return decode_as<PhysicalDataView, &physical_view>(self, args);
}

PyTypeObject* create_physical_data_type() {
  static const ClassDef<PhysicalDataView> def{
      .qualified_name = "lumivex.PhysicalData",
      .properties =
          {
              {"name", member<&PhysicalDataView::name>},
              {"mass", member<&PhysicalDataView::mass>},
              {"friction", member<&PhysicalDataView::friction>},
              {"restitution", member<&PhysicalDataView::restitution>},
              {"group", member<&PhysicalDataView::group>},
              {"bounds_type", member<&PhysicalDataView::bounds_type>},
              {"num_verts", member<&PhysicalDataView::num_verts>},
              {"num_faces", member<&PhysicalDataView::num_faces>},
          },
      .repr = physical_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
