#include "resource/prp/python_file_mod.h"

#include <bit>
#include <string>
#include <variant>

#include "core/log.h"
#include "core/text.h"
#include "resource/prp/bit_vector.h"
#include "resource/prp/record_edit.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

// Parameter type codes as stored. Two codes hold a counted string; the codes
// 5 to 12 and 14 to 23 each hold one key reference.
enum ParamType : uint32_t {
  kParamInt = 1,
  kParamFloat = 2,
  kParamBool = 3,
  kParamString = 4,
  kParamText = 13,
  kParamNone = 24,
};

// A counted string's length counts the terminator that ends its text.
constexpr uint64_t kTerminatorSize = 1;

bool is_key_type(uint32_t type) { return (type >= 5 && type <= 12) || (type >= 14 && type <= 23); }

// A u32 length that counts a terminator, then the text, then the terminator,
// which is stepped over unseen.
ByteRange locate_counted_string(PlasmaRead& reader) {
  const uint32_t length = reader.read_u32();
  if (length == 0) return reader.locate_bytes(0);
  const ByteRange text = reader.locate_bytes(length - kTerminatorSize);
  reader.skip(kTerminatorSize);
  return text;
}

std::string counted_string_text(const ByteRange& range, const Source& source) {
  const auto bytes = source.bytes(range);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return is_valid_utf8(text) ? std::string(text) : utf8_replace_invalid(text);
}

PythonParamValue read_param_value(PlasmaRead& reader, uint32_t type) {
  switch (type) {
    case kParamInt:
      return reader.read_i32();
    case kParamFloat:
      return reader.read_f32();
    case kParamBool:
      return reader.read_u32() != 0;
    case kParamString:
    case kParamText:
      return locate_counted_string(reader);
    case kParamNone:
      return std::monostate{};
    default:
      break;
  }
  if (is_key_type(type)) return read_key_uoid(reader);
  return std::monostate{};
}

// Steps over what read_param_value reads, failing where it would; false
// for an unknown type, which holds nothing. Every value but a key and None is
// one 32-bit word, the number itself or a string's length, then a string's
// text and terminator: one path takes them all, so that parameters of mixed
// types cost few mispredicted branches.
[[gnu::always_inline]] inline bool skip_param_value(PlasmaRead& reader, uint32_t type) {
  if (is_key_type(type)) {
    skip_key_uoid(reader);
    return true;
  }
  const bool is_string = type == kParamString || type == kParamText;
  if (!is_string && !(type >= kParamInt && type <= kParamBool)) return type == kParamNone;
  const uint32_t word = reader.read_u32();
  reader.skip(is_string ? word : 0);
  return true;
}

