#include <bit>
#include <cmath>
#include <vector>

#include "check.h"
#include "resource/prp/physical.h"
#include "resource/prp/responder.h"

using namespace lumivex;

namespace {

void write_f32(PlasmaWrite& w, float v) { w.write_u32(std::bit_cast<uint32_t>(v)); }

Quaternion quat_of(float x, float y, float z, float w) {
  PlasmaWrite out;
  for (float v : {x, y, z, w}) write_f32(out, v);
  PlasmaRead reader(out.bytes());
  return read_quat(reader);
}

// A message base: absent sender, one present receiver named name, 12 bytes.
void write_msg_base(PlasmaWrite& w, const char* name) {
  w.write_u8(0);
  w.write_u32(1);
  w.write_u8(1);
  w.write_u8(0);
  w.write_u32(0);
  w.write_u16(0);
  w.write_u16(0x0001);
  w.write_u32(0);
  w.write_safe_string(name);
  for (int i = 0; i < 3; ++i) w.write_u32(0);
}

}  // namespace

TEST(zero_rotation_reads_as_identity) {
  CHECK_EQ(quat_of(0, 0, 0, 0).w, 1.0f);
  CHECK_EQ(quat_of(-0.0f, 0.0f, -0.0f, -0.0f).w, 1.0f);
  CHECK_EQ(quat_of(0, 0, 0, 2).w, 2.0f);
  const Quaternion kept = quat_of(0, 0, 0.5f, 0);
  CHECK_EQ(kept.z, 0.5f);
  CHECK_EQ(kept.w, 0.0f);
}

TEST(responder_commands_keep_their_class_fields) {
  PlasmaWrite w;
  w.write_u16(0x007C);
  w.write_u8(0);   // own key
  w.write_u32(0);  // synched flags
  w.write_u32(0);  // bit vector
  w.write_u8(1);
  w.write_u8(4);
  w.write_u8(5);
  w.write_u8(3);
  // plTimerCallbackMsg
  w.write_u16(0x024F);
  write_msg_base(w, "Timer");
  w.write_u32(3);
  write_f32(w, 1.5f);
  w.write_u8(9);
  // plNotifyMsg without events
  w.write_u16(0x02ED);
  write_msg_base(w, "Notified");
  for (int i = 0; i < 4; ++i) w.write_u32(0);
  w.write_u8(0);
  // plEnableMsg: command word 2, then a second bit vector
  w.write_u16(0x0254);
  write_msg_base(w, "Enabled");
  w.write_u32(1);
  w.write_u32(2);
  w.write_u32(0);
  w.write_u8(1);
  w.write_u8(0);  // waits
  for (uint8_t b : {2, 0, 8}) w.write_u8(b);

  const ResponderModData data = parse_responder_modifier(w.bytes());
  CHECK_EQ(data.states.size(), 1u);
  if (data.states.size() != 1 || data.states[0].commands.size() != 3) return;
  CHECK_EQ(int{data.states[0].value_a}, 4);
  CHECK_EQ(int{data.states[0].value_b}, 5);
  const ResponderCmd& timer = data.states[0].commands[0];
  const ResponderCmd& notify = data.states[0].commands[1];
  const ResponderCmd& enable = data.states[0].commands[2];
  CHECK_EQ(timer.timer_value, 3u);
  CHECK_EQ(timer.timer_time, 1.5f);
  CHECK_EQ(int{timer.wait_on}, 9);
  CHECK_EQ(timer.receivers.size(), 1u);
  CHECK(timer.notify_receivers.empty());
  CHECK_EQ(notify.notify_receivers.size(), 1u);
  if (!notify.notify_receivers.empty()) CHECK_EQ(notify.notify_receivers[0].name, "Notified");
  CHECK_EQ(notify.timer_value, 0xFFFFFFFFu);
  CHECK_EQ(enable.enable_command_word, 2u);
  CHECK_EQ(enable.sound_value, 0xFFFFFFFFu);
  CHECK_EQ(int{data.cur_state}, 2);
  CHECK(!data.enabled);
  CHECK_EQ(int{data.last_byte}, 8);
}
