#include "sdl/descriptor.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "core/error.h"
#include "core/file.h"
#include "core/lexical.h"
#include "core/log.h"
#include "core/text.h"

namespace lumivex {
namespace {

// Display names, in the order of SdlType.
constexpr std::array<std::string_view, 19> kTypeNames = {
    "Int",    "Float", "Bool",       "String32", "Key",          "StateDescriptor", "Creatable",
    "Double", "Time",  "Byte",       "Short",    "AgeTimeOfDay", "Vector3",         "Point3",
    "Rgb",    "Rgba",  "Quaternion", "Rgb8",     "Matrix44",
};

struct TypeKeyword {
  std::string_view word;
  SdlType type;
};

constexpr std::array<TypeKeyword, 20> kTypeKeywords = {{
    {"INT", SdlType::Int},
    {"FLOAT", SdlType::Float},
    {"BOOL", SdlType::Bool},
    {"STRING32", SdlType::String32},
    {"KEY", SdlType::Key},
    {"PLKEY", SdlType::Key},
    {"STATEDESC", SdlType::StateDescriptor},
    {"CREATABLE", SdlType::Creatable},
    {"DOUBLE", SdlType::Double},
    {"TIME", SdlType::Time},
    {"BYTE", SdlType::Byte},
    {"SHORT", SdlType::Short},
    {"AGETIMEOFDAY", SdlType::AgeTimeOfDay},
    {"VECTOR3", SdlType::Vector3},
    {"POINT3", SdlType::Point3},
    {"RGB", SdlType::Rgb},
    {"RGBA", SdlType::Rgba},
    {"QUATERNION", SdlType::Quaternion},
    {"RGB8", SdlType::Rgb8},
    {"MATRIX44", SdlType::Matrix44},
}};

std::optional<SdlType> type_of_word(std::string_view word) {
  const auto upper = ascii_upper_case(word);
  if (!upper) return std::nullopt;
  for (const TypeKeyword& keyword : kTypeKeywords) {
    if (*upper == keyword.word) return keyword.type;
  }
  return std::nullopt;
}

// The count between "[" and the word's last character, which stands for the
// closing bracket whatever it is. "x[" has an empty count, like "x[]".
uint64_t count_of(std::string_view after_bracket) {
  std::size_t last = after_bracket.size();
  while (last > 0 && (static_cast<uint8_t>(after_bracket[last - 1]) & 0xC0) == 0x80) --last;
  if (last > 0) --last;
  const std::string_view count = after_bracket.substr(0, last);
  if (count.empty()) return 0;
  return parse_unsigned_decimal(count, UINT64_MAX).value_or(1);
}

// "VAR type name[count] options...", the first word already read.
VarDescriptor parse_variable(std::string_view type_word, std::string_view name_word, Words& options) {
  VarDescriptor variable;
  const std::size_t bracket = name_word.find('[');
  variable.name = std::string(name_word.substr(0, bracket));
  if (bracket != std::string_view::npos) variable.count = count_of(name_word.substr(bracket + 1));
  const auto type = type_of_word(type_word);
  // A nested descriptor ("$Name") or an unknown type keeps no options.
  if (!type) {
    variable.var_type = SdlType::StateDescriptor;
    return variable;
  }
  variable.var_type = *type;
  while (const auto word = options.next()) {
    if (word->starts_with("DEFAULT=")) {
      variable.default_value = std::string(word->substr(8));
    } else if (word->starts_with("DEFAULTOPTION=")) {
      variable.default_option = std::string(word->substr(14));
    } else if (word->starts_with("DISPLAYOPTION=")) {
      variable.display_option = std::string(word->substr(14));
    }
  }
  return variable;
}

// A line inside an open descriptor other than "{" and "}".
void parse_body_line(std::string_view line, StateDescriptor& open) {
  Words words(line);
  const auto first = words.next();
  const auto second = words.next();
  if (!second) return;
  if (*first == "VERSION") {
    open.version = static_cast<uint32_t>(parse_unsigned_decimal(*second, UINT32_MAX).value_or(0));
  } else if (*first == "VAR") {
    if (const auto third = words.next()) open.variables.push_back(parse_variable(*second, *third, words));
  }
}

// The extension is the text after the last "." of the name; a name whose
// only "." leads has none.
bool has_sdl_extension(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && file_name.substr(dot + 1) == "sdl";
}

}  // namespace

std::string_view sdl_type_name(SdlType type) { return kTypeNames[static_cast<std::size_t>(type)]; }

std::vector<StateDescriptor> parse_state_descriptors(std::string_view text) {
  std::vector<StateDescriptor> finished;
  std::optional<StateDescriptor> open;
  TrimmedLines lines(text);
  while (const auto line = lines.next()) {
    if (line->empty() || line->front() == '#' || *line == "{") continue;
    if (line->starts_with("STATEDESC")) {
      Words words(*line);
      words.next();
      // A descriptor still open is dropped unfinished.
      open.emplace();
      open->name = std::string(words.next().value_or(""));
    } else if (*line == "}") {
      if (open) finished.push_back(std::move(*open));
      open.reset();
    } else if (open) {
      parse_body_line(*line, *open);
    }
  }
  return finished;
}

std::size_t SdlManager::load_file(const std::string& path, const InterruptCheck& interrupt) {
  auto descriptors = parse_state_descriptors(read_text_file(path, interrupt).view());
  const std::size_t count = descriptors.size();
  add(std::move(descriptors));
  return count;
}

std::size_t SdlManager::load_directory(const std::string& path, const InterruptCheck& interrupt) {
  // Gathered first and added at the end, so that a listing that fails part
  // way leaves the manager as it was.
  std::vector<StateDescriptor> gathered;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end; entry.increment(error)) {
    const std::string& entry_path = entry->path().native();
    if (!has_sdl_extension(entry->path().filename().native())) continue;
    try {
      // A pipe or a device among the files could block the scan or never end.
      std::error_code status_error;
      const auto status = entry->status(status_error);
      if (std::filesystem::is_fifo(status) || std::filesystem::is_character_file(status) ||
          std::filesystem::is_block_file(status) || std::filesystem::is_socket(status))
        throw Error("Failed to read " + utf8_replace_invalid(entry_path), Error("not a regular file"));
      auto descriptors = parse_state_descriptors(read_text_file(entry_path, interrupt).view());
      gathered.insert(gathered.end(), std::make_move_iterator(descriptors.begin()),
                      std::make_move_iterator(descriptors.end()));
    } catch (const Error& e) {
      log::write(log::Level::Warn, log::kStateDescriptorTarget,
                 [&] { return "Failed to load " + quote_path(entry_path) + ": " + e.message(); });
    }
  }
  if (error) throw Error(os_error_message(error.value()), error.value());
  const std::size_t count = gathered.size();
  add(std::move(gathered));
  log::write(log::Level::Info, log::kStateDescriptorTarget,
             [&] { return "Loaded " + std::to_string(count) + " SDL descriptors from " + path; });
  return count;
}

