#pragma once

// How the text of an age description is read, line by line, by the parser
// and by the lint alike: each line's setting, "key = value", and the
// comma-separated fields of a page's value.

#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/lexical.h"

namespace lumivex::age_text {

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
  // The text after the comma that ended the last field read; nothing when
  // that field was the last.
  std::optional<std::string_view> rest() const { return done_ ? std::nullopt : std::optional(rest_); }

 private:
  std::string_view rest_;
  bool done_ = false;
};

// One line of the text, as the parser takes it.
struct SettingLine {
  enum class Kind : uint8_t {
    Blank,     // white space only
    Comment,   // "#" or "[" first: a comment or a section header
    NoEquals,  // any other line without "="
    Setting,   // "key = value"
  };
  Kind kind = Kind::Blank;
  std::string_view text;   // as written, without its line feed and the carriage return before it
  std::string_view key;    // a setting's, trimmed of white space
  std::string_view value;  // a setting's, trimmed of white space
};

// The setting lines of a text, "key = value", read once through the masks of
// its blocks: a line is skipped when it is empty, begins with "#" or "[" or
// has no "="; key and value are the texts before and after its first "=",
// each trimmed of white space, like the line itself.
class Settings {
 public:
  explicit Settings(std::string_view text) : text_(text) { block_.load(text, 0); }

  // The next setting, the other lines passed over.
  bool next(std::string_view& key, std::string_view& value) {
    while (at_ < text_.size()) {
      const Line line = read_line();
      if (kind_of(line) != SettingLine::Kind::Setting) continue;
      key = key_of(line);
      value = value_of(line);
      return true;
    }
    return false;
  }

  // The next line, whatever it holds; false after the last. The text after
  // the last line feed is a line when it is not empty.
  bool next_line(SettingLine& setting) {
    if (at_ >= text_.size()) return false;
    const std::size_t begin = at_;
    const Line line = read_line();
    std::size_t end = at_;
    if (text_[end - 1] == '\n') {
      --end;
      if (end > begin && text_[end - 1] == '\r') --end;
    }
    setting.kind = kind_of(line);
    setting.text = text_.substr(begin, end - begin);
    const bool is_setting = setting.kind == SettingLine::Kind::Setting;
    setting.key = is_setting ? key_of(line) : std::string_view();
    setting.value = is_setting ? value_of(line) : std::string_view();
    return true;
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

  SettingLine::Kind kind_of(const Line& line) const {
    if (line.first == kNone) return SettingLine::Kind::Blank;
    if (text_[line.first] == '#' || text_[line.first] == '[') return SettingLine::Kind::Comment;
    return line.equals == kNone ? SettingLine::Kind::NoEquals : SettingLine::Kind::Setting;
  }
  std::string_view key_of(const Line& line) const {
    return line.key_last == kNone ? std::string_view() : text_.substr(line.first, line.key_last + 1 - line.first);
  }
  std::string_view value_of(const Line& line) const {
    return line.value_first == kNone ? std::string_view()
                                     : text_.substr(line.value_first, line.last + 1 - line.value_first);
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

}  // namespace lumivex::age_text
