#include "core/stream.h"

#include "core/text.h"

namespace lumivex {

void throw_end_of_data() { throw Error(kEndOfData); }

std::string Source::stored_bytes(const StoredString& text) const {
  const std::span<const uint8_t> stored = stored_span(text);
  if (stored.empty()) return {};
  std::string bytes(reinterpret_cast<const char*>(stored.data()), stored.size());
  if (text.inverted())
    for (char& c : bytes) c = static_cast<char>(~static_cast<uint8_t>(c));
  return bytes;
}

bool Source::stores(const StoredString& text, std::string_view bytes) const {
  const std::span<const uint8_t> stored = stored_span(text);
  if (stored.size() != bytes.size()) return false;
  // Each stored byte as stored_bytes gives it.
  const uint8_t flip = text.inverted() ? 0xFF : 0x00;
  for (std::size_t i = 0; i < stored.size(); ++i)
    if ((stored[i] ^ flip) != static_cast<uint8_t>(bytes[i])) return false;
  return true;
}

std::string Source::text(const StoredString& text) const { return utf8_text(stored_bytes(text)); }

std::string PlasmaRead::read_safe_string() { return Source(data_).text(locate_safe_string()); }

std::string PlasmaRead::read_safe_string_bytes() { return Source(data_).stored_bytes(locate_safe_string()); }

void check_safe_string(std::string_view text) {
  if (text.size() > kSafeStringLengthMask)
    throw Error("String of " + std::to_string(text.size()) + " bytes is too long for a safe string (at most 4095)");
}

void check_new_safe_string(std::string_view text) {
  check_safe_string(text);
  if (!text.empty() && text.back() == '\0')
    throw Error("A string ending in a NUL character cannot be stored: reading takes its last NUL for the end");
}

void PlasmaWrite::write_safe_string(std::string_view text) {
  check_safe_string(text);
  write_u16(static_cast<uint16_t>(text.size() | kInvertedStringFlags));
  const std::size_t at = buffer_.size();
  buffer_.resize(at + text.size());
  std::transform(text.begin(), text.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(at),
                 [](char c) { return static_cast<uint8_t>(~static_cast<uint8_t>(c)); });
}

}  // namespace lumivex
