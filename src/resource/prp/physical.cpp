#include "resource/prp/physical.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "core/key.h"
#include "resource/prp/bit_vector.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// Mesh-shape magics as u32: "HSP" 0x01 (the engine's own form) and "NXS" 0x01
// (the cooked form of the physics library).
constexpr uint32_t kUncookedMagic = 0x01505348;
constexpr uint32_t kCookedMagic = 0x0153584E;
constexpr std::array<uint8_t, 4> kCookedHullTag = {'C', 'V', 'X', 'M'};
constexpr std::array<uint8_t, 4> kCookedMeshTag = {'M', 'E', 'S', 'H'};

// Cooked mesh flags.
constexpr uint32_t kMeshHasMaterials = 0x01;
constexpr uint32_t kMeshHasRemap = 0x02;
constexpr uint32_t kMeshByteIndices = 0x08;
constexpr uint32_t kMeshShortIndices = 0x10;

// A group byte at or above this is no known group and reads as Max.
constexpr uint8_t kFirstInvalidGroup = 8;
constexpr uint16_t kGroupOverrideMax = 0x80;
// Cooked hulls with more vertices than this carry a trailing block.
constexpr uint32_t kHullTrailingBlockAbove = 32;

constexpr uint64_t kVectorSize = 3 * sizeof(float);  // x, y, z
constexpr uint64_t kIndicesPerTriangle = 3;
constexpr uint64_t kSphereSize = sizeof(float) + kVectorSize;  // radius, offset
constexpr uint64_t kBoxSize = 2 * kVectorSize;                 // dimensions, offset

// The cooked forms are known only as far as they are stepped over: fixed
// runs, and the bytes per element of runs whose counts are stored. What
// their fields mean is not needed.
constexpr uint64_t kHullHeaderFields = 8 * sizeof(uint32_t);  // the eight 32-bit fields after the tag
constexpr uint64_t kHullFieldBeforeVertices = sizeof(uint32_t);
constexpr uint64_t kHullEntriesPerPolygon = 3;  // each as wide as the stored maximum says
constexpr uint64_t kHullRunAfterPolygons = 2;
constexpr uint64_t kHullBytesPerVertex = 2;
constexpr uint64_t kHullRunAfterVertexBytes = 12;
constexpr uint64_t kHullRecordSize = 36;
constexpr uint64_t kHullRunAfterData = 8;
constexpr uint64_t kHullBytesPerEdge = 2;
constexpr int kHullListsPerEdge = 3;  // lists of edge_count values, each as wide as its largest needs
constexpr uint64_t kHullFieldsBeforeCounts = 3 * sizeof(uint32_t);
constexpr uint64_t kHullTrailingFields = 7 * sizeof(uint32_t);  // before the trailing block's count
constexpr uint64_t kHullBytesPerTrailingEntry = 2;
constexpr uint64_t kMeshFieldBeforeFlags = sizeof(uint32_t);
constexpr uint64_t kMeshFieldsAfterFlags = 3 * sizeof(uint32_t);  // seeked over, not read
constexpr uint64_t kMeshBytesPerMaterial = 2;                     // one per triangle
constexpr uint64_t kMeshFirstBlockBytesPerTriangle = 2;
constexpr uint64_t kMeshSecondBlockWidestEntry = 2;  // never four bytes, whatever its maximum
constexpr uint64_t kSuffixFixedRun = 44;             // after the counted run, before the float
constexpr uint64_t kSuffixExtraRun = 48;             // stored when the float is above -1

// Width of the elements of a list whose largest value is max.
uint64_t dependent_width(uint32_t max) {
  return max < 0x100 ? sizeof(uint8_t) : max < 0x10000 ? sizeof(uint16_t) : sizeof(uint32_t);
}

Vector3 read_vector(PlasmaRead& reader) {
  Vector3 v;
  v.x = reader.read_f32();
  v.y = reader.read_f32();
  v.z = reader.read_f32();
  return v;
}

void expect_tag(PlasmaRead& reader, const std::array<uint8_t, 4>& tag, std::string_view tag_name) {
  const auto got = reader.read_bytes(tag.size());
  if (std::equal(got.begin(), got.end(), tag.begin())) return;
  char shown[32];
  std::snprintf(shown, sizeof shown, "[%u, %u, %u, %u]", got[0], got[1], got[2], got[3]);
  throw Error("Expected " + std::string(tag_name) + ", got " + shown);
}

