#include "sdl/descriptor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <system_error>

#include "core/error.h"
#include "core/file.h"
#include "core/lexical.h"
#include "core/log.h"

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

constexpr std::size_t kLongestKeyword = 12;  // "AGETIMEOFDAY"

// A word of at most 16 bytes as two numbers, the bytes in order from the
// lowest bits, zeros after the end.
struct PackedWord {
  uint64_t low = 0;
  uint64_t high = 0;
  std::size_t size = 0;

  constexpr uint8_t front() const { return static_cast<uint8_t>(low); }
  constexpr uint8_t back() const {
    const std::size_t last = size - 1;
    return static_cast<uint8_t>((last < 8 ? low : high) >> (8 * (last % 8)));
  }
  constexpr bool operator==(const PackedWord&) const = default;
};

// Packs a word of at most 16 bytes, each byte first mapped by `map`.
template <class Map>
constexpr PackedWord packed(std::string_view word, Map map) {
  uint64_t low = 0, high = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const uint64_t byte = map(static_cast<uint8_t>(word[i]));
    if (i < 8) {
      low |= byte << (8 * i);
    } else {
      high |= byte << (8 * (i - 8));
    }
  }
  return {low, high, word.size()};
}

constexpr uint8_t as_is(uint8_t byte) { return byte; }
constexpr uint8_t ascii_upper(uint8_t byte) { return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte; }

// Keywords hashed by their length and first and last letters, which tell them
// all apart, so that a word is compared with one keyword at most.
constexpr std::size_t keyword_slot(const PackedWord& upper) {
  return (upper.size * 2 + upper.front() * 5 + upper.back()) % 64;
}

struct KeywordSlot {
  PackedWord word;
  int8_t keyword = -1;
};

constexpr std::array<KeywordSlot, 64> kKeywordSlots = [] {
  std::array<KeywordSlot, 64> slots{};
  for (std::size_t i = 0; i < kTypeKeywords.size(); ++i) {
    const PackedWord word = packed(kTypeKeywords[i].word, as_is);
    KeywordSlot& slot = slots[keyword_slot(word)];
    if (slot.keyword != -1) throw "two keywords share a slot";
    slot = {word, static_cast<int8_t>(i)};
  }
  return slots;
}();

// The type a type word selects, compared in upper case. ASCII words, nearly
// all of them, are upper-cased here; any other may still upper-case to a
// keyword through the full Unicode mapping, even from more bytes. Inline in
// the parser's loop, which calls it for every variable.
inline std::optional<SdlType> type_of_word(std::string_view word) {
  PackedWord upper;
  uint8_t every_byte = 0;
  if (word.size() <= kLongestKeyword) {
    upper = packed(word, [&](uint8_t byte) {
      every_byte |= byte;
      return ascii_upper(byte);
    });
  } else {
    for (const char c : word) every_byte |= static_cast<uint8_t>(c);
    if (every_byte < 0x80) return std::nullopt;
  }
  if (every_byte >= 0x80) {
    const auto unicode_upper = ascii_upper_case(word);
    if (!unicode_upper || unicode_upper->size() > kLongestKeyword) return std::nullopt;
    upper = packed(*unicode_upper, as_is);
  }
  const KeywordSlot& slot = kKeywordSlots[keyword_slot(upper)];
  if (slot.keyword < 0 || !(slot.word == upper)) return std::nullopt;
  return kTypeKeywords[slot.keyword].type;
}

// The count of a name word's "[...]", from the text after the "[".
uint64_t count_of(std::string_view after_bracket) {
  const std::string_view count = sdl_count_text(after_bracket);
  if (count.empty()) return 0;
  return parse_unsigned_decimal(count, UINT64_MAX).value_or(1);
}

// The parts a variable's record holds beside its type and name; the three
// texts in order, each bit above the last.
constexpr uint8_t kHasCount = 1, kHasDefault = 2, kHasDefaultOption = 4, kHasDisplayOption = 8;

// The bytes of a number written seven bits to a byte, the lowest first, the
// high bit of each byte but the last set.
std::size_t number_size(uint64_t number) { return (static_cast<std::size_t>(std::bit_width(number | 1)) + 6) / 7; }

char* put_number(char* out, uint64_t number) {
  while (number >= 0x80) {
    *out++ = static_cast<char>(number | 0x80);
    number >>= 7;
  }
  *out++ = static_cast<char>(number);
  return out;
}

