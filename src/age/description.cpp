#include "age/description.h"

#include <algorithm>
#include <bit>

#include "core/file.h"
#include "core/lexical.h"
#include "core/text.h"

namespace lumivex {
namespace {

// The last component of a path, trailing separators and "." components
// ignored; nothing for an empty path, the root, or one ending in "..".
std::optional<std::string_view> file_name(std::string_view path) {
  for (;;) {
    while (path.ends_with('/')) path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (last != ".") return last.empty() || last == ".." ? std::nullopt : std::optional(last);
    path.remove_suffix(1);
  }
}

// The file name up to its last "."; a name whose only "." leads is its own stem.
std::optional<std::string_view> file_stem(std::string_view path) {
  const auto name = file_name(path);
  if (!name) return std::nullopt;
  const std::size_t dot = name->rfind('.');
  return dot == std::string_view::npos || dot == 0 ? *name : name->substr(0, dot);
}

// The comma-separated fields of a "Page" value, empty ones kept, none trimmed.
class Fields {
 public:
  explicit Fields(std::string_view text) : rest_(text) {}
  std::optional<std::string_view> next() {
    if (done_) return std::nullopt;
    const std::size_t comma = find_byte(rest_, ',');
    const std::string_view field = rest_.substr(0, comma);
    done_ = comma == rest_.size();
    if (!done_) rest_.remove_prefix(comma + 1);
    return field;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

// Name, then an optional sequence suffix that restarts the running counter,
// then optional flags; fields after the third are ignored.
void add_page(std::vector<AgePage>& pages, std::string_view value, const char* text, uint32_t& counter) {
  Fields fields(value);
  const std::string_view name = *fields.next();
  if (const auto suffix = fields.next()) {
    if (const auto number = parse_unsigned_decimal(*suffix, UINT32_MAX)) counter = static_cast<uint32_t>(*number);
  }
  uint8_t flags = 0;
  if (const auto flags_field = fields.next()) {
    flags = static_cast<uint8_t>(parse_unsigned_decimal(*flags_field, UINT8_MAX).value_or(0));
  }
  // An empty value is a view of nothing, not of the text.
  const std::size_t name_at = name.empty() ? 0 : static_cast<std::size_t>(name.data() - text);
  pages.push_back({name_at, name.size(), counter, flags});
  ++counter;  // wraps to 0 after the largest suffix
}

// Counted in runs of 255 bytes into one byte each, which the compiler turns
// into vector additions.
std::size_t count_equals_signs(std::string_view text) {
  std::size_t total = 0;
  for (std::size_t run = 0; run < text.size(); run += 255) {
    uint8_t count = 0;
    for (std::size_t i = run; i < std::min(text.size(), run + 255); ++i) count += text[i] == '=';
    total += count;
  }
  return total;
}

// The setting lines of a text, "key = value", read once through the masks of
// its blocks: a line is skipped when it is empty, begins with "#" or "[" or
// has no "="; key and value are the texts before and after its first "=",
// each trimmed of white space, like the line itself.
class Settings {
 public:
  explicit Settings(std::string_view text) : text_(text) { block_.load(text, 0); }

  bool next(std::string_view& key, std::string_view& value) {
    while (at_ < text_.size()) {
      const Line line = read_line();
      if (line.first == kNone || line.equals == kNone) continue;
      if (text_[line.first] == '#' || text_[line.first] == '[') continue;
      key = line.key_last == kNone ? std::string_view() : text_.substr(line.first, line.key_last + 1 - line.first);
      value = line.value_first == kNone ? std::string_view()
                                        : text_.substr(line.value_first, line.last + 1 - line.value_first);
      return true;
    }
    return false;
  }

 private:
  static constexpr std::size_t kNone = ~std::size_t{0};

  // Places in one line: its first and last bytes that are not white space,
  // its first "=", and the last such byte before it and the first after it.
  struct Line {
    std::size_t first = kNone, last = kNone, equals = kNone, key_last = kNone, value_first = kNone;
  };

  static std::size_t lowest(uint64_t bits, std::size_t start) {
    return start + static_cast<std::size_t>(std::countr_zero(bits));
  }
  static std::size_t highest(uint64_t bits, std::size_t start) {
    return start + 63 - static_cast<std::size_t>(std::countl_zero(bits));
  }

  // Reads the line from at_ and moves at_ past its line feed.
  Line read_line() {
    Line line;
    for (std::size_t at = at_;;) {
      if (at - block_.start >= 64) block_.load(text_, at);
      const std::size_t start = block_.start;
      uint64_t in_line = ~uint64_t{0} << (at - start);
      const uint64_t feeds = block_.feeds & in_line;
      if (feeds) in_line &= (feeds & (~feeds + 1)) - 1;
      const uint64_t text = ~block_.white & in_line;
      if (line.equals == kNone) {
        if (const uint64_t equals = block_.equals & in_line) {
          line.equals = lowest(equals, start);
          const uint64_t below = uint64_t{1} << (line.equals - start);
          const uint64_t before = text & (below - 1);
          line.key_last = before ? highest(before, start) : line.last;
          if (const uint64_t after = text & ~(below | (below - 1))) line.value_first = lowest(after, start);
        }
      } else if (line.value_first == kNone && text) {
        line.value_first = lowest(text, start);
      }
      if (text) {
        if (line.first == kNone) line.first = lowest(text, start);
        line.last = highest(text, start);
      }
      if (feeds) {
        at_ = lowest(feeds, start) + 1;
        return line;
      }
      at = start + 64;
      if (at >= text_.size()) {
        at_ = text_.size();
        return line;
      }
    }
  }

  std::string_view text_;
  TextBlock block_;
  std::size_t at_ = 0;
};

}  // namespace

AgeDescription AgeDescription::parse(std::string age_name, ByteBuffer text) {
  AgeDescription age;
  age.age_name = std::move(age_name);
  age.text_ = std::move(text);
  const std::string_view content = skip_byte_order_mark(age.text_.view());
  // The page list is allocated once, as growing it would move it and touch
  // twice the memory: for at most one page per "=" and per six bytes ("Page="
  // and a line feed), which most files meet exactly. What a file leaves
  // unused is given back at the end.
  age.pages.reserve(std::min(count_equals_signs(content), (content.size() + 1) / 6));
  uint32_t page_counter = 1;
  std::string_view key, value;
  for (Settings settings(content); settings.next(key, value);) {
    if (key == "Page") {
      add_page(age.pages, value, age.text_.view().data(), page_counter);
    } else if (key == "StartDateTime") {
      age.start_date_time = static_cast<uint32_t>(parse_unsigned_decimal(value, UINT32_MAX).value_or(0));
    } else if (key == "DayLength") {
      age.day_length = parse_f32(value).value_or(24.0f);
    } else if (key == "MaxCapacity") {
      age.max_capacity = parse_i32_decimal(value).value_or(-1);
    } else if (key == "LingerTime") {
      age.linger_time = parse_i32_decimal(value).value_or(-1);
    } else if (key == "SequencePrefix") {
      age.sequence_prefix = parse_i32_decimal(value).value_or(0);
    } else if (key == "ReleaseVersion") {
      age.release_version = static_cast<uint32_t>(parse_unsigned_decimal(value, UINT32_MAX).value_or(0));
    }
  }
  if (age.pages.capacity() > 2 * age.pages.size()) age.pages.shrink_to_fit();
  return age;
}

AgeDescription AgeDescription::parse(std::string age_name, std::string_view text) {
  return parse(std::move(age_name), ByteBuffer(text.data(), text.size()));
}

AgeDescription AgeDescription::from_file(const std::string& path, const InterruptCheck& interrupt) {
  ByteBuffer text = read_text_file(path, interrupt);
  const auto stem = file_stem(path);
  std::string age_name = stem && is_valid_utf8(*stem) ? std::string(*stem) : "unknown";
  return parse(std::move(age_name), std::move(text));
}

std::optional<std::string> AgeDescription::prp_filename(std::string_view page_name) const {
  for (const AgePage& page : pages) {
    if (name_of(page) == page_name) return age_name + "_District_" + std::string(page_name) + ".prp";
  }
  return std::nullopt;
}

}  // namespace lumivex
