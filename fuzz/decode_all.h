#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "core/error.h"
#include "resource/prp/decoders.h"

namespace lumivex::fuzz {

using Bytes = std::span<const uint8_t>;

// One decoder on the bytes: the decode may fail only with the core's error
// type; once it has succeeded, reading back everything its record locates, as
// the views and their users do, must not fail at all: an error there escapes
// and ends the run.
template <std::size_t Index>
void decode_with(Bytes bytes) {
  using Row = std::remove_cvref_t<decltype(std::get<Index>(kDecoders))>;
  typename Row::RecordType record;
  try {
    record = Row::parse(bytes);
  } catch (const Error&) {
    return;
  }
  read_all_located(record, Source(bytes));
}

// Every decoder, in the order of the decoders' table.
inline constexpr auto kDecodeFunctions = []<std::size_t... I>(std::index_sequence<I...>) {
  return std::array<void (*)(Bytes), sizeof...(I)>{&decode_with<I>...};
}(std::make_index_sequence<kDecoderCount>());

inline void decode_all(Bytes bytes) {
  for (const auto decode : kDecodeFunctions) decode(bytes);
}

}  // namespace lumivex::fuzz
