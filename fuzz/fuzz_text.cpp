// The ".age" and ".sdl" parsers on arbitrary text: both must give a result
// for any UTF-8 text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "age/description.h"
#include "core/text.h"
#include "sdl/descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Both parsers are only ever given UTF-8: files are checked when read.
  if (!lumivex::is_valid_utf8(text)) return 0;
  const auto age = lumivex::AgeDescription::parse("Fuzz", text);
  for (const auto& page : age.pages) age.prp_filename(age.name_of(page));
  for (const auto& descriptor : lumivex::parse_state_descriptors(text))
    for (std::size_t i = 0; i < descriptor.variable_count(); ++i) descriptor.variable(i);
  return 0;
}