// A text as its size, then its bytes.
std::size_t text_size(std::string_view text) { return number_size(text.size()) + text.size(); }

char* put_text(char* out, std::string_view text) {
  out = put_number(out, text.size());
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Reads back what put_number and put_text wrote, from a record known whole.
class RecordReader {
 public:
  explicit RecordReader(const char* at) : at_(reinterpret_cast<const uint8_t*>(at)) {}

  uint8_t byte() { return *at_++; }
  uint64_t number() {
    uint64_t number = 0;
    for (unsigned shift = 0;; shift += 7) {
      const uint8_t byte = *at_++;
      number |= uint64_t{byte & 0x7Fu} << shift;
      if (byte < 0x80) return number;
    }
  }
  std::string_view text() {
    const std::size_t size = number();
    const std::string_view text(reinterpret_cast<const char*>(at_), size);
    at_ += size;
    return text;
  }

 private:
  const uint8_t* at_;
};

}  // namespace

// The descriptor being read. Its records, reused from one descriptor to the
// next, are copied out at their sizes when it is finished.
class StateDescriptor::Builder {
 public:
  uint32_t version = 0;

  void open(std::string_view descriptor_name) {
    name_ = descriptor_name;
    version = 0;
    records_.clear();
    starts_.clear();
  }

  StateDescriptor finish() const {
    StateDescriptor descriptor;
    descriptor.name = name_;
    descriptor.version = version;
    if (starts_.empty()) return descriptor;
    // Allocated at its size: the builder's lists have room to grow.
    const std::size_t count = starts_.size();
    const std::size_t head_size = (1 + count) * sizeof(std::size_t);
    descriptor.variables_ = OwnedBytes(head_size + records_.size());
    char* out = descriptor.variables_.data();
    std::memcpy(out, &count, sizeof count);
    out += sizeof count;
    for (const std::size_t start : starts_) {
      const std::size_t place = head_size + start;
      std::memcpy(out, &place, sizeof place);
      out += sizeof place;
    }
    if (!records_.empty()) std::memcpy(out, records_.data(), records_.size());
    return descriptor;
  }

  // "VAR type name[count] options...", the first word already read.
  void add_variable(std::string_view type_word, std::string_view name_word, LineWords& words) {
    const std::size_t bracket = name_word.find('[');
    const std::string_view name = name_word.substr(0, bracket);
    const uint64_t count = bracket == std::string_view::npos ? 1 : count_of(name_word.substr(bracket + 1));
    // Plain views and bits, which the record is then written from: optional
    // views written piece by piece and read back whole would stall the
    // processor at every variable.
    uint8_t parts = count != 1 ? kHasCount : 0;
    std::array<std::string_view, 3> texts;  // default, default option, display option
    // A nested descriptor ("$Name") or an unknown type keeps no default and
    // no options.
    const auto type = type_of_word(type_word);
    if (type) {
      // A later word of a kind replaces an earlier one.
      while (const auto word = words.next_word()) {
        if (word->front() != 'D') continue;
        const auto& [default_value, default_option, display_option] = kSdlOptionPrefixes;
        if (word->starts_with(default_value)) {
          texts[0] = word->substr(default_value.size());
          parts |= kHasDefault;
        } else if (word->starts_with(default_option)) {
          texts[1] = word->substr(default_option.size());
          parts |= kHasDefaultOption;
        } else if (word->starts_with(display_option)) {
          texts[2] = word->substr(display_option.size());
          parts |= kHasDisplayOption;
        }
      }
    }
    std::size_t size = 2 + text_size(name) + (parts & kHasCount ? number_size(count) : 0);
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (parts & (kHasDefault << i)) size += text_size(texts[i]);
    starts_.push_back(records_.size());
    records_.resize(records_.size() + size);
    char* out = records_.data() + starts_.back();
    *out++ = static_cast<char>(type.value_or(SdlType::StateDescriptor));
    *out++ = static_cast<char>(parts);
    out = put_text(out, name);
    if (parts & kHasCount) out = put_number(out, count);
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (parts & (kHasDefault << i)) out = put_text(out, texts[i]);
  }

 private:
  std::string_view name_;
  std::string records_;
  std::vector<std::size_t> starts_;
};

