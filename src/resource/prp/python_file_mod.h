#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "core/key_list.h"
#include "resource/prp/field_marks.h"
#include "resource/prp/object_key.h"

namespace lumivex {

// A parameter's value: None (std::monostate), Int, Float, Bool, String (the
// bytes of its text, located in the object's bytes) or Key.
using PythonParamValue = std::variant<std::monostate, int32_t, float, bool, ByteRange, std::optional<Uoid>>;

struct PythonParam {
  uint32_t id = 0;
  uint32_t type = 0;  // the stored type code
  PythonParamValue value;
};

// A parameter to be stored: its id, its type code and a value of the kind
// the code holds, a string as its text, a key with its name as stored.
struct ParamSetting {
  using Value = std::variant<std::monostate, int32_t, float, bool, std::string, std::optional<BuiltKey>>;
  uint32_t id = 0;
  uint32_t type = 0;
  Value value;

  bool operator==(const ParamSetting&) const = default;
};

// The parameters, read again from the bytes they were located in.
std::vector<PythonParam> read_items(const StoredList<PythonParam>& params, const Source& source);

// Strings, names and lists are located in the object's bytes; the functions
// that show them take those bytes.
struct PythonFileModData {
  StoredKey self_key;
  StoredString python_file;
  KeyList receivers;  // its present references are the receivers
  StoredList<PythonParam> params;

  std::vector<PythonParam> read_params(const Source& source) const { return read_items(params, source); }
};

// A parameter's value is shown as the parameter itself: "params[2]".
template <class Visit>
void visit_fields(const PythonParam& param, Visit&& visit) {
  visit("id", param.id);
  visit("", param.value);
}
template <class Visit>
void visit_fields(const PythonFileModData& data, Visit&& visit) {
  visit("name", data.self_key);
  visit("python_file", data.python_file);
  visit("receiver_keys", data.receivers);
  visit("params", data.params);
}

// One plPythonFileMod object's complete bytes, class index included. An
// unknown parameter type gives a None parameter and a warning in the log.
PythonFileModData parse_python_file_mod(std::span<const uint8_t> object_bytes);
// The same, telling marks where each field a view can change lies.
template <class Marks>
PythonFileModData parse_python_file_mod(std::span<const uint8_t> object_bytes, Marks& marks);

// Reads one parameter at the reader's position.
PythonParam read_param(PlasmaRead& reader);
// Whether a stored parameter holds param: the same id and type code, and an
// equal value, a float by its bits, a string by its text.
bool holds(const PythonParam& stored, const Source& source, const ParamSetting& param);
// The stored form of param: a string with its length and terminator.
void write_param(PlasmaWrite& writer, const ParamSetting& param);

// A stored parameter as a value of its own: a string as its text, a key
// with its name as stored.
ParamSetting param_setting(const PythonParam& param, const Source& source);
// The value as text: 3, 0.5, true, the string, a key's name, None.
std::string param_value_text(const ParamSetting& param);
// The value with its kind: Int(3), Float(0.5), Bool(true), String("s"),
// Key(Some(Uoid(...))), Key(None), None.
std::string param_value_debug(const ParamSetting& param);

}  // namespace lumivex
