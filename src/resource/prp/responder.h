#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/key_list.h"

namespace lumivex {

// Names, key lists and the lists of states, commands and callbacks are
// located in the object's bytes; each list is read again when asked for.
struct OneShotCallback {
  StoredString name;
  std::optional<Uoid> key;
  uint16_t value = 0;
};

// One command: a stored message and the index of the command it waits on.
// Lists that belong to one message class stay empty otherwise. The values of
// the message bodies are read over: nothing shows them.
struct ResponderCmd {
  uint16_t class_id = 0;
  uint8_t wait_on = 0;
  KeyList receivers;
  KeyList notify_receivers;
  StoredList<OneShotCallback> one_shot_callbacks;
  std::optional<StoredString> name;

  std::vector<OneShotCallback> read_one_shot_callbacks(const Source& source) const;
};

// The commands are those read whole; a command that could not be read, and
// everything after it, is not among them. value_a and value_b are the two
// bytes that begin a state.
struct ResponderState {
  StoredList<ResponderCmd> commands;
  uint8_t value_a = 0;
  uint8_t value_b = 0;

  std::vector<ResponderCmd> read_commands(const Source& source) const;
};

// The trailer defaults stand when decoding stopped early; the states are
// then those begun, the last of them holding the commands before the stop.
struct ResponderModData {
  StoredKey self_key;
  StoredList<ResponderState> states;
  uint8_t cur_state = 0;
  bool enabled = true;
  uint8_t last_byte = 1;  // the trailer's third byte

  std::vector<ResponderState> read_states(const Source& source) const;
  // The receivers and one-shot callback keys of every command, in stored
  // order: "states[0].commands[1].receivers[0]".
  std::vector<KeyReference> references(const Source& source) const;
  // Reads back everything the record locates; after a decode that succeeded
  // this cannot fail.
  void read_all_located(const Source& source) const;
};

// One plResponderModifier object's complete bytes, class index included. A
// command that cannot be read (an unknown message class, or damaged or
// missing bytes) ends decoding early with what was read before it, and is
// logged at debug level; everything outside the commands must be whole.
ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes);

// Reads a state's two values and steps over its commands and wait pairs,
// locating the commands read whole in state.commands. False when a command
// cannot be read, which ends the state there: the reader then stands after
// an unknown class id, or at the end of the data. Logs that stop when
// log_stop is set. The decode steps over states with it, and read_states
// reads them again with it.
bool locate_state(PlasmaRead& reader, ResponderState& state, bool log_stop);

}  // namespace lumivex
