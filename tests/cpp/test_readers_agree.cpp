// Every structure that more than one routine reads (one reads it, another
// steps over it or locates it, and the record reads it again later) is given
// to all of them at every cut of a valid encoding. They must succeed together
// or fail together, with the same message, and a reader that shows where it
// stopped ends where the encoding ends, or at the end of the cut bytes when it
// fails. Each encoding needs all of its bytes, so agreeing at every cut also
// means that readers which show no position (those reading a record's
// located values back) end where the others do.
#include <bit>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "core/key_list.h"
#include "core/stream.h"
#include "resource/prp/physical.h"
#include "resource/prp/python_file_mod.h"
#include "resource/prp/responder.h"

using namespace lumivex;

namespace {

using Bytes = std::vector<uint8_t>;

// What one reader did with one cut.
struct Outcome {
  bool failed = false;
  std::string error;                 // the message, when it failed with one
  std::optional<uint64_t> position;  // where it left its reader, when it shows that
  std::optional<std::string> value;  // what it read, in a form its structure's readers share
};

using Reader = std::function<Outcome(const Bytes&)>;
struct NamedReader {
  const char* name;
  Reader read;
};

// A reader over the cut bytes from start; read returns what it read, or
// nothing when it has nothing to compare.
template <class Read>
Outcome with_position(const Bytes& bytes, uint64_t start, Read&& read) {
  PlasmaRead reader(bytes, start);
  Outcome out;
  try {
    out.value = read(reader);
  } catch (const Error& e) {
    out.failed = true;
    out.error = e.message();
  }
  out.position = reader.position();
  return out;
}

// A read of located values back through a Source, which shows no position.
template <class Read>
Outcome read_back(Read&& read) {
  Outcome out;
  try {
    out.value = read();
  } catch (const Error& e) {
    out.failed = true;
    out.error = e.message();
  }
  return out;
}

// Outcome of a reader that stops rather than fails: false means it stopped.
Outcome stopped_unless(bool whole, Outcome out) {
  if (!whole && !out.failed) out.failed = true;
  return out;
}

// Runs every reader on every cut of whole from first_cut (the bytes before it
// are a fixed prefix the structure needs) and checks that they agree, and
// that those which read values read the expected one from the whole.
void check_readers_agree(const std::string& structure, const Bytes& whole, uint64_t first_cut,
                         const std::vector<NamedReader>& readers, const std::string& expected) {
  for (uint64_t cut = first_cut; cut <= whole.size(); ++cut) {
    const Bytes bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    std::vector<Outcome> outcomes;
    for (const NamedReader& reader : readers) outcomes.push_back(reader.read(bytes));
    const bool whole_read = cut == whole.size();
    for (std::size_t i = 0; i < readers.size(); ++i) {
      const Outcome& out = outcomes[i];
      const Outcome& first = outcomes[0];
      bool agrees = out.failed == !whole_read && out.failed == first.failed;
      if (out.failed && !out.error.empty() && !first.error.empty()) agrees = agrees && out.error == first.error;
      if (out.position) agrees = agrees && *out.position == cut;
      if (!out.failed && out.value) agrees = agrees && *out.value == expected;
      if (!agrees)
        std::cerr << structure << ", cut at " << cut << " of " << whole.size() << ": " << readers[i].name
                  << (out.failed ? " failed (" + out.error + ")" : " succeeded") << " at "
                  << (out.position ? std::to_string(*out.position) : "-") << ", value " << out.value.value_or("-")
                  << "; " << readers[0].name << (first.failed ? " failed (" + first.error + ")" : " succeeded")
                  << ", value " << first.value.value_or("-") << "; expected " << expected << "\n";
      CHECK(agrees);
    }
  }
}

// Encodings.

Bytes safe_string(uint16_t header, const Bytes& stored) {
  PlasmaWrite w;
  w.write_u16(header);
  w.write_bytes(stored);
  return w.take_bytes();
}

// A key reference with the given presence byte and contents flags.
Bytes key_reference(const std::string& name, uint8_t contents = 0x00, uint8_t presence = 0x01) {
  PlasmaWrite w;
  w.write_u8(presence);
  w.write_u8(contents);
  w.write_u32(7);  // location sequence
  w.write_u16(2);  // location flags
  if (contents & kHasLoadMask) w.write_u8(0x12);
  w.write_u16(0x0006);  // class type
  w.write_u32(42);      // object id
  w.write_safe_string(name);
  if (contents & kHasCloneIds) {
    w.write_u16(5);
    w.write_u16(0);
    w.write_u32(9);
  }
  return w.take_bytes();
}

const Bytes kAbsentKey = {0x00};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes u32_bytes(uint32_t v) {
  PlasmaWrite w;
  w.write_u32(v);
  return w.take_bytes();
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += name + ";";
  return out;
}

}  // namespace

