#include "core/stream.h"

#include "core/text.h"

namespace lumivex {

void throw_end_of_data() { throw Error(kEndOfData); }

std::string StoredString::bytes(std::span<const uint8_t> data) const {
  const uint16_t length = size();
  if (length == 0) return {};
  if (offset > data.size() || data.size() - offset < length) throw Error(kEndOfData);
  std::string bytes(reinterpret_cast<const char*>(data.data() + offset), length);
  if (header >= 0xF000)
    for (char& c : bytes) c = static_cast<char>(~static_cast<uint8_t>(c));
  if (bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

std::string StoredString::text(std::span<const uint8_t> data) const { return utf8_text(bytes(data)); }

void PlasmaWrite::write_safe_string(std::string_view text) {
  if (text.size() > 0x0FFF)
    throw Error("String of " + std::to_string(text.size()) + " bytes is too long for a safe string (at most 4095)");
  write_u16(static_cast<uint16_t>(text.size() | 0xF000));
  for (char c : text) buffer_.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
}

}  // namespace lumivex
