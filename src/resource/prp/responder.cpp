#include "resource/prp/responder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <type_traits>

#include "core/log.h"
#include "resource/prp/bit_vector.h"
#include "resource/prp/message.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// What a command's message holds after its message base, one kind for each
// message class a responder command may hold.
enum class MessageBody : uint8_t {
  Unknown,
  AnimCmd,
  Camera,
  TimerCallback,
  Enable,
  Sound,
  Notify,
  ResponderEnable,
  Responder,
  OneShot,
  AGCmd,
  ExcludeRegion,
  ArmatureEffectState,
  SubWorld,
  SimSuppress,
};

struct MessageClass {
  uint16_t class_id;
  MessageBody body;
};

// The message classes a responder command may hold.
constexpr std::array<MessageClass, 14> kMessageClasses = {{
    {0x0206, MessageBody::AnimCmd},
    {0x020A, MessageBody::Camera},
    {0x024F, MessageBody::TimerCallback},
    {0x0254, MessageBody::Enable},
    {0x025A, MessageBody::Sound},
    {0x02ED, MessageBody::Notify},
    {0x0302, MessageBody::ResponderEnable},
    {0x0306, MessageBody::Responder},
    {0x0307, MessageBody::OneShot},
    {0x0332, MessageBody::AGCmd},
    {0x0335, MessageBody::ExcludeRegion},
    {0x0393, MessageBody::ArmatureEffectState},
    {0x03BF, MessageBody::SubWorld},
    {0x0453, MessageBody::SimSuppress},
}};

// Each class's body, indexed by class id from the lowest. A table rather
// than a switch over the ids: the classes of the commands follow no pattern,
// and the search a switch compiles to costs a mispredicted branch at each of
// its steps, the table one jump in all.
constexpr uint16_t kLowestMessageClass = kMessageClasses.front().class_id;
constexpr auto kMessageBodies = [] {
  std::array<MessageBody, kMessageClasses.back().class_id - kLowestMessageClass + 1> bodies{};
  for (const MessageClass& known : kMessageClasses) bodies[known.class_id - kLowestMessageClass] = known.body;
  return bodies;
}();

[[gnu::always_inline]] inline MessageBody message_body(uint16_t class_id) {
  const auto index = static_cast<uint16_t>(class_id - kLowestMessageClass);
  return index < kMessageBodies.size() ? kMessageBodies[index] : MessageBody::Unknown;
}

// Bytes each message body steps over, named by where they lie: each must be
// present, and nothing reads them.
constexpr uint64_t kAnimCmdRunBeforeName = 28;                     // after the command bit vector
constexpr uint64_t kCameraRunBeforeKeys = 9;                       // after the bit vector
constexpr uint64_t kCameraRunAfterKeys = 45;                       // after the two key references
constexpr uint64_t kTimerBody = sizeof(uint32_t) + sizeof(float);  // a u32 value and an f32 time
constexpr uint64_t kSoundRunBeforeValue = 30;                      // after the command bit vector
constexpr uint64_t kSoundRunAfterValue = 13;
constexpr uint64_t kSoundBody = kSoundRunBeforeValue + sizeof(uint32_t) + kSoundRunAfterValue;  // with a u32 value
constexpr uint64_t kNotifyRunBeforeEvents = 12;  // after the message base
constexpr uint64_t kResponderEnableBody = 1;
constexpr uint64_t kAGCmdRunBeforeName = 16;  // after the bit vector
constexpr uint64_t kExcludeRegionBody = 5;
constexpr uint64_t kArmatureEffectStateBody = 2;
constexpr uint64_t kSimSuppressBody = 1;
// A state's waits: a pair of bytes each.
constexpr uint64_t kWaitSize = 2 * sizeof(uint8_t);

// Bytes that follow each known notify event type, by type; 0 for a type that
// is not known, which ends the event list. A table rather than a switch: the
// types of a list follow no pattern a branch could learn.
constexpr std::array<uint8_t, 10> kNotifyEventSizes = {0, 2, 13, 5, 0, 0, 0, 2, 4, 4};

[[gnu::always_inline]] inline void skip_notify_events(PlasmaRead& reader) {
  const uint32_t count = reader.read_u32();
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t type = reader.read_u32();
    const uint8_t size = type < kNotifyEventSizes.size() ? kNotifyEventSizes[type] : 0;
    if (size == 0) return;
    reader.skip(size);
  }
}