TEST(safe_string_readers_agree) {
  const std::vector<std::pair<Bytes, std::string>> strings = {
      {safe_string(0x0000, {}), ""},
      {safe_string(0xF000, {}), ""},
      {safe_string(0xF001, {0xBE}), "A"},
      {safe_string(0xF003, {0x9E, 0x9D, 0x9C}), "abc"},
      {safe_string(0x0004, {'a', 'b', 'c', 0x00}), "abc"},
      {safe_string(0x0003, {'a', 0x00, 0x00}), std::string("a\0", 2)},
      {safe_string(0x1003, {'a', 'b', 'c'}), "abc"},
      {safe_string(0x0002, {0xC3, 0x28}), "\xEF\xBF\xBD("},
      {safe_string(0x0004, {'a', 0xFF, 'c', 0x00}),
       "a\xEF\xBF\xBD"
       "c"},
  };
  for (const auto& [whole, text] : strings) {
    check_readers_agree(
        "safe string", whole, 0,
        {{"read_safe_string",
          [](const Bytes& b) { return with_position(b, 0, [](PlasmaRead& r) { return r.read_safe_string(); }); }},
         {"skip_safe_string",
          [](const Bytes& b) {
            return with_position(b, 0, [](PlasmaRead& r) -> std::optional<std::string> {
              r.skip_safe_string();
              return std::nullopt;
            });
          }},
         {"locate_safe_string",
          [](const Bytes& b) {
            return with_position(b, 0, [&](PlasmaRead& r) { return Source(b).text(r.locate_safe_string()); });
          }},
         {"read_safe_string_bytes",
          [](const Bytes& b) {
            return with_position(b, 0, [](PlasmaRead& r) -> std::optional<std::string> {
              r.read_safe_string_bytes();
              return std::nullopt;
            });
          }}},
        text);
  }
}

TEST(key_reference_readers_agree) {
  std::vector<std::pair<Bytes, std::string>> keys = {
      {kAbsentKey, "absent"}, {key_reference("Marker", 0x00, 0x02), "Marker"}, {key_reference("", 0x03), ""}};
  for (uint8_t contents : {0x00, 0x01, 0x02, 0x03, 0xFC, 0xFF})
    keys.push_back({key_reference("Marker", contents), "Marker"});
  // A name stored without inversion.
  keys.push_back({concat({{0x01, 0x00, 7, 0, 0, 0, 2, 0, 6, 0, 42, 0, 0, 0}, safe_string(0x0002, {'o', 'k'})}), "ok"});
  for (const auto& [whole, name] : keys) {
    check_readers_agree("key reference", whole, 0,
                        {{"read_key_uoid",
                          [](const Bytes& b) {
                            return with_position(b, 0, [&](PlasmaRead& r) -> std::string {
                              const auto key = read_key_uoid(r);
                              return key ? Source(b).text(key->name) : "absent";
                            });
                          }},
                         {"read_key_name",
                          [](const Bytes& b) {
                            return with_position(b, 0, [&](PlasmaRead& r) -> std::string {
                              const auto name = read_key_name(r);
                              return name ? Source(b).text(*name) : "absent";
                            });
                          }},
                         {"skip_key_uoid",
                          [](const Bytes& b) {
                            return with_position(b, 0, [](PlasmaRead& r) -> std::optional<std::string> {
                              if (!skip_key_uoid(r)) return "absent";
                              return std::nullopt;
                            });
                          }}},
                        name);
  }
}

