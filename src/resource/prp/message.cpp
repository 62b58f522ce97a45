#include "resource/prp/message.h"

namespace lumivex {
namespace {

// Bytes after the receivers that no reader here needs.
constexpr uint64_t kMsgBaseTail = 12;
// Bytes of a callback entry after its message base.
constexpr uint64_t kCallbackTail = 12;

}  // namespace

MsgBase read_msg_base(PlasmaRead& reader) {
  MsgBase msg;
  msg.sender = locate_key(reader);
  msg.receivers = locate_key_list(reader, reader.read_u32());
  reader.skip(kMsgBaseTail);
  return msg;
}

MsgBase read_msg_with_callbacks(PlasmaRead& reader) {
  MsgBase msg = read_msg_base(reader);
  const uint32_t callbacks = reader.read_u32();
  for (uint32_t i = 0; i < callbacks; ++i) {
    // A negative class id (the null class 0x8000 among them) has no body.
    if (reader.read_i16() < 0) continue;
    read_msg_base(reader);
    reader.skip(kCallbackTail);
  }
  return msg;
}

}  // namespace lumivex
