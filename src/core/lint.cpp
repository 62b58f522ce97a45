#include "core/lint.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/lexical.h"
#include "core/text.h"

namespace lumivex {
namespace {

constexpr std::size_t kLongestName = 16;
constexpr std::size_t kQuotedBytes = 60;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Edits from word to name, letters compared without ASCII case, a swap of
// two neighbours counting as one; both at most kLongestName + 2 bytes long.
std::size_t edit_distance(std::string_view word, std::string_view name) {
  constexpr std::size_t kSide = kLongestName + 3;
  std::array<std::array<std::size_t, kSide>, kSide> cost{};
  for (std::size_t i = 0; i <= word.size(); ++i) cost[i][0] = i;
  for (std::size_t j = 0; j <= name.size(); ++j) cost[0][j] = j;
  for (std::size_t i = 1; i <= word.size(); ++i) {
    for (std::size_t j = 1; j <= name.size(); ++j) {
      const bool same = ascii_lower(word[i - 1]) == ascii_lower(name[j - 1]);
      cost[i][j] = std::min({cost[i - 1][j] + 1, cost[i][j - 1] + 1, cost[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && ascii_lower(word[i - 1]) == ascii_lower(name[j - 2]) &&
          ascii_lower(word[i - 2]) == ascii_lower(name[j - 1]))
        cost[i][j] = std::min(cost[i][j], cost[i - 2][j - 2] + 1);
    }
  }
  return cost[word.size()][name.size()];
}

}  // namespace

std::string_view line_around(std::string_view text, std::size_t at) {
  const std::size_t feed_before = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
  const std::size_t begin = feed_before == std::string_view::npos ? 0 : feed_before + 1;
  std::string_view line = text.substr(begin);
  const std::size_t end = find_byte(line, '\n');
  const bool ends_in_feed = end < line.size();
  line = line.substr(0, end);
  if (ends_in_feed && line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

bool report_not_utf8(std::string_view text, const LintReport& report) {
  if (is_valid_utf8(text)) return false;
  // A line feed is never part of a longer character, so the text is UTF-8
  // exactly when each of its lines is.
  std::size_t number = 1;
  for (std::size_t begin = 0;; ++number) {
    const std::size_t end = begin + find_byte(text.substr(begin), '\n');
    if (!is_valid_utf8(text.substr(begin, end - begin))) {
      report({number, line_around(text, begin), "not UTF-8 text: the whole file is refused"});
      return true;
    }
    begin = end + 1;
  }
}

std::optional<std::string_view> closest_name(std::string_view word, std::span<const std::string_view> names) {
  std::optional<std::string_view> closest;
  std::size_t best = 3;
  for (const std::string_view name : names) {
    if (name.size() > kLongestName) continue;
    const std::size_t allowed = name.size() <= 4 ? 1 : 2;
    // Farther in length alone than the edits allowed.
    if (word.size() > name.size() + allowed || name.size() > word.size() + allowed) continue;
    const std::size_t distance = edit_distance(word, name);
    if (distance == 0) return name;  // the same but for case
    if (distance <= allowed && distance < best) {
      best = distance;
      closest = name;
    }
  }
  return closest;
}

std::string did_you_mean(std::string_view word, std::span<const std::string_view> names) {
  const auto name = closest_name(word, names);
  return name ? " (did you mean " + debug_quote(*name) + "?)" : "";
}

std::string quote_piece(std::string_view piece) {
  if (piece.size() <= kQuotedBytes) return debug_quote(piece);
  std::size_t cut = kQuotedBytes;
  // Not inside a character: back to the byte that begins it.
  while (cut > 0 && (static_cast<uint8_t>(piece[cut]) & 0xC0) == 0x80) --cut;
  return debug_quote(piece.substr(0, cut)) + "...";
}

}  // namespace lumivex
