#include <vector>

#include "check.h"
#include "core/log.h"

using namespace lumivex;

TEST(log_is_silent_by_default) {
  CHECK(log::max_level() == log::Level::Off);
  CHECK(!log::enabled(log::Level::Error));
}

TEST(log_delivers_records_up_to_the_maximum_level) {
  std::vector<log::Record> records;
  log::set_sink([&](const log::Record& r) { records.push_back(r); });
  log::set_max_level(log::Level::Warn);
  log::write(log::Level::Warn, "lumivex::test", [] { return std::string("kept"); });
  log::write(log::Level::Debug, "lumivex::test", [] { return std::string("dropped"); });
  log::set_max_level(log::Level::Off);
  log::set_sink(nullptr);
  REQUIRE(records.size() == 1);
  CHECK(records[0].level == log::Level::Warn);
  CHECK_EQ(records[0].target, "lumivex::test");
  CHECK_EQ(records[0].message, "kept");
}