const StateDescriptor* SdlManager::find(std::string_view name, uint32_t version) const {
  const auto found = by_name_.find(std::string(name));
  if (found == by_name_.end()) return nullptr;
  const StateDescriptor* best = nullptr;
  for (const StateDescriptor& descriptor : found->second) {
    if (version != 0 && descriptor.version == version) return &descriptor;
    if (version == 0 && (!best || descriptor.version >= best->version)) best = &descriptor;
  }
  return best;
}

std::size_t SdlManager::size() const {
  std::size_t total = 0;
  for (const auto& [name, descriptors] : by_name_) total += descriptors.size();
  return total;
}

std::vector<const StateDescriptor*> SdlManager::descriptors() const {
  std::vector<const std::pair<const std::string, std::vector<StateDescriptor>>*> entries;
  entries.reserve(by_name_.size());
  for (const auto& entry : by_name_) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
  std::vector<const StateDescriptor*> all;
  all.reserve(size());
  for (const auto* entry : entries)
    for (const StateDescriptor& descriptor : entry->second) all.push_back(&descriptor);
  return all;
}

void SdlManager::add(std::vector<StateDescriptor> descriptors) {
  for (StateDescriptor& descriptor : descriptors) {
    std::vector<StateDescriptor>& versions = by_name_[descriptor.name];
    versions.push_back(std::move(descriptor));
  }
}

}  // namespace lumivex