PhysHull read_cooked_hull(PlasmaRead& reader) {
  expect_tag(reader, kCookedHullTag, "CVXM");
  reader.skip(kHullHeaderFields);
  const uint32_t vertex_count = reader.read_u32();
  const uint32_t polygon_count = reader.read_u32();
  const uint32_t edge_count = reader.read_u32();
  const uint32_t record_count = reader.read_u32();
  const uint32_t data_size = reader.read_u32();
  reader.skip(kHullFieldBeforeVertices);
  PhysHull hull{locate_vertices(reader, vertex_count)};

  const uint32_t polygon_max = reader.read_u32();
  reader.seek_forward(uint64_t{polygon_count} * kHullEntriesPerPolygon * dependent_width(polygon_max));
  reader.seek_forward(kHullRunAfterPolygons);
  reader.seek_forward(uint64_t{vertex_count} * kHullBytesPerVertex);
  reader.seek_forward(kHullRunAfterVertexBytes);
  reader.seek_forward(uint64_t{record_count} * kHullRecordSize);
  reader.seek_forward(data_size);
  skip_max_dependent_list(reader, data_size);
  reader.seek_forward(kHullRunAfterData);
  reader.seek_forward(uint64_t{edge_count} * kHullBytesPerEdge);
  reader.seek_forward(uint64_t{edge_count} * kHullBytesPerEdge);
  for (int list = 0; list < kHullListsPerEdge; ++list) skip_max_dependent_list(reader, edge_count);
  reader.seek_forward(uint64_t{edge_count} * kHullBytesPerEdge);
  reader.skip(kHullFieldsBeforeCounts);
  const uint32_t list_count = reader.read_u32();
  const uint32_t block_size = reader.read_u32();
  skip_max_dependent_list(reader, list_count);
  reader.seek_forward(block_size);
  read_cooked_suffix(reader);
  if (vertex_count > kHullTrailingBlockAbove) {
    reader.skip(kHullTrailingFields);
    const uint32_t trailing_count = reader.read_u32();
    reader.seek_forward(uint64_t{trailing_count} * kHullBytesPerTrailingEntry);
  }
  return hull;
}

PhysMesh read_cooked_mesh(PlasmaRead& reader) {
  expect_tag(reader, kCookedMeshTag, "MESH");
  reader.skip(kMeshFieldBeforeFlags);
  const uint32_t flags = reader.read_u32();
  reader.seek_forward(kMeshFieldsAfterFlags);
  const uint32_t vertex_count = reader.read_u32();
  const uint32_t triangle_count = reader.read_u32();
  PhysMesh mesh;
  mesh.vertices = locate_vertices(reader, vertex_count);
  const uint8_t index_width = (flags & kMeshByteIndices)    ? sizeof(uint8_t)
                              : (flags & kMeshShortIndices) ? sizeof(uint16_t)
                                                            : sizeof(uint32_t);
  mesh.indices = locate_indices(reader, triangle_count, index_width);

  const uint64_t triangles = triangle_count;
  if (flags & kMeshHasMaterials) reader.seek_forward(triangles * kMeshBytesPerMaterial);
  if (flags & kMeshHasRemap) {
    const uint32_t remap_max = reader.read_u32();
    reader.seek_forward(triangles * dependent_width(remap_max));
  }
  const uint32_t first_block = reader.read_u32();
  const uint32_t second_block = reader.read_u32();
  if (first_block != 0) reader.seek_forward(triangles * kMeshFirstBlockBytesPerTriangle);
  if (second_block != 0)
    reader.seek_forward(triangles * std::min(dependent_width(second_block), kMeshSecondBlockWidestEntry));
  read_cooked_suffix(reader);
  if (reader.read_u32() != 0) reader.seek_forward(triangles);  // a byte per triangle
  return mesh;
}

}  // namespace

StoredList<Vector3> locate_vertices(PlasmaRead& reader, uint32_t count) {
  const StoredList<Vector3> vertices = reader.locate_list<Vector3>(count);
  reader.skip(uint64_t{count} * kVectorSize);
  return vertices;
}

IndexList locate_indices(PlasmaRead& reader, uint32_t triangles, uint8_t width) {
  const uint64_t count = uint64_t{triangles} * kIndicesPerTriangle;
  IndexList indices{reader.locate_list<uint32_t>(count), width};
  reader.skip(count * width);
  return indices;
}

std::vector<Vector3> read_items(const StoredList<Vector3>& vertices, const Source& source) {
  return source.items(vertices, read_vector);
}

std::vector<uint32_t> read_items(const IndexList& indices, const Source& source) {
  return source.items(indices, [width = indices.width](PlasmaRead& reader) -> uint32_t {
    return width == sizeof(uint8_t)    ? reader.read_u8()
           : width == sizeof(uint16_t) ? reader.read_u16()
                                       : reader.read_u32();
  });
}

PhysBoundsType read_phys_bounds(uint8_t value) {
  if (value < static_cast<uint8_t>(PhysBoundsType::Box) || value > static_cast<uint8_t>(PhysBoundsType::Explicit))
    throw Error("Unknown bounds type: " + std::to_string(value));
  return static_cast<PhysBoundsType>(value);
}

Quaternion read_quat(PlasmaRead& reader) {
  Quaternion q;
  q.x = reader.read_f32();
  q.y = reader.read_f32();
  q.z = reader.read_f32();
  q.w = reader.read_f32();
  // Either sign of zero counts as zero.
  if (q.x == 0.0f && q.y == 0.0f && q.z == 0.0f && q.w == 0.0f) q.w = 1.0f;
  return q;
}

