#include "age/description.h"

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
    const std::size_t comma = rest_.find(',');
    const std::string_view field = rest_.substr(0, comma);
    done_ = comma == std::string_view::npos;
    if (!done_) rest_.remove_prefix(comma + 1);
    return field;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

// Name, then an optional sequence suffix that restarts the running counter,
// then optional flags; fields after the third are ignored.
void add_page(AgeDescription& age, std::string_view value, uint32_t& counter) {
  Fields fields(value);
  AgePage page;
  page.name = *fields.next();
  if (const auto suffix = fields.next()) {
    if (const auto number = parse_unsigned_decimal(*suffix, UINT32_MAX)) counter = static_cast<uint32_t>(*number);
  }
  page.seq_suffix = counter;
  if (const auto flags = fields.next()) {
    page.flags = static_cast<uint8_t>(parse_unsigned_decimal(*flags, UINT8_MAX).value_or(0));
  }
  age.pages.push_back(std::move(page));
  ++counter;  // wraps to 0 after the largest suffix
}

}  // namespace

AgeDescription AgeDescription::parse(std::string age_name, std::string_view content) {
  AgeDescription age;
  age.age_name = std::move(age_name);
  uint32_t page_counter = 1;
  TrimmedLines lines(skip_byte_order_mark(content));
  while (const auto line = lines.next()) {
    if (line->empty() || line->front() == '#' || line->front() == '[') continue;
    const std::size_t equals = line->find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trim_white_space(line->substr(0, equals));
    const std::string_view value = trim_white_space(line->substr(equals + 1));
    if (key == "StartDateTime") {
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
    } else if (key == "Page") {
      add_page(age, value, page_counter);
    }
  }
  return age;
}

AgeDescription AgeDescription::from_file(const std::string& path, const InterruptCheck& interrupt) {
  const ByteBuffer text = read_text_file(path, interrupt);
  const auto stem = file_stem(path);
  std::string age_name = stem && is_valid_utf8(*stem) ? std::string(*stem) : "unknown";
  return parse(std::move(age_name), text.view());
}

std::optional<std::string> AgeDescription::prp_filename(std::string_view page_name) const {
  for (const AgePage& page : pages) {
    if (page.name == page_name) return age_name + "_District_" + std::string(page_name) + ".prp";
  }
  return std::nullopt;
}

}  // namespace lumivex