// Out of the decode's loop, whose registers it would otherwise take.
[[gnu::cold, gnu::noinline]] void warn_unknown_param(uint32_t type) {
  log::write(log::Level::Warn, log::kPageObjectsTarget,
             [&] { return "Unknown plPythonParameter type " + std::to_string(static_cast<int32_t>(type)); });
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

template <class Marks>
PythonFileModData parse_python_file_mod(std::span<const uint8_t> object_bytes, Marks& marks) {
  PlasmaRead reader(object_bytes);
  // The class index is not examined.
  reader.skip(kClassIndexSize);
  PythonFileModData data;
  data.self_key = locate_key(reader);
  skip_synched_object(reader);
  skip_bit_vector(reader);
  const uint64_t file_at = reader.position();
  data.python_file = reader.locate_safe_string();
  marks.mark("python_file", file_at, reader.position(), StoredAs::SafeString);
  const uint64_t receiver_count_at = reader.position();
  data.receivers = locate_key_list(reader, reader.read_u32());
  marks.mark("receiver_keys", receiver_count_at + sizeof(uint32_t), reader.position(), StoredAs::CountedKeys,
             static_cast<uint32_t>(receiver_count_at));

  // Every parameter is read to find where the next one starts; the list is
  // read again, without the warnings, when asked for.
  const uint64_t param_count_at = reader.position();
  const uint32_t param_count = reader.read_u32();
  data.params = reader.locate_list<PythonParam>(param_count);
  for (uint32_t i = 0; i < param_count; ++i) {
    // The id and the type code fail alike: one step takes both.
    const uint8_t* id_and_type = reader.read_bytes(sizeof(PythonParam::id) + sizeof(uint32_t)).data();
    const uint32_t type = PlasmaRead::load<uint32_t>(id_and_type + sizeof(PythonParam::id));
    if (!skip_param_value(reader, type)) warn_unknown_param(type);
  }
  marks.mark("params", data.params.offset, reader.position(), StoredAs::Params, static_cast<uint32_t>(param_count_at));
  return data;
}

template PythonFileModData parse_python_file_mod(std::span<const uint8_t> object_bytes, FieldMarks& marks);

PythonFileModData parse_python_file_mod(std::span<const uint8_t> object_bytes) {
  NoMarks marks;
  return parse_python_file_mod(object_bytes, marks);
}

bool holds(const PythonParam& stored, const Source& source, const ParamSetting& param) {
  if (stored.id != param.id || stored.type != param.type || stored.value.index() != param.value.index()) return false;
  return std::visit(
      Overloaded{
          [](std::monostate) { return true; },
          [&](int32_t v) { return std::get<int32_t>(param.value) == v; },
          [&](float v) { return float_shown_as(std::bit_cast<uint32_t>(v), std::get<float>(param.value)); },
          [&](bool v) { return std::get<bool>(param.value) == v; },
          [&](const ByteRange& v) { return std::get<std::string>(param.value) == counted_string_text(v, source); },
          [&](const std::optional<Uoid>& v) {
            const auto& key = std::get<std::optional<BuiltKey>>(param.value);
            return v ? key && holds_key(*v, source, *key) : !key;
          },
      },
      stored.value);
}

void write_param(PlasmaWrite& writer, const ParamSetting& param) {
  writer.write_u32(param.id);
  writer.write_u32(param.type);
  std::visit(Overloaded{
                 [](std::monostate) {},
                 [&](int32_t v) { writer.write_u32(static_cast<uint32_t>(v)); },
                 [&](float v) { writer.write_u32(std::bit_cast<uint32_t>(v)); },
                 [&](bool v) { writer.write_u32(v ? 1 : 0); },
                 [&](const std::string& v) {
                   if (v.size() >= UINT32_MAX) throw Error("A parameter's string is too long");
                   writer.write_u32(static_cast<uint32_t>(v.size() + kTerminatorSize));
                   writer.write_bytes({reinterpret_cast<const uint8_t*>(v.data()), v.size()});
                   writer.write_u8(0);
                 },
                 [&](const std::optional<BuiltKey>& v) { write_key_reference(writer, v); },
             },
             param.value);
}

PythonParam read_param(PlasmaRead& reader) {
  PythonParam param;
  param.id = reader.read_u32();
  param.type = reader.read_u32();
  param.value = read_param_value(reader, param.type);
  return param;
}

std::vector<PythonParam> read_items(const StoredList<PythonParam>& params, const Source& source) {
  return source.items(params, read_param);
}

ParamSetting param_setting(const PythonParam& param, const Source& source) {
  ParamSetting setting{param.id, param.type, {}};
  std::visit(Overloaded{
                 [](std::monostate) {},
                 [&](const ByteRange& v) { setting.value = counted_string_text(v, source); },
                 [&](const std::optional<Uoid>& v) {
                   setting.value = v ? std::optional<BuiltKey>(built_key(*v, source)) : std::nullopt;
                 },
                 [&](auto v) { setting.value = v; },
             },
             param.value);
  return setting;
}

std::string param_value_text(const ParamSetting& param) {
  return std::visit(
      Overloaded{
          [](std::monostate) -> std::string { return "None"; },
          [](int32_t v) { return std::to_string(v); },
          [](float v) { return float_text(v); },
          [](bool v) -> std::string { return v ? "true" : "false"; },
          [](const std::string& v) { return v; },
          [](const std::optional<BuiltKey>& v) -> std::string { return v ? utf8_text(v->name_bytes) : "None"; },
      },
      param.value);
}

std::string param_value_debug(const ParamSetting& param) {
  return std::visit(Overloaded{
                        [](std::monostate) -> std::string { return "None"; },
                        [](int32_t v) { return "Int(" + std::to_string(v) + ")"; },
                        [](float v) { return "Float(" + float_debug(v) + ")"; },
                        [](bool v) -> std::string { return v ? "Bool(true)" : "Bool(false)"; },
                        [](const std::string& v) { return "String(" + debug_quote(v) + ")"; },
                        [](const std::optional<BuiltKey>& v) -> std::string {
                          return v ? "Key(Some(" + built_key_repr(*v) + "))" : "Key(None)";
                        },
                    },
                    param.value);
}

}  // namespace lumivex