TEST(key_list_readers_agree) {
  const std::vector<std::pair<std::vector<Bytes>, std::string>> lists = {
      {{}, ""},
      {{key_reference("One")}, "One;"},
      {{kAbsentKey}, ""},
      {{key_reference("First", 0x03), kAbsentKey, key_reference("Third", 0x00)}, "First;Third;"},
      {{kAbsentKey, kAbsentKey}, ""},
  };
  for (const auto& [references, names] : lists) {
    Bytes whole;
    for (const Bytes& reference : references) whole.insert(whole.end(), reference.begin(), reference.end());
    const auto count = static_cast<uint32_t>(references.size());
    // The list read again from the cut bytes, as a record that located it
    // there reads it.
    const auto located_here = [count](const Bytes& b) {
      return KeyList{PlasmaRead(b).locate_list<std::optional<Uoid>>(count)};
    };
    check_readers_agree(
        "key list of " + std::to_string(count), whole, 0,
        {{"locate_key_list",
          [count](const Bytes& b) {
            return with_position(
                b, 0, [&](PlasmaRead& r) { return joined(locate_key_list(r, count).present_names(Source(b))); });
          }},
         {"present_names",
          [&](const Bytes& b) { return read_back([&] { return joined(located_here(b).present_names(Source(b))); }); }},
         {"present_keys",
          [&](const Bytes& b) {
            return read_back([&] {
              std::vector<std::string> names;
              for (const Uoid& key : located_here(b).present_keys(Source(b))) names.push_back(Source(b).text(key.name));
              return joined(names);
            });
          }}},
        names);
  }
}

TEST(python_parameter_readers_agree) {
  // An object of two parameters, the one under test and an integer after it,
  // which a read back finds only where the first ends: class index, absent own
  // key, no synched lists, an empty bit vector, an empty file name, no
  // receivers.
  const Bytes head =
      concat({{0xA2, 0x00}, kAbsentKey, u32_bytes(0), u32_bytes(0), safe_string(0, {}), u32_bytes(0), u32_bytes(2)});
  const auto param = [](uint32_t type, const Bytes& value) { return concat({u32_bytes(77), u32_bytes(type), value}); };
  const Bytes last = param(1, u32_bytes(12345));
  const Bytes abc = {4, 0, 0, 0, 'a', 'b', 'c', 0};
  const std::vector<std::pair<Bytes, std::string>> params = {
      {param(1, u32_bytes(static_cast<uint32_t>(-3))), "Int(-3)"},
      {param(2, u32_bytes(std::bit_cast<uint32_t>(0.5f))), "Float(0.5)"},
      {param(3, u32_bytes(2)), "Bool(true)"},
      {param(4, u32_bytes(0)), "String(\"\")"},
      {param(4, {1, 0, 0, 0, 0}), "String(\"\")"},
      {param(4, abc), "String(\"abc\")"},
      {param(13, abc), "String(\"abc\")"},
      {param(13, {2, 0, 0, 0, 0xFF, 0}), "String(\"\xEF\xBF\xBD\")"},
      {param(5, key_reference("Target", 0x03)), "Key(Some(Uoid(S:0x7 F:0x2 T:0x0006 I:42 N:\"Target\" C:[9,5])))"},
      {param(12, kAbsentKey), "Key(None)"},
      {param(14, key_reference("Other")), "Key(Some(Uoid(S:0x7 F:0x2 T:0x0006 I:42 N:\"Other\" C:[0,0])))"},
      {param(23, key_reference("Last", 0x01)), "Key(Some(Uoid(S:0x7 F:0x2 T:0x0006 I:42 N:\"Last\" C:[9,5])))"},
      {param(24, {}), "None"},
      {param(0, {}), "None"},
      {param(25, {}), "None"},
      {param(0xFFFFFFFB, {}), "None"},
  };
  for (const auto& [one, shown] : params) {
    const Bytes whole = concat({head, one, last});
    check_readers_agree("python parameter " + shown, whole, head.size(),
                        {{"parse_python_file_mod",
                          [](const Bytes& b) {
                            return read_back([&]() -> std::optional<std::string> {
                              parse_python_file_mod(b);
                              return std::nullopt;
                            });
                          }},
                         {"read_params",
                          [&](const Bytes& b) {
                            return read_back([&] {
                              PythonFileModData data;
                              data.params = PlasmaRead(b, head.size()).locate_list<PythonParam>(2);
                              const Source source(b);
                              std::string shown_back;
                              for (const PythonParam& read : data.read_params(source))
                                shown_back += std::to_string(read.id) + " " +
                                              param_value_debug(param_setting(read, source)) + ";";
                              return shown_back;
                            });
                          }}},
                        "77 " + shown + ";77 Int(12345);");
  }
}