namespace {

// Hands each descriptor closed by a "}" line to finish, in order. Lines are
// taken by their words, white space around them aside.
template <class Finish>
void for_each_state_descriptor(std::string_view text, Finish&& finish) {
  bool is_open = false;
  StateDescriptor::Builder open;
  LineWords words(skip_byte_order_mark(text));
  while (words.next_line()) {
    const auto first = words.next_word();
    if (!first || first->front() == '#' || *first == "{") continue;
    if (first->starts_with("STATEDESC")) {
      // A descriptor still open is dropped unfinished.
      open.open(words.next_word().value_or(""));
      is_open = true;
      continue;
    }
    const auto second = words.next_word();
    if (*first == "}" && !second) {
      if (is_open) finish(open.finish());
      is_open = false;
    } else if (is_open && second) {
      if (*first == "VERSION") {
        open.version = static_cast<uint32_t>(parse_unsigned_decimal(*second, UINT32_MAX).value_or(0));
      } else if (*first == "VAR") {
        if (const auto third = words.next_word()) open.add_variable(*second, *third, words);
      }
    }
  }
}

// The extension is the text after the last "." of the name; a name whose
// only "." leads has none.
bool has_sdl_extension(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && file_name.substr(dot + 1) == "sdl";
}

// A descriptor's name and place, the name's first 24 bytes as big-endian
// numbers, which order most pairs of names without reading them.
struct NameKey {
  static constexpr std::size_t kHeadSize = 24;
  std::array<uint64_t, 3> head;
  std::size_t size;
  std::size_t at;

  static NameKey of(std::string_view name, std::size_t at) {
    // Zeros after a short name: they make names equal at most, never inverted.
    std::array<uint64_t, 3> head{};
    for (std::size_t i = 0; i < std::min(name.size(), kHeadSize); ++i)
      head[i / 8] |= uint64_t{static_cast<uint8_t>(name[i])} << (56 - 8 * (i % 8));
    return {head, name.size(), at};
  }
};

}  // namespace

std::string_view sdl_type_name(SdlType type) { return kTypeNames[static_cast<std::size_t>(type)]; }

std::optional<SdlType> sdl_type_of_word(std::string_view word) { return type_of_word(word); }

std::span<const std::string_view> sdl_type_keywords() {
  static constexpr std::array<std::string_view, kTypeKeywords.size()> kWords = [] {
    std::array<std::string_view, kTypeKeywords.size()> words;
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = kTypeKeywords[i].word;
    return words;
  }();
  return kWords;
}

std::string_view sdl_count_text(std::string_view after_bracket) {
  std::size_t last = after_bracket.size();
  while (last > 0 && (static_cast<uint8_t>(after_bracket[last - 1]) & 0xC0) == 0x80) --last;
  if (last > 0) --last;
  return after_bracket.substr(0, last);
}

OwnedBytes::OwnedBytes(std::size_t size) {
  if (size == 0) return;
  block_ = std::make_unique_for_overwrite<char[]>(sizeof size + size);
  std::memcpy(block_.get(), &size, sizeof size);
}

OwnedBytes::OwnedBytes(const OwnedBytes& other) : OwnedBytes(other.view().size()) {
  if (block_) std::memcpy(data(), other.view().data(), other.view().size());
}

std::string_view OwnedBytes::view() const {
  if (!block_) return {};
  std::size_t size;
  std::memcpy(&size, block_.get(), sizeof size);
  return {block_.get() + sizeof size, size};
}

std::size_t StateDescriptor::variable_count() const {
  const std::string_view variables = variables_.view();
  std::size_t count = 0;
  if (!variables.empty()) std::memcpy(&count, variables.data(), sizeof count);
  return count;
}

VarDescriptor StateDescriptor::variable(std::size_t index) const {
  std::size_t place;
  const char* variables = variables_.view().data();
  std::memcpy(&place, variables + (1 + index) * sizeof place, sizeof place);
  RecordReader record(variables + place);
  VarDescriptor variable;
  variable.var_type = static_cast<SdlType>(record.byte());
  const uint8_t parts = record.byte();
  variable.name = record.text();
  if (parts & kHasCount) variable.count = record.number();
  if (parts & kHasDefault) variable.default_value = record.text();
  if (parts & kHasDefaultOption) variable.default_option = record.text();
  if (parts & kHasDisplayOption) variable.display_option = record.text();
  return variable;
}

