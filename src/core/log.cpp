#include "core/log.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace lumivex::log {
namespace {

std::atomic<int> g_max_level{static_cast<int>(Level::Off)};
std::mutex g_sink_mutex;
// Shared with the records in flight: a sink runs outside the lock, so that
// it may wait for another lock (a host's) that an emitting thread holds.
std::shared_ptr<const Sink> g_sink;

}  // namespace

void set_sink(Sink sink) {
  std::shared_ptr<const Sink> installed = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  std::lock_guard lock(g_sink_mutex);
  g_sink.swap(installed);
}

void set_max_level(Level level) { g_max_level.store(static_cast<int>(level), std::memory_order_relaxed); }

Level max_level() { return static_cast<Level>(g_max_level.load(std::memory_order_relaxed)); }

bool enabled(Level level) {
  return level != Level::Off && static_cast<int>(level) <= g_max_level.load(std::memory_order_relaxed);
}

void emit(Level level, std::string_view target, std::string message) {
  if (!enabled(level)) return;
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard lock(g_sink_mutex);
    sink = g_sink;
  }
  if (sink) (*sink)(Record{level, target, std::move(message)});
}

}  // namespace lumivex::log