OneShotCallback read_one_shot_callback(PlasmaRead& reader) {
  OneShotCallback callback;
  callback.name = reader.locate_safe_string();
  callback.key = read_key_uoid(reader);
  callback.value = reader.read_u16();
  return callback;
}

// Steps over what read_one_shot_callback reads, failing where it would.
[[gnu::always_inline]] inline void skip_one_shot_callback(PlasmaRead& reader) {
  reader.skip_safe_string();
  skip_key_uoid(reader);
  reader.skip(sizeof(OneShotCallback::value));
}

[[gnu::always_inline]] inline StoredList<OneShotCallback> locate_one_shot_callbacks(PlasmaRead& reader) {
  const StoredList<OneShotCallback> callbacks = reader.locate_list<OneShotCallback>(reader.read_u32());
  for (uint32_t i = 0; i < callbacks.count; ++i) skip_one_shot_callback(reader);
  return callbacks;
}

// Steps over the message of a command of class class_id, which has been
// read; false when the class is not one a responder command is known to hold.
// Keeps its receivers, and the lists and name its class holds, in cmd unless
// that is null: the decode reads commands only to find where each ends.
// Tells marks where the keys lie that nothing keeps.
template <class Marks>
[[gnu::always_inline]] inline bool locate_message(PlasmaRead& reader, uint16_t class_id, ResponderCmd* cmd,
                                                  Marks& marks) {
  const MessageBody body = message_body(class_id);
  if (body == MessageBody::Unknown) return false;
  const KeyList receivers = read_msg_base(reader, marks).receivers;
  if (cmd) cmd->receivers = receivers;
  switch (body) {
    case MessageBody::AnimCmd:
      skip_callback_messages(reader, marks);
      skip_bit_vector(reader);  // the command
      reader.skip(kAnimCmdRunBeforeName);
      if (cmd)
        cmd->name = reader.locate_safe_string();
      else
        reader.skip_safe_string();
      reader.skip_safe_string();
      break;
    case MessageBody::Camera:
      skip_bit_vector(reader);
      reader.skip(kCameraRunBeforeKeys);
      marks.unread_key(reader.position());
      skip_key_uoid(reader);
      marks.unread_key(reader.position());
      skip_key_uoid(reader);
      reader.skip(kCameraRunAfterKeys);
      break;
    case MessageBody::TimerCallback:
      reader.skip(kTimerBody);
      break;
    case MessageBody::Enable:
      skip_bit_vector(reader);  // the command
      skip_bit_vector(reader);
      break;
    case MessageBody::Sound:
      skip_callback_messages(reader, marks);
      skip_bit_vector(reader);  // the command
      reader.skip(kSoundBody);
      break;
    case MessageBody::Notify:
      if (cmd) cmd->notify_receivers = receivers;
      reader.skip(kNotifyRunBeforeEvents);
      skip_notify_events(reader);
      break;
    case MessageBody::ResponderEnable:
      reader.skip(kResponderEnableBody);
      break;
    case MessageBody::Responder:
      break;
    case MessageBody::OneShot:
      if (cmd)
        cmd->one_shot_callbacks = locate_one_shot_callbacks(reader);
      else
        locate_one_shot_callbacks(reader);
      break;
    case MessageBody::AGCmd:
      skip_bit_vector(reader);
      reader.skip(kAGCmdRunBeforeName);
      if (cmd)
        cmd->name = reader.locate_safe_string();
      else
        reader.skip_safe_string();
      break;
    case MessageBody::ExcludeRegion:
      reader.skip(kExcludeRegionBody);
      break;
    case MessageBody::ArmatureEffectState:
      reader.skip(kArmatureEffectStateBody);
      break;
    case MessageBody::SubWorld:
      marks.unread_key(reader.position());
      skip_key_uoid(reader);
      break;
    case MessageBody::SimSuppress:
      reader.skip(kSimSuppressBody);
      break;
    case MessageBody::Unknown:
      break;
  }
  return true;
}

