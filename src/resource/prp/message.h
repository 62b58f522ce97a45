#pragma once

#include "core/key_list.h"
#include "core/stream.h"

namespace lumivex {

// The prefix every stored engine message begins with.
struct MsgBase {
  StoredKey sender;
  KeyList receivers;  // its present references are the message's receivers
};

// Both read at the reader's position and leave it just after what they read.
MsgBase read_msg_base(PlasmaRead& reader);
// A message base followed by callback messages, which are stepped over.
MsgBase read_msg_with_callbacks(PlasmaRead& reader);

}  // namespace lumivex
