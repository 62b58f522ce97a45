#pragma once

#include <cstdint>
#include <type_traits>

#include "core/key_list.h"
#include "core/stream.h"
#include "resource/prp/field_marks.h"

namespace lumivex {

// The prefix every stored engine message begins with.
struct MsgBase {
  StoredKey sender;
  KeyList receivers;  // its present references are the message's receivers
};

// Bytes after the receivers that no reader here needs: the timestamp, a
// double, and the broadcast flags.
inline constexpr uint64_t kMsgBaseTail = sizeof(double) + sizeof(uint32_t);
// A callback entry after its message base: the event time, then the event,
// its index, its repeat count and a user value, 16-bit each.
inline constexpr uint64_t kCallbackTail = sizeof(float) + 4 * sizeof(uint16_t);

// Reads at the reader's position and leaves it just after what it read,
// telling marks where the sender lies. Defined here, as the key readers are,
// so that the responder's decode inlines it and keeps its cursor in
// registers.
template <class Marks>
inline MsgBase read_msg_base(PlasmaRead& reader, Marks& marks) {
  MsgBase msg;
  marks.unread_key(reader.position());
  msg.sender = locate_key(reader);
  msg.receivers = locate_key_list(reader, reader.read_u32());
  reader.skip(kMsgBaseTail);
  return msg;
}

// Steps over the callback messages that follow the message base of some
// classes, telling marks where their keys lie.
template <class Marks>
inline void skip_callback_messages(PlasmaRead& reader, Marks& marks) {
  const uint32_t callbacks = reader.read_u32();
  for (uint32_t i = 0; i < callbacks; ++i) {
    // A negative class id (the null class 0x8000 among them) has no body.
    if (reader.read_i16() < 0) continue;
    const KeyList receivers = read_msg_base(reader, marks).receivers;
    if constexpr (!std::is_same_v<Marks, NoMarks>) {
      PlasmaRead receiver = reader;
      receiver.set_position(receivers.offset);
      for (uint32_t r = 0; r < receivers.count; ++r) {
        marks.unread_key(receiver.position());
        skip_key_uoid(receiver);
      }
    }
    reader.skip(kCallbackTail);
  }
}

}  // namespace lumivex