namespace {

// A plMessage base: absent sender, the given receivers, 12 further bytes.
Bytes message_base(const std::vector<Bytes>& receivers = {}) {
  Bytes out = concat({kAbsentKey, u32_bytes(static_cast<uint32_t>(receivers.size()))});
  for (const Bytes& receiver : receivers) out = concat({out, receiver});
  return concat({out, Bytes(12, 0xEE)});
}

Bytes bit_vector(std::initializer_list<uint32_t> words) {
  Bytes out = u32_bytes(static_cast<uint32_t>(words.size()));
  for (uint32_t word : words) out = concat({out, u32_bytes(word)});
  return out;
}

// A message with callbacks: its base, then the callbacks.
Bytes with_callbacks(const Bytes& base, const std::vector<Bytes>& callbacks) {
  Bytes out = concat({base, u32_bytes(static_cast<uint32_t>(callbacks.size()))});
  for (const Bytes& callback : callbacks) out = concat({out, callback});
  return out;
}

struct Command {
  uint16_t class_id;
  Bytes body;
  uint32_t one_shot_callbacks = 0;
};

Bytes class_id(uint16_t id) { return {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)}; }

std::vector<Command> commands_of_every_class() {
  const Bytes callback_null = class_id(0x8000);
  const Bytes callback_full = concat({class_id(0x0001), message_base(), Bytes(12, 0)});
  const Bytes receivers = message_base({key_reference("Door", 0x02), kAbsentKey});
  Bytes one_shots = u32_bytes(2);
  one_shots = concat({one_shots, safe_string(0xF000, {}), key_reference("Marker"), {9, 0}});
  one_shots = concat({one_shots, safe_string(0x0002, {'g', 'o'}), kAbsentKey, {1, 0}});
  Bytes events = u32_bytes(7);
  for (uint32_t type : {1u, 2u, 3u, 7u, 8u, 9u}) {
    const Bytes sizes[] = {{}, Bytes(2), Bytes(13), Bytes(5), {}, {}, {}, Bytes(2), Bytes(4), Bytes(4)};
    events = concat({events, u32_bytes(type), sizes[type]});
  }
  // The seventh event's type is unknown: it ends the list.
  events = concat({events, u32_bytes(4)});
  return {
      {0x0206, concat({with_callbacks(receivers, {callback_null, callback_full}), bit_vector({3}), Bytes(28, 1),
                       safe_string(0xF000, {}), safe_string(0x0001, {'x'})})},
      {0x020A,
       concat({message_base(), bit_vector({}), Bytes(9, 2), key_reference("Cam", 0x01), kAbsentKey, Bytes(45, 3)})},
      {0x024F, concat({message_base(), u32_bytes(1), u32_bytes(std::bit_cast<uint32_t>(2.5f))})},
      {0x0254, concat({receivers, bit_vector({1, 2}), bit_vector({})})},
      {0x025A, concat({with_callbacks(message_base(), {callback_null}), bit_vector({}), Bytes(30, 4), u32_bytes(6),
                       Bytes(13, 5)})},
      {0x02ED, concat({receivers, Bytes(12, 6), events})},
      {0x0302, concat({message_base(), {1}})},
      {0x0306, message_base()},
      {0x0307, concat({receivers, one_shots}), 2},
      {0x0307, concat({message_base(), u32_bytes(0)}), 0},
      {0x0332, concat({message_base(), bit_vector({8}), Bytes(16, 7), safe_string(0x0003, {'a', 'n', 'm'})})},
      {0x0335, concat({message_base(), Bytes(5, 8)})},
      {0x0393, concat({message_base(), Bytes(2, 9)})},
      {0x03BF, concat({message_base(), key_reference("World")})},
      {0x0453, concat({message_base(), {0}})},
  };
}

// Each command's wait_on byte: a read back that starts a command anywhere but
// at its class id, or misses this byte, reads another.
uint8_t wait_on_of(std::size_t index) { return static_cast<uint8_t>(0x40 + index); }

// callback_count, switch_to_state, then the commands, each followed by its wait_on byte,
// then the waits.
Bytes state_of(const std::vector<Command>& commands, uint8_t waits) {
  Bytes out = {3, 4, static_cast<uint8_t>(commands.size())};
  for (std::size_t i = 0; i < commands.size(); ++i)
    out = concat({out, class_id(commands[i].class_id), commands[i].body, {wait_on_of(i)}});
  out.push_back(waits);
  for (uint8_t i = 0; i < waits; ++i) out = concat({out, {i, 1}});
  return out;
}

