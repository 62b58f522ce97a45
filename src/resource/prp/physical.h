#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "core/key_list.h"
#include "core/stream.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

struct Vector3 {
  float x = 0, y = 0, z = 0;
};

struct Quaternion {
  float x = 0, y = 0, z = 0, w = 1;
};

enum class PhysGroup : uint8_t {
  Static = 0,
  AvatarBlocker = 1,
  DynamicBlocker = 2,
  Avatar = 3,
  Dynamic = 4,
  Detector = 5,
  LOSOnly = 6,
  ExcludeRegion = 7,
  Max = 255,
};

enum class PhysBoundsType : uint8_t {
  Box = 1,
  Sphere = 2,
  Hull = 3,
  Proxy = 4,
  Explicit = 5,
};

// Vertex and index lists are located in the object's bytes and read when
// asked for.
struct PhysHull {
  StoredList<Vector3> vertices;
};
// A mesh's triangle corners, three per triangle.
struct IndexList : StoredList<uint32_t> {
  uint8_t width = 4;  // bytes per stored index: 1, 2 or 4
};
std::vector<Vector3> read_items(const StoredList<Vector3>& vertices, const Source& source);
std::vector<uint32_t> read_items(const IndexList& indices, const Source& source);
struct PhysMesh {
  StoredList<Vector3> vertices;
  IndexList indices;

  std::vector<uint32_t> read_indices(const Source& source) const { return read_items(indices, source); }
};
inline std::vector<Vector3> read_vertices(const StoredList<Vector3>& vertices, const Source& source) {
  return read_items(vertices, source);
}
// A box or a sphere keeps nothing: its sizes and offset are read over.
using PhysShapeData = std::variant<std::monostate, PhysHull, PhysMesh>;

// Its extra flags, position and rotation are read over: nothing shows them.
struct PxPhysicalData {
  std::optional<StoredString> name;
  PhysShapeData shape;
  // The object it belongs to, its scene node, the subworld it moves in and
  // its sound group.
  std::array<StoredKey, 4> reference_keys;
  float mass = 0;
  float friction = 0;
  float restitution = 0;
  PhysBoundsType bounds_type = PhysBoundsType::Box;
  PhysGroup group = PhysGroup::Static;
};

template <class Visit>
void visit_fields(const PhysHull& hull, Visit&& visit) {
  visit("vertices", hull.vertices);
}
template <class Visit>
void visit_fields(const PhysMesh& mesh, Visit&& visit) {
  visit("vertices", mesh.vertices);
  visit("indices", mesh.indices);
}
template <class Visit>
void visit_fields(const PxPhysicalData& data, Visit&& visit) {
  visit("name", data.name);
  visit("mass", data.mass);
  visit("friction", data.friction);
  visit("restitution", data.restitution);
  visit("bounds_type", data.bounds_type);
  visit("group", data.group);
  visit("reference_keys", data.reference_keys);
  visit("shape", data.shape);
}

// One plPXPhysical object's complete bytes, class index included.
PxPhysicalData parse_px_physical(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
PxPhysicalData parse_px_physical(std::span<const uint8_t> object_bytes, Marks& marks);

// Converts a stored bounds byte; reads nothing.
PhysBoundsType read_phys_bounds(uint8_t value);
// A hull or a triangle mesh, in the engine's own form or the cooked one; a
// hull always gives PhysHull and a mesh always PhysMesh.
PhysShapeData read_mesh_shape(PlasmaRead& reader, bool hull);
// Steps over the run that ends a cooked shape; only its counts are read.
void read_cooked_suffix(PlasmaRead& reader);
// Four zero components stand for the identity rotation.
Quaternion read_quat(PlasmaRead& reader);
// A list whose element width depends on a stored maximum; stepped over.
void skip_max_dependent_list(PlasmaRead& reader, uint64_t count);
// Step over a list of vertices, or of 3 x triangles indices of width bytes
// each, as one block: a short list fails where reading it element by element
// (read_items) would, at its end.
StoredList<Vector3> locate_vertices(PlasmaRead& reader, uint32_t count);
IndexList locate_indices(PlasmaRead& reader, uint32_t triangles, uint8_t width);

const char* phys_group_name(PhysGroup group);
const char* phys_bounds_name(PhysBoundsType bounds);

}  // namespace lumivex
