#include <vector>

#include "check.h"
#include "core/log.h"
#include "resource/prp/python_file_mod.h"
#include "resource/prp/responder.h"

using namespace lumivex;

namespace {

// Collects records while alive, then restores the silent default.
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
  bool has_one(log::Level level, const std::string& message) const {
    return records.size() == 1 && records[0].level == level && records[0].target == "lumivex::resource::prp" &&
           records[0].message == message;
  }
};

// Class index, absent own key, synched flags 0, an empty bit vector, then the
// given u8 values.
std::vector<uint8_t> object(uint16_t class_type, std::vector<uint8_t> rest) {
  PlasmaWrite w;
  w.write_u16(class_type);
  w.write_bytes(std::vector<uint8_t>(9, 0));
  w.write_bytes(rest);
  return w.take_bytes();
}

// One parameter, id 1, of the given type code and no data.
std::vector<uint8_t> python_file_mod(uint32_t type_code) {
  std::vector<uint8_t> rest = {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  for (int shift = 0; shift < 32; shift += 8) rest.push_back(static_cast<uint8_t>(type_code >> shift));
  return object(0x00A2, rest);
}

// One state whose command is the given class id and bytes.
std::vector<uint8_t> responder(uint16_t class_id, std::vector<uint8_t> body) {
  std::vector<uint8_t> rest = {1, 0, 0, 1, static_cast<uint8_t>(class_id), static_cast<uint8_t>(class_id >> 8)};
  rest.insert(rest.end(), body.begin(), body.end());
  return object(0x007C, rest);
}

void check_stopped(const std::vector<uint8_t>& bytes) {
  const ResponderModData data = parse_responder_modifier(bytes);
  const auto states = data.read_states(Source(bytes));
  REQUIRE(states.size() == 1);
  CHECK(states[0].commands.count == 0);
  CHECK(data.cur_state == 0 && data.enabled && data.flags == 1);
}

}  // namespace

TEST(unknown_parameter_type_is_a_warning) {
  CapturedLog log(log::Level::Trace);
  const auto bytes = python_file_mod(0xFFFFFFFB);
  const auto params = parse_python_file_mod(bytes).read_params(Source(bytes));
  REQUIRE(params.size() == 1);
  CHECK(std::holds_alternative<std::monostate>(params[0].value));
  // Reading the list again does not log again.
  CHECK(log.has_one(log::Level::Warn, "Unknown plPythonParameter type -5"));
}

TEST(responder_stopping_early_is_a_debug_record) {
  {
    CapturedLog log(log::Level::Debug);
    check_stopped(responder(0x0001, {3, 1, 0}));
    CHECK(log.has_one(log::Level::Debug, "Unknown responder command class 0x0001"));
  }
  {
    CapturedLog log(log::Level::Debug);
    // A plResponderMsg whose message base ends after its absent sender.
    check_stopped(responder(0x0306, {0}));
    CHECK(log.has_one(log::Level::Debug, "Responder cmd parse error: failed to fill whole buffer"));
  }
}

TEST(decoder_records_respect_the_level) {
  CapturedLog log(log::Level::Warn);
  parse_responder_modifier(responder(0x0ABC, {}));
  log::set_max_level(log::Level::Off);
  parse_python_file_mod(python_file_mod(25));
  CHECK(log.records.empty());
}