std::vector<StateDescriptor> parse_state_descriptors(std::string_view text) {
  std::vector<StateDescriptor> finished;
  for_each_state_descriptor(text, [&](StateDescriptor&& descriptor) { finished.push_back(std::move(descriptor)); });
  return finished;
}

std::size_t SdlManager::load_file(const std::string& path, const InterruptCheck& interrupt, const FileRule& rule) {
  ByteBuffer text = read_text_file(path, interrupt, rule);
  const std::size_t from = held_.size();
  try {
    append(text.view());
    // The descriptors own their texts: the file's goes before the index takes memory of its own.
    text = ByteBuffer();
    index_from(from);
  } catch (...) {
    truncate(from);
    throw;
  }
  return held_.size() - from;
}

std::size_t SdlManager::load_directory(const std::string& path, const InterruptCheck& interrupt) {
  // Indexed only at the end, and dropped when the listing fails part way, so
  // that such a failure leaves the manager as it was.
  const std::size_t from = held_.size();
  try {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end; entry.increment(error)) {
      const std::string& entry_path = entry->path().native();
      if (!has_sdl_extension(entry->path().filename().native())) continue;
      try {
        // A pipe or a device among the files, even one that took a file's
        // place since the listing, could block the load or never end.
        append(read_text_file(entry_path, interrupt, {.regular_only = true, .inside = {}}).view());
      } catch (const Error& e) {
        log::write(log::Level::Warn, log::kStateDescriptorTarget,
                   [&] { return "Failed to load " + quote_path(entry_path) + ": " + e.message(); });
      }
    }
    if (error) throw Error(os_error_message(error.value()), error.value());
    index_from(from);
  } catch (...) {
    truncate(from);
    throw;
  }
  const std::size_t count = held_.size() - from;
  log::write(log::Level::Info, log::kStateDescriptorTarget,
             [&] { return "Loaded " + std::to_string(count) + " SDL descriptors from " + path; });
  return count;
}

namespace {

struct ByName {
  const std::deque<StateDescriptor>& held;
  bool operator()(std::size_t at, std::string_view name) const { return held[at].name < name; }
  bool operator()(std::string_view name, std::size_t at) const { return name < held[at].name; }
};

}  // namespace

const StateDescriptor* SdlManager::find(std::string_view name, uint32_t version) const {
  if (version == 0) return newest(name);
  // Positions are reading order: the first read is the lowest.
  std::optional<std::size_t> best;
  for (const Run& run : runs_) {
    const auto [first, last] = std::equal_range(run.begin(), run.end(), name, ByName{held_});
    for (auto at = first; at != last; ++at) {
      if (held_[*at].version != version) continue;
      if (!best || *at < *best) best = *at;
      break;  // the rest of the run was read later
    }
  }
  return best ? &held_[*best] : nullptr;
}

const StateDescriptor* SdlManager::newest(std::string_view name) const {
  const auto found = newest_.find(name);
  return found == newest_.end() ? nullptr : &held_[found->second];
}

std::vector<const StateDescriptor*> SdlManager::versions(std::string_view name) const {
  std::vector<std::size_t> positions;
  for (const Run& run : runs_) {
    const auto [first, last] = std::equal_range(run.begin(), run.end(), name, ByName{held_});
    positions.insert(positions.end(), first, last);
  }
  std::sort(positions.begin(), positions.end(), [this](std::size_t a, std::size_t b) {
    return held_[a].version != held_[b].version ? held_[a].version < held_[b].version : a < b;
  });
  std::vector<const StateDescriptor*> found;
  found.reserve(positions.size());
  for (const std::size_t at : positions) found.push_back(&held_[at]);
  return found;
}

std::size_t SdlManager::name_count() const { return newest_.size(); }

std::optional<std::string_view> SdlManager::name_after(std::optional<std::string_view> after) const {
  const auto next = after ? newest_.upper_bound(*after) : newest_.begin();
  if (next == newest_.end()) return std::nullopt;
  return next->first;
}

std::size_t SdlManager::size() const { return held_.size(); }

std::vector<const StateDescriptor*> SdlManager::descriptors() const {
  // The runs hold stretches of the reading order, oldest first, each sorted
  // by name and then in reading order: laid end to end and merged by name
  // alone, stably, they give each name's versions in reading order.
  std::vector<const StateDescriptor*> all;
  all.reserve(held_.size());
  const auto by_name = [](const StateDescriptor* a, const StateDescriptor* b) { return a->name < b->name; };
  for (const Run& run : runs_) {
    const auto merged_end = all.end() - all.begin();
    for (const std::size_t at : run) all.push_back(&held_[at]);
    std::inplace_merge(all.begin(), all.begin() + merged_end, all.end(), by_name);
  }
  return all;
}

