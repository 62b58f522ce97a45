#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace lumivex::log {

// Levels from most to least severe; Off emits nothing.
enum class Level { Off = 0, Error, Warn, Info, Debug, Trace };

struct Record {
  Level level;
  std::string_view target;  // the emitting module, "lumivex::resource::prp"
  std::string message;
};

using Sink = std::function<void(const Record&)>;

// The emitting modules' targets.
inline constexpr std::string_view kPageObjectsTarget = "lumivex::resource::prp";
inline constexpr std::string_view kStateDescriptorTarget = "lumivex::sdl::descriptor";

// The process-wide facade: no sink and maximum level Off by default, so
// nothing is emitted until a host installs a sink and raises the level. The
// sink is called on the emitting thread, outside the facade's lock; a record
// emitted while set_sink replaces it may still reach the sink it replaces.
void set_sink(Sink sink);
void set_max_level(Level level);
Level max_level();
bool enabled(Level level);
void emit(Level level, std::string_view target, std::string message);

// Formats only when the level is enabled.
template <class MakeMessage>
void write(Level level, std::string_view target, MakeMessage&& make_message) {
  if (enabled(level)) emit(level, target, make_message());
}

}  // namespace lumivex::log
