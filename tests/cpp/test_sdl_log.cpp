#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "check.h"
#include "core/error.h"
#include "core/log.h"
#include "sdl/descriptor.h"

using namespace lumivex;

namespace {

constexpr std::string_view kTarget = "lumivex::sdl::descriptor";

struct TemporaryDirectory {
  TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumivex-sdl-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TemporaryDirectory() { std::filesystem::remove_all(path); }
  void write(const std::string& name, const std::string& text) const { std::ofstream(path + "/" + name) << text; }
  std::string path;
};

// Collects every record, at every level, while it lives.
struct Capture {
  Capture() {
    log::set_sink([this](const log::Record& r) { records.push_back(r); });
    log::set_max_level(log::Level::Trace);
  }
  ~Capture() {
    log::set_max_level(log::Level::Off);
    log::set_sink(nullptr);
  }
  std::vector<log::Record> records;
};

}  // namespace

TEST(sdl_directory_logs_each_failed_file_and_the_total) {
  TemporaryDirectory dir;
  dir.write("good.sdl", "STATEDESC A\n{\nVERSION 1\n}\nSTATEDESC B\n{\n}\n");
  dir.write("bad.sdl", "STATEDESC \xFF\n");
  std::filesystem::create_directory(dir.path + "/folder.sdl");
  dir.write("skip.txt", "STATEDESC C\n{\n}\n");
  Capture capture;
  CHECK_EQ(SdlManager().load_directory(dir.path), 2u);
  const auto& records = capture.records;
  REQUIRE(records.size() == 3);
  std::vector<std::string> warnings;
  for (const auto& r : records) {
    CHECK_EQ(r.target, kTarget);
    if (r.level == log::Level::Warn) warnings.push_back(r.message);
  }
  std::sort(warnings.begin(), warnings.end());
  const std::vector<std::string> expected = {
      "Failed to load \"" + dir.path + "/bad.sdl\": Failed to read " + dir.path + "/bad.sdl",
      "Failed to load \"" + dir.path + "/folder.sdl\": Failed to read " + dir.path + "/folder.sdl",
  };
  CHECK(warnings == expected);
  CHECK(records.back().level == log::Level::Info);
  CHECK_EQ(records.back().message, "Loaded 2 SDL descriptors from " + dir.path);
}

TEST(sdl_directory_warning_quotes_the_entry_path) {
  TemporaryDirectory dir;
  std::filesystem::create_directory(dir.path + "/q\"b\\\x01.sdl");
  Capture capture;
  SdlManager().load_directory(dir.path);
  REQUIRE(capture.records.size() == 2);
  CHECK_EQ(capture.records.front().message,
           "Failed to load \"" + dir.path + "/q\\\"b\\\\\\u{1}.sdl\": Failed to read " + dir.path + "/q\"b\\\x01.sdl");
}

TEST(sdl_directory_that_cannot_be_listed_logs_nothing) {
  Capture capture;
  try {
    SdlManager().load_directory("/nonexistent/lumivex");
    CHECK(false);
  } catch (const Error& e) {
    CHECK_EQ(e.message(), "No such file or directory (os error 2)");
  }
  CHECK(capture.records.empty());
}

TEST(sdl_directory_logs_nothing_by_default) {
  TemporaryDirectory dir;
  dir.write("bad.sdl", "\xFF");
  std::vector<log::Record> records;
  log::set_sink([&](const log::Record& r) { records.push_back(r); });
  SdlManager().load_directory(dir.path);
  log::set_sink(nullptr);
  CHECK(records.empty());
}
