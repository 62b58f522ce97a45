#pragma once

// The ".age" text format: an age's settings as "Key=Value" lines and one
// "Page=" line per page. Parsing never fails; only reading the file can.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/file.h"

namespace lumivex {

// A page of an age, its name where it lies in the description's text.
struct AgePage {
  std::size_t name_at = 0;
  std::size_t name_size = 0;
  uint32_t seq_suffix = 0;
  uint8_t flags = 0;  // bit 0: not loaded automatically

  bool auto_load() const { return (flags & 1) == 0; }
};

// What keeps a page name from being a plain file name, the only kind that
// may name a page file beside its age; nothing when it is one.
std::optional<std::string> page_name_refusal(std::string_view page_name);

// A page whose name is not a plain file name: the line that lists it (from
// 1), its place in the page list, and what is wrong with the name.
struct RefusedPage {
  std::size_t line = 0;
  std::size_t page = 0;
  std::string reason;
};

class AgeDescription {
 public:
  std::string age_name;
  std::vector<AgePage> pages;
  uint32_t start_date_time = 0;
  float day_length = 24.0f;
  int32_t max_capacity = -1;
  int32_t linger_time = -1;
  int32_t sequence_prefix = 0;
  uint32_t release_version = 0;

  // Keeps the text, which the pages' names are read from.
  static AgeDescription parse(std::string age_name, ByteBuffer text);
  static AgeDescription parse(std::string age_name, std::string_view text);
  // Names the age after the file's stem, "unknown" when it has none. Throws
  // Error "Failed to read <path>" when the file cannot be read or is not UTF-8.
  static AgeDescription from_file(const std::string& path, const InterruptCheck& interrupt = {},
                                  const FileRule& rule = {});

  std::string_view name_of(const AgePage& page) const { return text_.view().substr(page.name_at, page.name_size); }
  // The page file of a page of this age, when it has one of that exact name.
  // The names are looked up in a table made on the first call, which the
  // parse does not pay for.
  std::optional<std::string> prp_filename(std::string_view page_name) const;
  // The pages whose names may not name a file beside the age, as a path
  // separator, a NUL or a "." or ".." name would lead elsewhere, in list
  // order; their files are never looked for. One pass over the text.
  std::vector<RefusedPage> refused_pages() const;
  // The same name, settings and pages, each page by its name, suffix and
  // flags; a float setting by its bits, so that an age equals itself.
  bool operator==(const AgeDescription& other) const;

 private:
  struct PageNames {
    std::once_flag made;
    std::unordered_set<std::string_view> names;
  };

  ByteBuffer text_;
  std::unique_ptr<PageNames> page_names_ = std::make_unique<PageNames>();
};

}  // namespace lumivex
