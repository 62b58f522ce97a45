#include "core/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/unicode_tables.h"

namespace lumivex {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at the start of s, or the length of its
// maximal invalid prefix (at least 1) negated.
int utf8_sequence(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  int need;
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int i = 1; i <= need; ++i) {
    if (at + i >= s.size()) return -i;
    const uint8_t b = byte(at + i);
    const uint8_t lo = i == 1 ? low : 0x80;
    const uint8_t hi = i == 1 ? high : 0xBF;
    if (b < lo || b > hi) return -i;
  }
  return need + 1;
}

char32_t decode_at(std::string_view s, std::size_t at, int len) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(s[i]); };
  if (len == 1) return byte(at);
  char32_t cp = byte(at) & (0x7F >> len);
  for (int i = 1; i < len; ++i) cp = (cp << 6) | (byte(at + i) & 0x3F);
  return cp;
}

// The shortest decimal digits that read back to the same float, and the
// position of the decimal point relative to them (value = 0.digits × 10^point).
struct ShortestDecimal {
  bool negative = false;
  std::string digits;
  int point = 0;
};

ShortestDecimal shortest_decimal(float value) {
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string_view text(buf, result.ptr - buf);
  ShortestDecimal out;
  std::size_t at = 0;
  if (text[at] == '-') {
    out.negative = true;
    ++at;
  }
  const std::size_t exponent_at = text.find('e');
  for (; at < exponent_at; ++at)
    if (text[at] != '.') out.digits.push_back(text[at]);
  out.point = std::atoi(std::string(text.substr(exponent_at + 1)).c_str()) + 1;
  return out;
}

// Plain positional notation, without exponent; ".0" is added to whole
// numbers when fraction_always is set.
std::string positional(const ShortestDecimal& d, bool fraction_always) {
  std::string out = d.negative ? "-" : "";
  const int count = static_cast<int>(d.digits.size());
  if (d.point <= 0) {
    out += "0." + std::string(-d.point, '0') + d.digits;
  } else if (d.point >= count) {
    out += d.digits + std::string(d.point - count, '0');
    if (fraction_always) out += ".0";
  } else {
    out += d.digits.substr(0, d.point) + "." + d.digits.substr(d.point);
  }
  return out;
}

std::string non_finite(float value) {
  if (std::isnan(value)) return "NaN";
  return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string utf8_replace_invalid(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const int len = utf8_sequence(bytes, at);
    if (len > 0) {
      out.append(bytes.substr(at, len));
      at += len;
    } else {
      out.append(kReplacement);
      at += -len;
    }
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    // ASCII, the bulk of every text here, is checked eight bytes at a time,
    // then byte by byte up to the next lead byte.
    uint64_t word;
    while (bytes.size() - at >= sizeof word) {
      std::memcpy(&word, bytes.data() + at, sizeof word);
      if (word & 0x8080808080808080) break;
      at += sizeof word;
    }
    while (at < bytes.size() && static_cast<uint8_t>(bytes[at]) < 0x80) ++at;
    if (at == bytes.size()) break;
    const int len = utf8_sequence(bytes, at);
    if (len < 0) return false;
    at += len;
  }
  return true;
}

std::string utf8_text(std::string bytes) {
  if (is_valid_utf8(bytes)) return bytes;
  return utf8_replace_invalid(bytes);
}

bool is_printable(char32_t code_point) {
  const auto* begin = unicode::kNonPrintable;
  const auto* end = begin + unicode::kNonPrintable_count;
  const auto* it = std::upper_bound(begin, end, code_point,
                                    [](char32_t cp, const unicode::CodePointRange& r) { return cp < r.first; });
  return it == begin || code_point > (it - 1)->last;
}

std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  std::size_t at = 0;
  while (at < text.size()) {
    // Most names are printable ASCII, which stands for itself.
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
      out.push_back(static_cast<char>(byte));
      ++at;
      continue;
    }
    int len = utf8_sequence(text, at);
    if (len < 0) {
      out.append(kReplacement);
      at += -len;
      continue;
    }
    const char32_t cp = decode_at(text, at, len);
    switch (cp) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\0':
        out.append("\\0");
        break;
      default:
        if (is_printable(cp)) {
          out.append(text.substr(at, len));
        } else {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
          out.append(buf);
        }
    }
    at += len;
  }
  out.push_back('"');
  return out;
}

std::string debug_optional(std::optional<std::string_view> text) {
  return text ? "Some(" + debug_quote(*text) + ")" : "None";
}

namespace {

// The number in the base, at least min_digits long with zeros before it.
void append_number(std::string& out, uint32_t number, int base, std::size_t min_digits = 1) {
  char digits[16];
  const char* end = std::to_chars(digits, digits + sizeof digits, number, base).ptr;
  const auto count = static_cast<std::size_t>(end - digits);
  if (count < min_digits) out.append(min_digits - count, '0');
  out.append(digits, count);
}

}  // namespace

std::string key_repr(uint32_t location_sequence, uint16_t location_flags, uint16_t class_type, uint32_t object_id,
                     std::string_view name, uint32_t clone_player_id, uint16_t clone_id) {
  std::string out = "Uoid(S:0x";
  append_number(out, location_sequence, 16);
  out += " F:0x";
  append_number(out, location_flags, 16);
  out += " T:0x";
  append_number(out, class_type, 16, 4);
  out += " I:";
  append_number(out, object_id, 10);
  out += " N:";
  out += debug_quote(name);
  out += " C:[";
  append_number(out, clone_player_id, 10);
  out += ',';
  append_number(out, clone_id, 10);
  out += "])";
  return out;
}

std::string format_fixed(double value, int decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string float_text(float value) {
  if (!std::isfinite(value)) return non_finite(value);
  return positional(shortest_decimal(value), false);
}

// Exponent form (1e-5, 1.5e16) for magnitudes below 1e-4 or from 1e16 up,
// positional with a fractional part otherwise.
std::string float_debug(float value) {
  if (!std::isfinite(value)) return non_finite(value);
  const ShortestDecimal d = shortest_decimal(value);
  const float magnitude = std::fabs(value);
  if (!((magnitude != 0.0f && magnitude < 1e-4f) || magnitude >= 1e16f)) return positional(d, true);
  std::string out = d.negative ? "-" : "";
  out += d.digits.substr(0, 1);
  if (d.digits.size() > 1) {
    out += '.';
    out.append(d.digits, 1);
  }
  return out + "e" + std::to_string(d.point - 1);
}

}  // namespace lumivex
