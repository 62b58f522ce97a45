#include <string>
#include <vector>

#include "check.h"
#include "core/log.h"
#include "resource/prp/python_file_mod.h"
#include "resource/prp/responder.h"

using namespace lumivex;

namespace {

// Collects records while alive; restores the silent default afterwards.
struct CapturedLog {
  std::vector<log::Record> records;
  explicit CapturedLog(log::Level level) {
    log::set_sink([this](const log::Record& r) { records.push_back(r); });
    log::set_max_level(level);
  }
  ~CapturedLog() {
    log::set_max_level(log::Level::Off);
    log::set_sink(nullptr);
  }
};

// Class index, absent own key, synched flags 0 and an empty bit vector.
PlasmaWrite object_start(uint16_t class_type) {
  PlasmaWrite w;
  w.write_u16(class_type);
  w.write_u8(0);
  w.write_u32(0);
  w.write_u32(0);
  return w;
}

std::vector<uint8_t> python_file_mod_with_unknown_types() {
  PlasmaWrite w = object_start(0x00A2);
  w.write_safe_string("xScript");
  w.write_u32(0);  // receivers
  w.write_u32(2);
  for (uint32_t type : {0xFFFFFFFBu, 25u}) {
    w.write_u32(type);  // the id
    w.write_u32(type);
  }
  return w.take_bytes();
}

// One state whose only command is of class_id, followed by extra bytes.
std::vector<uint8_t> responder_with_command(uint16_t class_id, std::vector<uint8_t> extra) {
  PlasmaWrite w = object_start(0x007C);
  w.write_u8(1);
  w.write_u8(0);
  w.write_u8(0);
  w.write_u8(1);
  w.write_u16(class_id);
  w.write_bytes(extra);
  return w.take_bytes();
}

void check_stopped(const ResponderModData& data) {
  CHECK_EQ(data.states.size(), 1u);
  CHECK(data.states[0].commands.empty());
  CHECK_EQ(int{data.cur_state}, 0);
  CHECK(data.enabled);
  CHECK_EQ(int{data.last_byte}, 1);
}

}  // namespace

TEST(unknown_parameter_type_is_a_warning) {
  CapturedLog log(log::Level::Trace);
  const PythonFileModData data = parse_python_file_mod(python_file_mod_with_unknown_types());
  CHECK_EQ(data.params.size(), 2u);
  CHECK(std::holds_alternative<std::monostate>(data.params[0].value));
  CHECK_EQ(log.records.size(), 2u);
  if (log.records.size() != 2) return;
  CHECK(log.records[0].level == log::Level::Warn);
  CHECK_EQ(log.records[0].target, "lumivex::resource::prp");
  CHECK_EQ(log.records[0].message, "Unknown plPythonParameter type -5");
  CHECK_EQ(log.records[1].message, "Unknown plPythonParameter type 25");
}

TEST(responder_unknown_command_class_is_logged_at_debug) {
  CapturedLog log(log::Level::Debug);
  check_stopped(parse_responder_modifier(responder_with_command(0x0001, {3, 1, 0})));
  CHECK_EQ(log.records.size(), 1u);
  if (log.records.empty()) return;
  CHECK(log.records[0].level == log::Level::Debug);
  CHECK_EQ(log.records[0].target, "lumivex::resource::prp");
  CHECK_EQ(log.records[0].message, "Unknown responder command class 0x0001");
}

TEST(responder_command_cut_short_is_logged_at_debug) {
  CapturedLog log(log::Level::Debug);
  // A plResponderMsg whose message base ends after its absent sender.
  check_stopped(parse_responder_modifier(responder_with_command(0x0306, {0})));
  CHECK_EQ(log.records.size(), 1u);
  if (log.records.empty()) return;
  CHECK(log.records[0].level == log::Level::Debug);
  CHECK_EQ(log.records[0].message, "Responder cmd parse error: failed to fill whole buffer");
}

TEST(decoder_records_respect_the_level) {
  CapturedLog warnings_only(log::Level::Warn);
  parse_responder_modifier(responder_with_command(0x0ABC, {}));
  CHECK(warnings_only.records.empty());
  log::set_max_level(log::Level::Off);
  parse_python_file_mod(python_file_mod_with_unknown_types());
  CHECK(warnings_only.records.empty());
}
