#include "age/description.h"

#include <algorithm>
#include <bit>

#include "age/settings.h"
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

using age_text::Fields;
using age_text::Settings;

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

}  // namespace

std::optional<std::string> page_name_refusal(std::string_view name) {
  if (name == "." || name == "..") return "it is \"" + std::string(name) + "\"";
  for (const char separator : {'/', '\\'}) {
    if (name.find(separator) != std::string_view::npos) return "it holds \"" + std::string(1, separator) + "\"";
  }
  if (name.find('\0') != std::string_view::npos) return "it holds a NUL byte";
  return std::nullopt;
}

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

AgeDescription AgeDescription::from_file(const std::string& path, const InterruptCheck& interrupt,
                                         const FileRule& rule) {
  ByteBuffer text = read_text_file(path, interrupt, rule);
  const auto stem = file_stem(path);
  std::string age_name = stem && is_valid_utf8(*stem) ? std::string(*stem) : "unknown";
  return parse(std::move(age_name), std::move(text));
}

std::optional<std::string> AgeDescription::prp_filename(std::string_view page_name) const {
  std::call_once(page_names_->made, [&] {
    page_names_->names.reserve(pages.size());
    for (const AgePage& page : pages) page_names_->names.insert(name_of(page));
  });
  if (!page_names_->names.contains(page_name)) return std::nullopt;
  return age_name + "_District_" + std::string(page_name) + ".prp";
}

bool AgeDescription::operator==(const AgeDescription& other) const {
  const auto same_page = [&](const AgePage& a, const AgePage& b) {
    return name_of(a) == other.name_of(b) && a.seq_suffix == b.seq_suffix && a.flags == b.flags;
  };
  return age_name == other.age_name && start_date_time == other.start_date_time &&
         std::bit_cast<uint32_t>(day_length) == std::bit_cast<uint32_t>(other.day_length) &&
         max_capacity == other.max_capacity && linger_time == other.linger_time &&
         sequence_prefix == other.sequence_prefix && release_version == other.release_version &&
         std::equal(pages.begin(), pages.end(), other.pages.begin(), other.pages.end(), same_page);
}

std::vector<RefusedPage> AgeDescription::refused_pages() const {
  std::vector<RefusedPage> refused;
  // Pages lie in the text in list order, so the lines are counted once.
  const std::string_view text = text_.view();
  std::size_t counted_to = 0, line = 1;
  for (std::size_t index = 0; index < pages.size(); ++index) {
    const AgePage& page = pages[index];
    auto reason = page_name_refusal(name_of(page));
    if (!reason) continue;
    line += static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(counted_to),
                                                text.begin() + static_cast<std::ptrdiff_t>(page.name_at), '\n'));
    counted_to = page.name_at;
    refused.push_back({line, index, std::move(*reason)});
  }
  return refused;
}

}  // namespace lumivex