// Reads back everything a command located.
std::string read_command_back(const ResponderCmd& cmd, const Source& source) {
  std::string out = std::to_string(cmd.class_id) + ":" + joined(cmd.receivers.present_names(source));
  out += joined(cmd.notify_receivers.present_names(source));
  for (const OneShotCallback& callback : cmd.read_one_shot_callbacks(source))
    out += source.text(callback.name) + "/" + (callback.key ? source.text(callback.key->name) : "-") + "/" +
           std::to_string(callback.value) + ";";
  if (cmd.name) out += "name " + source.text(*cmd.name);
  return out;
}

}  // namespace

TEST(responder_state_readers_agree) {
  // A state of each command alone, one of all of them, one of none; the waits
  // come last.
  std::vector<std::vector<Command>> states;
  for (const Command& command : commands_of_every_class()) states.push_back({command});
  states.push_back(commands_of_every_class());
  states.push_back({});
  for (const auto& commands : states) {
    for (uint8_t waits : {0, 2}) {
      const Bytes whole = state_of(commands, waits);
      const auto count = static_cast<uint32_t>(commands.size());
      const uint64_t commands_end = whole.size() - 1 - 2 * uint64_t{waits};
      const std::string state_values = "3 4 " + std::to_string(count);
      std::string stored_commands;
      for (std::size_t i = 0; i < commands.size(); ++i)
        stored_commands += std::to_string(commands[i].class_id) + "/" + std::to_string(wait_on_of(i)) + ";";
      check_readers_agree("responder state of " + std::to_string(count) + " commands", whole, 0,
                          {{"locate_state",
                            [&](const Bytes& b) {
                              ResponderState state;
                              bool whole_state = false;
                              Outcome out = with_position(b, 0, [&](PlasmaRead& r) {
                                whole_state = locate_state(r, state, false);
                                return std::to_string(state.callback_count) + " " +
                                       std::to_string(state.switch_to_state) + " " +
                                       std::to_string(state.commands.count);
                              });
                              return stopped_unless(whole_state, out);
                            }},
                           {"read_states",
                            [&](const Bytes& b) {
                              ResponderModData data;
                              data.states = PlasmaRead(b).locate_list<ResponderState>(1);
                              uint32_t commands_read = 0;
                              Outcome out = read_back([&] {
                                const ResponderState state = data.read_states(Source(b)).at(0);
                                commands_read = state.commands.count;
                                return std::to_string(state.callback_count) + " " +
                                       std::to_string(state.switch_to_state) + " " + std::to_string(commands_read);
                              });
                              // A state read again stops where its decode stopped.
                              return stopped_unless(commands_read == count, out);
                            }},
                           {"read_commands, then the waits",
                            [&](const Bytes& b) {
                              ResponderState state;
                              state.commands = PlasmaRead(b, 3).locate_list<ResponderCmd>(count);
                              const Source source(b);
                              Outcome out = read_back([&] {
                                std::string read;
                                for (const ResponderCmd& cmd : state.read_commands(source)) {
                                  read_command_back(cmd, source);
                                  read += std::to_string(cmd.class_id) + "/" + std::to_string(cmd.wait_on) + ";";
                                }
                                return read == stored_commands ? state_values : "read back " + read;
                              });
                              if (out.failed || out.value != state_values) return out;
                              return with_position(b, commands_end, [&](PlasmaRead& r) {
                                r.skip(uint64_t{r.read_u8()} * 2);
                                return state_values;
                              });
                            }}},
                          state_values);
    }
  }
  // What each command located reads back as stored.
  const Bytes whole = state_of(commands_of_every_class(), 0);
  ResponderState state;
  PlasmaRead reader(whole);
  REQUIRE(locate_state(reader, state, false));
  const Source source(whole);
  const auto commands = state.read_commands(source);
  REQUIRE(commands.size() == commands_of_every_class().size());
  std::vector<std::string> read;
  for (const ResponderCmd& cmd : commands) read.push_back(read_command_back(cmd, source));
  CHECK_EQ(read[0], "518:Door;name ");
  CHECK_EQ(read[5], "749:Door;Door;");
  CHECK_EQ(read[8], "775:Door;/Marker/9;go/-/1;");
  CHECK_EQ(read[10], "818:name anm");
}