void SdlManager::append(std::string_view text) {
  for_each_state_descriptor(text, [&](StateDescriptor&& descriptor) { held_.push_back(std::move(descriptor)); });
}

bool SdlManager::name_less(std::size_t a, std::size_t b) const {
  const int order = held_[a].name.compare(held_[b].name);
  return order < 0 || (order == 0 && a < b);
}

void SdlManager::index_from(std::size_t from) {
  if (from == held_.size()) return;
  // A later read replaces a name's newest unless its version is lower; a
  // failure part way is undone by truncate.
  for (std::size_t at = from; at < held_.size(); ++at) {
    const auto [entry, added] = newest_.try_emplace(held_[at].name, at);
    if (!added && held_[at].version >= held_[entry->second].version) entry->second = at;
  }
  // Everything else that can fail comes before the first change of the runs.
  runs_.reserve(runs_.size() + 1);
  Run merged = sorted_run(from, held_.size());
  const auto less = [this](std::size_t a, std::size_t b) { return name_less(a, b); };
  std::size_t kept = runs_.size();
  while (kept > 0 && runs_[kept - 1].size() <= 2 * merged.size()) {
    const Run& older = runs_[kept - 1];
    Run both(older.size() + merged.size());
    // Among equal names the older run's come first: they were read first.
    std::merge(older.begin(), older.end(), merged.begin(), merged.end(), both.begin(), less);
    merged = std::move(both);
    --kept;
  }
  runs_.resize(kept);
  runs_.push_back(std::move(merged));
}

SdlManager::Run SdlManager::sorted_run(std::size_t from, std::size_t to) const {
  // Sorted by their keys so many at a time, which keeps the keys' memory small
  // beside the descriptors'; the sorted pieces are then merged in place.
  constexpr std::size_t kKeyedAtOnce = std::size_t{1} << 16;
  Run run(to - from);
  std::vector<NameKey> keys;
  keys.reserve(std::min(to - from, kKeyedAtOnce));
  for (std::size_t piece = from; piece < to; piece += kKeyedAtOnce) {
    keys.clear();
    for (std::size_t at = piece; at < std::min(to, piece + kKeyedAtOnce); ++at)
      keys.push_back(NameKey::of(held_[at].name, at));
    std::sort(keys.begin(), keys.end(), [this](const NameKey& a, const NameKey& b) {
      if (a.head != b.head) return a.head < b.head;
      // Names no longer than the head are whole in it.
      if (a.size > NameKey::kHeadSize && b.size > NameKey::kHeadSize) return name_less(a.at, b.at);
      return a.size != b.size ? a.size < b.size : a.at < b.at;
    });
    std::transform(keys.begin(), keys.end(), run.begin() + static_cast<std::ptrdiff_t>(piece - from),
                   [](const NameKey& key) { return key.at; });
  }
  const auto less = [this](std::size_t a, std::size_t b) { return name_less(a, b); };
  for (std::size_t width = kKeyedAtOnce; width < run.size(); width *= 2) {
    for (std::size_t left = 0; left + width < run.size(); left += 2 * width) {
      const auto begin = run.begin() + static_cast<std::ptrdiff_t>(left);
      std::inplace_merge(begin, begin + static_cast<std::ptrdiff_t>(width),
                         run.begin() + static_cast<std::ptrdiff_t>(std::min(left + 2 * width, run.size())), less);
    }
  }
  return run;
}

void SdlManager::truncate(std::size_t from) {
  // The runs hold only what came before: a name whose newest goes falls back
  // on its newest among them, or goes too.
  for (std::size_t at = from; at < held_.size(); ++at) {
    const auto entry = newest_.find(held_[at].name);
    if (entry == newest_.end() || entry->second < from) continue;
    const std::vector<const StateDescriptor*> older = versions(entry->first);
    if (older.empty())
      newest_.erase(entry);
    else
      entry->second = static_cast<std::size_t>(older.back() - &held_[0]);
  }
  while (held_.size() > from) held_.pop_back();
}

}  // namespace lumivex
