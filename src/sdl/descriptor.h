#pragma once

// The ".sdl" text format: state descriptors with a name, a version and typed
// variables, and the manager that keeps every descriptor it has read. The
// parser skips whatever does not fit; only reading files can fail.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file.h"

namespace lumivex {

enum class SdlType : uint8_t {
  Int,
  Float,
  Bool,
  String32,
  Key,
  StateDescriptor,  // also every type word that names no other type
  Creatable,
  Double,
  Time,
  Byte,
  Short,
  AgeTimeOfDay,
  Vector3,
  Point3,
  Rgb,
  Rgba,
  Quaternion,
  Rgb8,
  Matrix44,
};

std::string_view sdl_type_name(SdlType type);

// The options few variables carry, as views of their descriptor's
// `option_texts`.
struct VarOptions {
  std::optional<std::string_view> default_option;
  std::optional<std::string_view> display_option;
};

// Bytes owned by one object and copied with it, in a pointer's size: a string
// would take four times as much in every descriptor, most of which have none.
class OwnedBytes {
 public:
  OwnedBytes() = default;
  explicit OwnedBytes(std::string_view bytes);
  OwnedBytes(const OwnedBytes& other) : OwnedBytes(other.view()) {}
  OwnedBytes& operator=(const OwnedBytes& other) { return *this = OwnedBytes(other.view()); }
  OwnedBytes(OwnedBytes&&) noexcept = default;
  OwnedBytes& operator=(OwnedBytes&&) noexcept = default;

  std::string_view view() const;

 private:
  std::unique_ptr<char[]> block_;  // the size, then the bytes
};

struct VarDescriptor {
  std::string name;
  std::optional<std::string> default_value;
  uint64_t count = 1;  // 0 for a variable-length list
  SdlType var_type = SdlType::Int;
  // Its rank plus one among its descriptor's variables that have options, 0
  // when it has none.
  uint32_t options = 0;
};

struct StateDescriptor {
  std::string name;
  uint32_t version = 0;
  std::vector<VarDescriptor> variables;
  // The options of the variables that have any, few of them, packed in one
  // block so that neither variables nor descriptors grow for them, and
  // freeing them touches nothing else: the place of each variable's options,
  // then for each a byte telling which it has and each as its size and bytes.
  OwnedBytes option_texts;

  // Its variable's options, both absent when it was given neither.
  VarOptions options_of(const VarDescriptor& variable) const;
};

// The descriptors of one file's text that are closed by a "}" line, in order.
// One leading byte-order mark is ignored.
std::vector<StateDescriptor> parse_state_descriptors(std::string_view text);

// Every descriptor read, found by name in time logarithmic in their number
// whatever the names are.
class SdlManager {
 public:
  // Adds the file's descriptors and returns how many. Throws Error "Failed to
  // read <path>" when it cannot be read or is not UTF-8, adding nothing.
  std::size_t load_file(const std::string& path, const InterruptCheck& interrupt = {});
  // Loads every file of the directory whose extension is exactly "sdl"; a file
  // that fails is logged and passed over. Throws Error with the operating
  // system's message when the directory cannot be listed, adding nothing.
  std::size_t load_directory(const std::string& path, const InterruptCheck& interrupt = {});
  // Version 0 asks for the highest version, the last read among equals; any
  // other version for the first read with exactly that version. The
  // descriptor stays where it is while the manager lives.
  const StateDescriptor* find(std::string_view name, uint32_t version) const;
  // Every version of every name.
  std::size_t size() const;
  // Every descriptor held: names in byte order, each name's versions in the
  // order they were read.
  std::vector<const StateDescriptor*> descriptors() const;

 private:
  // Positions in held_ sorted by name, then by reading order.
  using Run = std::vector<std::size_t>;

  // Parses text onto the end of held_.
  void append(std::string_view text);
  // Indexes the descriptors appended since the first `from`.
  void index_from(std::size_t from);
  // The positions from `from` to `to` sorted into a run.
  Run sorted_run(std::size_t from, std::size_t to) const;
  // Drops what was appended since `from`, when a load fails part way.
  void truncate(std::size_t from);
  // Names in byte order, equal names in reading order.
  bool name_less(std::size_t a, std::size_t b) const;

  // Every descriptor in reading order; a deque never moves what it holds.
  std::deque<StateDescriptor> held_;
  // Sorted runs, each more than twice as long as the next: a load sorts its
  // own descriptors into a new run and merges the shorter runs at the end, so
  // that each descriptor is merged a logarithmic number of times and a name
  // is found by a binary search in each of a logarithmic number of runs.
  std::vector<Run> runs_;
};

}  // namespace lumivex
