#pragma once

// The ".sdl" text format: state descriptors with a name, a version and typed
// variables, and the manager that keeps every descriptor it has read. The
// parser skips whatever does not fit; only reading files can fail.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
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

// The type a VAR line's type word selects, compared in upper case (full
// Unicode case mapping); nothing for a word that names no type, a nested
// descriptor ("$Name") or a misspelling, which the parser reads as
// StateDescriptor without options.
std::optional<SdlType> sdl_type_of_word(std::string_view word);

// Every type keyword, in upper case.
std::span<const std::string_view> sdl_type_keywords();

// The count text of a name word's "[...]", from the text after its first
// "[": up to the word's last character, which stands for the closing bracket
// whatever it is. "x[" has an empty count text, like "x[]".
std::string_view sdl_count_text(std::string_view after_bracket);

// The options of a VAR line, each a word that begins with its prefix, in the
// order they are tested: default value, default option, display option.
inline constexpr std::array<std::string_view, 3> kSdlOptionPrefixes = {"DEFAULT=", "DEFAULTOPTION=", "DISPLAYOPTION="};

// One variable of a state descriptor, its texts views of the descriptor's.
struct VarDescriptor {
  std::string_view name;
  std::optional<std::string_view> default_value;
  uint64_t count = 1;  // 0 for a variable-length list
  SdlType var_type = SdlType::Int;
  std::optional<std::string_view> default_option;
  std::optional<std::string_view> display_option;

  bool operator==(const VarDescriptor&) const = default;
};

// Bytes owned by one object and copied with it, in a pointer's size: a string
// would take four times as much in every descriptor, many of which have none.
class OwnedBytes {
 public:
  OwnedBytes() = default;
  // Room for size bytes, to be written through data().
  explicit OwnedBytes(std::size_t size);
  OwnedBytes(const OwnedBytes& other);
  OwnedBytes& operator=(const OwnedBytes& other) { return *this = OwnedBytes(other); }
  OwnedBytes(OwnedBytes&&) noexcept = default;
  OwnedBytes& operator=(OwnedBytes&&) noexcept = default;

  char* data() { return block_ ? block_.get() + sizeof(std::size_t) : nullptr; }
  std::string_view view() const;
  bool operator==(const OwnedBytes& other) const { return view() == other.view(); }

 private:
  std::unique_ptr<char[]> block_;  // the size, then the bytes
};

class StateDescriptor {
 public:
  // Fills a descriptor as its text is read.
  class Builder;

  std::string name;
  uint32_t version = 0;

  std::size_t variable_count() const;
  // The variable at index, which is below variable_count().
  VarDescriptor variable(std::size_t index) const;
  // The same name, version and variables: variables are stored one way only.
  bool operator==(const StateDescriptor&) const = default;

 private:
  // One block, none without variables: their number, where each starts in
  // the block, then the variables one after another, each its type, a byte
  // telling which optional parts follow, then its name, its count, its
  // default and its options, each number and text size as a variable-length
  // number. A variable takes a few bytes beside its name, where one made of
  // strings would take ninety.
  OwnedBytes variables_;
};

// The descriptors of one file's text that are closed by a "}" line, in order.
// One leading byte-order mark is ignored.
std::vector<StateDescriptor> parse_state_descriptors(std::string_view text);

// Every descriptor read, found by name in time logarithmic in their number
// whatever the names are.
class SdlManager {
 public:
  // Adds the file's descriptors and returns how many. Throws Error "Failed to
  // read <path>" when it cannot be read or is not UTF-8, adding nothing. Takes
  // only the files the rule takes.
  std::size_t load_file(const std::string& path, const InterruptCheck& interrupt = {}, const FileRule& rule = {});
  // Loads every file of the directory whose extension is exactly "sdl"; a file
  // that fails is logged and passed over. Throws Error with the operating
  // system's message when the directory cannot be listed, adding nothing.
  std::size_t load_directory(const std::string& path, const InterruptCheck& interrupt = {});
  // Version 0 asks for the highest version, the last read among equals; any
  // other version for the first read with exactly that version. A descriptor
  // never changes once read and stays where it is while the manager lives:
  // it may be read while another thread loads more.
  const StateDescriptor* find(std::string_view name, uint32_t version) const;
  // The name's highest version, the last read among equals, found without
  // looking at its other versions; nullptr when no descriptor has the name.
  const StateDescriptor* newest(std::string_view name) const;
  // Every version of the name, the lowest first, equal versions in the order
  // they were read.
  std::vector<const StateDescriptor*> versions(std::string_view name) const;
  // The number of names.
  std::size_t name_count() const;
  // The first name in byte order after `after`, or the first of all names;
  // nothing after the last. The name stays valid while the manager lives.
  std::optional<std::string_view> name_after(std::optional<std::string_view> after) const;
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
  // Each name, kept by its first descriptor, and the position of its newest.
  std::map<std::string_view, std::size_t, std::less<>> newest_;
};

}  // namespace lumivex
