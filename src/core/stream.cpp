#include "core/stream.h"

#include "core/text.h"

namespace lumivex {

void throw_end_of_data() { throw Error(kEndOfData); }

std::string Source::stored_bytes(const StoredString& text) const {
  check(text);
  const uint16_t length = text.size();
  if (length == 0) return {};
  if (text.offset > bytes_.size() || bytes_.size() - text.offset < length) throw_end_of_data();
  std::string bytes(reinterpret_cast<const char*>(bytes_.data() + text.offset), length);
  if (text.header >= 0xF000)
    for (char& c : bytes) c = static_cast<char>(~static_cast<uint8_t>(c));
  if (bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

std::string Source::text(const StoredString& text) const { return utf8_text(stored_bytes(text)); }

std::string PlasmaRead::read_safe_string() { return Source(data_).text(locate_safe_string()); }

std::string PlasmaRead::read_safe_string_bytes() { return Source(data_).stored_bytes(locate_safe_string()); }

void PlasmaWrite::write_safe_string(std::string_view text) {
  if (text.size() > 0x0FFF)
    throw Error("String of " + std::to_string(text.size()) + " bytes is too long for a safe string (at most 4095)");
  write_u16(static_cast<uint16_t>(text.size() | 0xF000));
  for (char c : text) buffer_.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
}

}  // namespace lumivex
