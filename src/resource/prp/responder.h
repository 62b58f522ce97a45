#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/uoid.h"

namespace lumivex {

struct OneShotCallback {
  std::string name;
  std::optional<Uoid> key;
  uint16_t value = 0;
};

// One command: a stored message and the index of the command it waits on.
// Fields that belong to one message class keep their defaults otherwise.
struct ResponderCmd {
  uint16_t class_id = 0;
  uint8_t wait_on = 0;
  std::vector<Uoid> receivers;
  std::vector<Uoid> notify_receivers;
  std::vector<OneShotCallback> one_shot_callbacks;
  std::optional<std::string> name;
  uint32_t anim_command_word = 0;
  uint32_t sound_command_word = 0;
  uint32_t sound_value = 0xFFFFFFFF;
  uint32_t timer_value = 0xFFFFFFFF;
  float timer_time = 0.0f;
  uint32_t enable_command_word = 0;
};

struct ResponderState {
  std::vector<ResponderCmd> commands;
  uint8_t value_a = 0;
  uint8_t value_b = 0;
};

// The trailer defaults stand when decoding stopped early.
struct ResponderModData {
  std::optional<Uoid> self_key;
  std::vector<ResponderState> states;
  uint8_t cur_state = 0;
  bool enabled = true;
  uint8_t last_byte = 1;
};

// One plResponderModifier object's complete bytes, class index included. A
// command that cannot be read (an unknown message class, or damaged or
// missing bytes) ends decoding early with what was read before it, and is
// logged at debug level; everything outside the commands must be whole.
ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes);

}  // namespace lumivex
