#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/key_list.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

// Names, key lists and the lists of states, commands and callbacks are
// located in the object's bytes; each list is read again when asked for.
struct OneShotCallback {
  StoredString name;
  std::optional<Uoid> key;
  uint16_t value = 0;
};

struct ResponderCmd;
struct ResponderState;
// Each list read again from the bytes it was located in.
std::vector<OneShotCallback> read_items(const StoredList<OneShotCallback>& callbacks, const Source& source);
std::vector<ResponderCmd> read_items(const StoredList<ResponderCmd>& commands, const Source& source);
std::vector<ResponderState> read_items(const StoredList<ResponderState>& states, const Source& source);

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

  std::vector<OneShotCallback> read_one_shot_callbacks(const Source& source) const {
    return read_items(one_shot_callbacks, source);
  }
};

// The commands are those read whole; a command that could not be read, and
// everything after it, is not among them.
struct ResponderState {
  StoredList<ResponderCmd> commands;
  uint8_t callback_count = 0;   // the callbacks the state waits for
  uint8_t switch_to_state = 0;  // the state that follows it

  std::vector<ResponderCmd> read_commands(const Source& source) const { return read_items(commands, source); }
};

// The trailer defaults stand when decoding stopped early; the states are
// then those begun, the last of them holding the commands before the stop.
struct ResponderModData {
  StoredKey self_key;
  StoredList<ResponderState> states;
  uint8_t cur_state = 0;
  bool enabled = true;
  uint8_t flags = 1;     // the trailer's third byte
  bool stopped = false;  // at a command that could not be read

  std::vector<ResponderState> read_states(const Source& source) const { return read_items(states, source); }
};

// A callback's key is shown as the callback itself:
// "states[0].commands[1].one_shot_callbacks[0]". A notify command's receivers
// are its message's receivers, stored once.
template <class Visit>
void visit_fields(const OneShotCallback& callback, Visit&& visit) {
  visit("name", callback.name);
  visit("", callback.key);
  visit("value", callback.value);
}
template <class Visit>
void visit_fields(const ResponderCmd& cmd, Visit&& visit) {
  visit("class_id", cmd.class_id);
  visit("receivers", cmd.receivers);
  visit("one_shot_callbacks", cmd.one_shot_callbacks);
  visit("name", cmd.name);
  visit("wait_on", cmd.wait_on);
}
template <class Visit>
void visit_fields(const ResponderState& state, Visit&& visit) {
  visit("callback_count", state.callback_count);
  visit("switch_to_state", state.switch_to_state);
  visit("commands", state.commands);
}
template <class Visit>
void visit_fields(const ResponderModData& data, Visit&& visit) {
  visit("name", data.self_key);
  visit("states", data.states);
  visit("cur_state", data.cur_state);
  visit("enabled", data.enabled);
  visit("flags", data.flags);
}

// One plResponderModifier object's complete bytes, class index included. A
// command that cannot be read (an unknown message class, or damaged or
// missing bytes) ends decoding early with what was read before it, and is
// logged at debug level; everything outside the commands must be whole.
ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes, Marks& marks);

// Reads a state's two values and steps over its commands and wait pairs,
// locating the commands read whole in state.commands. False when a command
// cannot be read, which ends the state there: the reader then stands after
// an unknown class id, or at the end of the data. Logs that stop when
// log_stop is set. The decode steps over states with it, and read_states
// reads them again with it.
bool locate_state(PlasmaRead& reader, ResponderState& state, bool log_stop);

}  // namespace lumivex
