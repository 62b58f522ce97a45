#pragma once

// The ".sdl" text format: state descriptors with a name, a version and typed
// variables, and the manager that keeps every descriptor it has read. The
// parser skips whatever does not fit; only reading files can fail.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

struct VarDescriptor {
  std::string name;
  SdlType var_type = SdlType::Int;
  uint64_t count = 1;  // 0 for a variable-length list
  std::optional<std::string> default_value;
  std::optional<std::string> default_option;
  std::optional<std::string> display_option;
};

struct StateDescriptor {
  std::string name;
  uint32_t version = 0;
  std::vector<VarDescriptor> variables;
};

// The descriptors of one file's text that are closed by a "}" line, in order.
std::vector<StateDescriptor> parse_state_descriptors(std::string_view text);

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
  // other version for the first read with exactly that version.
  const StateDescriptor* find(std::string_view name, uint32_t version) const;
  // Every version of every name.
  std::size_t size() const;
  // Every descriptor held: names in byte order, each name's versions in the
  // order they were read.
  std::vector<const StateDescriptor*> descriptors() const;

 private:
  void add(std::vector<StateDescriptor> descriptors);

  std::unordered_map<std::string, std::vector<StateDescriptor>> by_name_;
};

}  // namespace lumivex
