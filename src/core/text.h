#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivex {

// Decodes bytes as UTF-8, replacing each maximal invalid subsequence by one
// U+FFFD, so the result is always valid UTF-8.
std::string utf8_replace_invalid(std::string_view bytes);

// True when the bytes are valid UTF-8.
bool is_valid_utf8(std::string_view bytes);

// The bytes themselves when they are valid UTF-8, else utf8_replace_invalid.
std::string utf8_text(std::string bytes);

// Whether a code point is shown as itself inside quoted text.
bool is_printable(char32_t code_point);

// Text (valid UTF-8) in double quotes, with backslash escapes for quotes,
// backslashes, \t \r \n \0 and \u{...} for other non-printable characters.
std::string debug_quote(std::string_view text);

// "Some(<quoted>)" for a present value, "None" for an absent one.
std::string debug_optional(std::optional<std::string_view> text);

// A key as reprs show it: Uoid(S:0x5e0001 F:0x0 T:0x0006 I:2 N:"Lamp" C:[0,0]),
// the name (valid UTF-8) quoted and escaped, the clone player id before the
// clone id.
std::string key_repr(uint32_t location_sequence, uint16_t location_flags, uint16_t class_type, uint32_t object_id,
                     std::string_view name, uint32_t clone_player_id, uint16_t clone_id);

// The shortest decimal that reads back as the same float, positional: 0.5,
// 3, 1e-5 as 0.00001; NaN as "NaN", infinities as "inf" and "-inf".
std::string float_text(float value);
// The same digits as a debug form shows them: positional with a fractional
// part (3.0, 0.5) for magnitudes from 1e-4 up to 1e16, exponent form (1e-5,
// 1.5e16) outside.
std::string float_debug(float value);

// Fixed-point with the given number of decimals, rounding the exact binary
// value half to even; NaN as "NaN", infinities as "inf" and "-inf".
std::string format_fixed(double value, int decimals);

}  // namespace lumivex
