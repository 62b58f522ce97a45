#pragma once

#include <cstdint>
#include <span>

#include "core/error.h"
#include "core/scene_object.h"
#include "resource/prp/layer.h"
#include "resource/prp/material.h"
#include "resource/prp/mipmap.h"
#include "resource/prp/physical.h"
#include "resource/prp/python_file_mod.h"
#include "resource/prp/responder.h"
#include "resource/prp/sound.h"

namespace lumivex::fuzz {

// Every object decoder, in the order of PrpObject's methods.
inline constexpr void (*kDecoders[])(std::span<const uint8_t>) = {
    [](std::span<const uint8_t> b) { parse_scene_object(b); },
    [](std::span<const uint8_t> b) { parse_mipmap(b); },
    [](std::span<const uint8_t> b) { parse_material_layers(b); },
    [](std::span<const uint8_t> b) { parse_layer_state(b); },
    [](std::span<const uint8_t> b) { parse_python_file_mod(b); },
    [](std::span<const uint8_t> b) { parse_responder_modifier(b); },
    [](std::span<const uint8_t> b) { parse_px_physical(b); },
    [](std::span<const uint8_t> b) { parse_win32_sound(b); },
};

// Runs one decoder; it may fail only with the core's error type.
inline void decode_with(std::size_t decoder, std::span<const uint8_t> bytes) {
  try {
    kDecoders[decoder](bytes);
  } catch (const Error&) {
  }
}

inline void decode_all(std::span<const uint8_t> bytes) {
  for (std::size_t i = 0; i < std::size(kDecoders); ++i) decode_with(i, bytes);
}

}  // namespace lumivex::fuzz