TEST(mesh_list_readers_agree) {
  const auto floats = [](const std::vector<float>& values) {
    Bytes out;
    for (float v : values) out = concat({out, u32_bytes(std::bit_cast<uint32_t>(v))});
    return out;
  };
  const auto vertices_text = [](const std::vector<Vector3>& vertices) {
    std::string out;
    for (const Vector3& v : vertices)
      out += std::to_string(v.x) + " " + std::to_string(v.y) + " " + std::to_string(v.z) + ";";
    return out;
  };
  for (uint32_t count : {0u, 1u, 3u}) {
    std::vector<Vector3> stored;
    std::vector<float> components;
    for (uint32_t i = 0; i < count; ++i) {
      stored.push_back({1.0f * i, -2.0f, 0.5f + i});
      components.insert(components.end(), {stored.back().x, stored.back().y, stored.back().z});
    }
    check_readers_agree(std::to_string(count) + " vertices", floats(components), 0,
                        {{"locate_vertices",
                          [&](const Bytes& b) {
                            return with_position(b, 0, [&](PlasmaRead& r) {
                              return vertices_text(read_vertices(locate_vertices(r, count), Source(b)));
                            });
                          }},
                         {"read_vertices",
                          [&](const Bytes& b) {
                            return read_back([&] {
                              return vertices_text(read_vertices(PlasmaRead(b).locate_list<Vector3>(count), Source(b)));
                            });
                          }}},
                        vertices_text(stored));
  }
  const auto indices_text = [](const std::vector<uint32_t>& indices) {
    std::string out;
    for (uint32_t index : indices) out += std::to_string(index) + ",";
    return out;
  };
  for (uint8_t width : {1, 2, 4}) {
    for (uint32_t triangles : {0u, 1u, 2u}) {
      // Each index differs from the next in every byte.
      Bytes whole;
      std::vector<uint32_t> stored;
      for (uint32_t i = 0; i < triangles * 3; ++i) {
        const uint32_t index = 0x01010101u * (i + 1) & (width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1);
        stored.push_back(index);
        for (uint8_t byte = 0; byte < width; ++byte) whole.push_back(static_cast<uint8_t>(index >> (8 * byte)));
      }
      check_readers_agree(std::to_string(triangles) + " triangles of width " + std::to_string(width), whole, 0,
                          {{"locate_indices",
                            [&](const Bytes& b) {
                              return with_position(b, 0, [&](PlasmaRead& r) {
                                const PhysMesh mesh{{}, locate_indices(r, triangles, width)};
                                return indices_text(mesh.read_indices(Source(b)));
                              });
                            }},
                           {"read_indices",
                            [&](const Bytes& b) {
                              return read_back([&] {
                                const PhysMesh mesh{
                                    {}, {PlasmaRead(b).locate_list<uint32_t>(uint64_t{triangles} * 3), width}};
                                return indices_text(mesh.read_indices(Source(b)));
                              });
                            }}},
                          indices_text(stored));
    }
  }
  // A whole mesh in the engine's own form: read_mesh_shape locates both lists
  // and needs every byte, as reading them back does.
  const Bytes mesh = concat({u32_bytes(0x01505348), u32_bytes(2), floats({1, 2, 3, 4, 5, 6}), u32_bytes(1),
                             u32_bytes(1), u32_bytes(0), u32_bytes(1)});
  const auto mesh_text = [&](const std::vector<Vector3>& vertices, const std::vector<uint32_t>& indices) {
    return vertices_text(vertices) + indices_text(indices);
  };
  check_readers_agree("uncooked mesh", mesh, 0,
                      {{"read_mesh_shape",
                        [&](const Bytes& b) {
                          return with_position(b, 0, [&](PlasmaRead& r) {
                            const auto shape = std::get<PhysMesh>(read_mesh_shape(r, false));
                            const Source source(b);
                            return mesh_text(read_vertices(shape.vertices, source), shape.read_indices(source));
                          });
                        }},
                       {"read_vertices, read_indices",
                        [&](const Bytes& b) {
                          return read_back([&] {
                            const Source source(b);
                            const auto vertices = read_vertices(PlasmaRead(b, 8).locate_list<Vector3>(2), source);
                            const PhysMesh shape{{}, {PlasmaRead(b, 36).locate_list<uint32_t>(3), 4}};
                            return mesh_text(vertices, shape.read_indices(source));
                          });
                        }}},
                      mesh_text({{1, 2, 3}, {4, 5, 6}}, {1, 0, 1}));
}
