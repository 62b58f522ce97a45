#include "core/log.h"

#include <atomic>
#include <mutex>

namespace lumivex::log {
namespace {

std::atomic<int> g_max_level{static_cast<int>(Level::Off)};
std::mutex g_sink_mutex;
Sink g_sink;

}  // namespace

void set_sink(Sink sink) {
  std::lock_guard lock(g_sink_mutex);
  g_sink = std::move(sink);
}

void set_max_level(Level level) { g_max_level.store(static_cast<int>(level), std::memory_order_relaxed); }

Level max_level() { return static_cast<Level>(g_max_level.load(std::memory_order_relaxed)); }

bool enabled(Level level) {
  return level != Level::Off && static_cast<int>(level) <= g_max_level.load(std::memory_order_relaxed);
}

void emit(Level level, std::string_view target, std::string message) {
  if (!enabled(level)) return;
  std::lock_guard lock(g_sink_mutex);
  if (g_sink) g_sink(Record{level, target, std::move(message)});
}

}  // namespace lumivex::log
