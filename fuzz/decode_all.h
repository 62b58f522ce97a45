#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "core/error.h"
#include "resource/prp/layer.h"
#include "resource/prp/material.h"
#include "resource/prp/mipmap.h"
#include "resource/prp/physical.h"
#include "resource/prp/python_file_mod.h"
#include "resource/prp/responder.h"
#include "resource/prp/scene_object.h"
#include "resource/prp/sound.h"

namespace lumivex::fuzz {

using Bytes = std::span<const uint8_t>;

// The decode may fail only with the core's error type.
template <class Record>
std::optional<Record> decoded(Record (*parse)(Bytes), Bytes bytes) {
  try {
    return parse(bytes);
  } catch (const Error&) {
    return std::nullopt;
  }
}

// Once a decode has succeeded, reading every string and list its record
// locates, as the views and their users do, must not fail at all: an error
// there escapes and ends the run.
inline void text_of(const std::optional<StoredString>& text, Bytes bytes) {
  if (text) text->text(bytes);
}

inline void read_uoid(const std::optional<Uoid>& key, Bytes bytes) {
  if (key) key->name.text(bytes);
}

inline void read_command(const ResponderCmd& cmd, Bytes bytes) {
  for (const Uoid& key : cmd.receivers.present_keys(bytes)) key.name.text(bytes);
  cmd.notify_receivers.present_names(bytes);
  for (const OneShotCallback& callback : cmd.read_one_shot_callbacks(bytes)) {
    callback.name.text(bytes);
    read_uoid(callback.key, bytes);
  }
  text_of(cmd.name, bytes);
}

// Every object decoder, in the order of PrpObject's methods, each followed,
// when it succeeds, by the reading of everything its record locates.
inline constexpr void (*kDecoders[])(Bytes) = {
    [](Bytes b) {
      if (const auto scene = decoded(parse_scene_object, b)) {
        text_of(scene->name, b);
        text_of(scene->draw_interface_name, b);
        text_of(scene->coord_interface_name, b);
        scene->modifiers.present_names(b);
      }
    },
    [](Bytes b) {
      if (const auto mipmap = decoded(parse_mipmap, b)) {
        text_of(mipmap->name, b);
        mipmap->pixel_data.in(b);
      }
    },
    [](Bytes b) {
      if (const auto layers = decoded(parse_material_layers, b)) layers->present_names(b);
    },
    [](Bytes b) {
      if (const auto layer = decoded(parse_layer_state, b)) {
        text_of(layer->name, b);
        text_of(layer->texture_name, b);
      }
    },
    [](Bytes b) {
      if (const auto mod = decoded(parse_python_file_mod, b)) {
        read_uoid(mod->self_key, b);
        mod->python_file.text(b);
        mod->receivers.present_names(b);
        for (const PythonParam& param : mod->read_params(b)) {
          param_value_text(param.value, b);
          param_value_debug(param.value, b);
        }
      }
    },
    [](Bytes b) {
      if (const auto responder = decoded(parse_responder_modifier, b)) {
        read_uoid(responder->self_key, b);
        for (const ResponderState& state : responder->read_states(b))
          for (const ResponderCmd& cmd : state.read_commands(b)) read_command(cmd, b);
      }
    },
    [](Bytes b) {
      if (const auto physical = decoded(parse_px_physical, b)) {
        text_of(physical->name, b);
        if (const auto* hull = std::get_if<PhysHull>(&physical->shape)) read_vertices(hull->vertices, b);
        if (const auto* mesh = std::get_if<PhysMesh>(&physical->shape)) {
          read_vertices(mesh->vertices, b);
          mesh->read_indices(b);
        }
      }
    },
    [](Bytes b) {
      if (const auto sound = decoded(parse_win32_sound, b)) {
        text_of(sound->name, b);
        text_of(sound->sound_file, b);
      }
    },
};

inline void decode_with(std::size_t decoder, Bytes bytes) { kDecoders[decoder](bytes); }

inline void decode_all(Bytes bytes) {
  for (std::size_t i = 0; i < std::size(kDecoders); ++i) decode_with(i, bytes);
}

}  // namespace lumivex::fuzz