// Reads a command's class id and locates its message, up to, not including,
// its wait_on byte, keeping in cmd what locate_message keeps; false when it
// cannot be read, which ends decoding early. Only the decode logs the stop:
// reading the lists again meets it again.
template <class Marks>
[[gnu::always_inline]] inline bool locate_command(PlasmaRead& reader, ResponderCmd* cmd, bool log_stop, Marks& marks) {
  try {
    const uint16_t class_id = reader.read_u16();
    if (cmd) cmd->class_id = class_id;
    if (locate_message(reader, class_id, cmd, marks)) return true;
    if (log_stop)
      log::write(log::Level::Debug, log::kPageObjectsTarget, [class_id] {
        char text[48];
        std::snprintf(text, sizeof text, "Unknown responder command class 0x%04X", class_id);
        return std::string(text);
      });
  } catch (const Error& e) {
    if (log_stop)
      log::write(log::Level::Debug, log::kPageObjectsTarget,
                 [&] { return "Responder cmd parse error: " + e.message(); });
  }
  return false;
}

// The readers of a state and of what it holds are forced into their callers:
// where the cursor is the caller's own, as in the decode, it then stays in
// registers instead of being stored and loaded at every read. Each command
// read whole marks where its receivers lie.
template <class Marks>
[[gnu::always_inline]] inline bool step_over_state(PlasmaRead& reader, ResponderState& state, bool log_stop,
                                                   Marks& marks) {
  // The state's three bytes fail alike: one step takes them.
  const uint8_t* head = reader.read_bytes(3 * sizeof(uint8_t)).data();
  state.callback_count = head[0];
  state.switch_to_state = head[1];
  const uint8_t command_count = head[2];
  state.commands = reader.locate_list<ResponderCmd>(0);
  for (unsigned c = 0; c < command_count; ++c) {
    if constexpr (std::is_same_v<Marks, NoMarks>) {
      if (!locate_command(reader, nullptr, log_stop, marks)) return false;
    } else {
      ResponderCmd cmd;
      if (!locate_command(reader, &cmd, log_stop, marks)) return false;
      PlasmaRead receivers = reader;
      receivers.set_position(cmd.receivers.offset);
      for (uint32_t i = 0; i < cmd.receivers.count; ++i) skip_key_uoid(receivers);
      marks.mark("receiver_keys", cmd.receivers.offset, receivers.position(), StoredAs::FlatKeys, cmd.receivers.count);
    }
    reader.read_u8();  // wait_on
    ++state.commands.count;
  }
  const uint8_t wait_count = reader.read_u8();
  reader.skip(uint64_t{wait_count} * kWaitSize);
  return true;
}

}  // namespace

bool locate_state(PlasmaRead& reader, ResponderState& state, bool log_stop) {
  NoMarks marks;
  return step_over_state(reader, state, log_stop, marks);
}

std::vector<OneShotCallback> read_items(const StoredList<OneShotCallback>& callbacks, const Source& source) {
  return source.items(callbacks, read_one_shot_callback);
}

std::vector<ResponderCmd> read_items(const StoredList<ResponderCmd>& commands, const Source& source) {
  return source.items(commands, [](PlasmaRead& reader) {
    ResponderCmd cmd;
    NoMarks marks;
    locate_command(reader, &cmd, false, marks);
    cmd.wait_on = reader.read_u8();
    return cmd;
  });
}

std::vector<ResponderState> read_items(const StoredList<ResponderState>& states, const Source& source) {
  return source.items(states, [](PlasmaRead& reader) {
    ResponderState state;
    locate_state(reader, state, false);
    return state;
  });
}

template <class Marks>
ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  // The class index is not examined.
  reader.skip(kClassIndexSize);
  ResponderModData data;
  data.self_key = locate_key(reader);
  skip_synched_object(reader);
  skip_bit_vector(reader);

  const uint8_t state_count = reader.read_u8();
  data.states = reader.locate_list<ResponderState>(0);
  for (unsigned s = 0; s < state_count; ++s) {
    ResponderState state;
    ++data.states.count;
    // Stopped: the trailer keeps its defaults.
    if (!step_over_state(reader, state, true, marks)) {
      data.stopped = true;
      return data;
    }
  }
  const uint64_t trailer_at = reader.position();
  data.cur_state = reader.read_u8();
  marks.mark("cur_state", trailer_at, reader.position(), StoredAs::Itself);
  const uint64_t enabled_at = reader.position();
  data.enabled = reader.read_u8() != 0;
  marks.mark("enabled", enabled_at, reader.position(), StoredAs::Itself);
  data.flags = reader.read_u8();
  return data;
}

template ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes, FieldMarks& marks);

ResponderModData parse_responder_modifier(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_responder_modifier(object_bytes, marks);
}

}  // namespace lumivex