void skip_max_dependent_list(PlasmaRead& reader, uint64_t count) {
  const uint32_t max = reader.read_u32();
  reader.seek_forward(count * dependent_width(max));
}

void read_cooked_suffix(PlasmaRead& reader) {
  reader.seek_forward(reader.read_u32());
  reader.seek_forward(kSuffixFixedRun);
  // A NaN, like any value up to -1, ends the suffix here.
  if (reader.read_f32() > -1.0f) reader.seek_forward(kSuffixExtraRun);
}

PhysShapeData read_mesh_shape(PlasmaRead& reader, bool hull) {
  const uint32_t magic = reader.read_u32();
  if (magic == kUncookedMagic) {
    const StoredList<Vector3> vertices = locate_vertices(reader, reader.read_u32());
    if (hull) return PhysHull{vertices};
    const uint32_t triangle_count = reader.read_u32();
    return PhysMesh{vertices, locate_indices(reader, triangle_count, sizeof(uint32_t))};
  }
  if (magic == kCookedMagic) {
    if (hull) return read_cooked_hull(reader);
    return read_cooked_mesh(reader);
  }
  // Shown as its bytes in file order.
  char shown[16];
  std::snprintf(shown, sizeof shown, "%02x%02x%02x%02x", magic & 0xFF, (magic >> 8) & 0xFF, (magic >> 16) & 0xFF,
                magic >> 24);
  throw Error(std::string("Unknown mesh magic: ") + shown);
}

template <class Marks>
PxPhysicalData parse_px_physical(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  // The class index is not examined.
  reader.skip(kClassIndexSize);
  PxPhysicalData data;
  data.name = read_key_name(reader);
  skip_synched_object(reader);

  // Three floats: mass, friction, restitution.
  const uint64_t mass_at = reader.position();
  const auto float_at = [&](uint64_t number) { return mass_at + number * sizeof(float); };
  data.mass = reader.read_f32();
  data.friction = reader.read_f32();
  data.restitution = reader.read_f32();
  marks.mark("mass", float_at(0), float_at(1), StoredAs::Itself);
  marks.mark("friction", float_at(1), float_at(2), StoredAs::Itself);
  marks.mark("restitution", float_at(2), float_at(3), StoredAs::Itself);
  const uint8_t bounds = reader.read_u8();
  const uint8_t group = reader.read_u8();
  reader.skip(sizeof(uint32_t));  // the groups it reports collisions with
  const uint16_t group_override = reader.read_u16();
  data.group = (group >= kFirstInvalidGroup || group_override == kGroupOverrideMax) ? PhysGroup::Max
                                                                                    : static_cast<PhysGroup>(group);
  data.bounds_type = read_phys_bounds(bounds);

  for (auto& key : data.reference_keys) {
    const uint64_t key_at = reader.position();
    key = locate_key(reader);
    marks.mark("reference_keys", key_at, reader.position(), StoredAs::FlatKeys, 1);
  }
  reader.skip(kVectorSize);  // the position
  read_quat(reader);         // the rotation, dropped
  skip_bit_vector(reader);

  switch (data.bounds_type) {
    case PhysBoundsType::Box:
      reader.skip(kBoxSize);
      break;
    case PhysBoundsType::Sphere:
      reader.skip(kSphereSize);
      break;
    case PhysBoundsType::Hull:
      data.shape = read_mesh_shape(reader, true);
      break;
    case PhysBoundsType::Proxy:
    case PhysBoundsType::Explicit:
      data.shape = read_mesh_shape(reader, false);
      break;
  }
  return data;
}

template PxPhysicalData parse_px_physical(std::span<const uint8_t> object_bytes, FieldMarks& marks);

PxPhysicalData parse_px_physical(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_px_physical(object_bytes, marks);
}

const char* phys_group_name(PhysGroup group) {
  switch (group) {
    case PhysGroup::Static:
      return "Static";
    case PhysGroup::AvatarBlocker:
      return "AvatarBlocker";
    case PhysGroup::DynamicBlocker:
      return "DynamicBlocker";
    case PhysGroup::Avatar:
      return "Avatar";
    case PhysGroup::Dynamic:
      return "Dynamic";
    case PhysGroup::Detector:
      return "Detector";
    case PhysGroup::LOSOnly:
      return "LOSOnly";
    case PhysGroup::ExcludeRegion:
      return "ExcludeRegion";
    case PhysGroup::Max:
      break;
  }
  return "Max";
}

const char* phys_bounds_name(PhysBoundsType bounds) {
  switch (bounds) {
    case PhysBoundsType::Box:
      return "Box";
    case PhysBoundsType::Sphere:
      return "Sphere";
    case PhysBoundsType::Hull:
      return "Hull";
    case PhysBoundsType::Proxy:
      return "Proxy";
    case PhysBoundsType::Explicit:
      break;
  }
  return "Explicit";
}

}  // namespace lumivex
