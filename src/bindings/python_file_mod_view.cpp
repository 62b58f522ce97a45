#include <array>
#include <type_traits>
#include <variant>

#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "resource/prp/python_file_mod.h"

namespace lumivex::py {
namespace {

// A parameter as a value of its own, its texts made when they are asked for.
struct PythonParamView {
  ParamSetting setting;
};

using PythonFileModView = Decoded<PythonFileModData>;

}  // namespace

template <>
const ClassDef<PythonParamView>& class_def<PythonParamView>();
PyTypeObject* create_python_param_type(PyObject* module);

namespace {

// The kind of a parameter's value, by the alternative it holds.
const char* param_kind(const ParamSetting& param) {
  static constexpr std::array<const char*, std::variant_size_v<ParamSetting::Value>> kKinds = {
      "None", "Int", "Float", "Bool", "String", "Key"};
  return kKinds[param.value.index()];
}

PyObject* typed_value_to_py(const PythonParamView& param, const ModuleState& state) {
  return std::visit(
      [&](const auto& v) -> PyObject* {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>)
          Py_RETURN_NONE;
        else if constexpr (std::is_same_v<V, std::optional<BuiltKey>>)
          return v ? new_key(state, *v) : Py_NewRef(Py_None);
        else
          return to_py(v);
      },
      param.setting.value);
}

// Each parameter is read again when the list is asked for: a decode that
// never reads it pays nothing for them.
PyObject* param_list(const PythonFileModView& view, const ModuleState& state) {
  std::vector<PythonParamView> params;
  for (const PythonParam& param : view.record.read_params(view.source))
    params.push_back({lumivex::param_setting(param, view.source)});
  return to_py_views(params, state);
}

// A parameter's new value, of the kind its type code holds.
ParamSetting::Value typed_setting(const PythonParamView& param, PyObject* value, const ModuleState& state) {
  static constexpr const char* kFunction = "PythonParam.replace";
  static constexpr const char* kProperty = "typed_value";
  const std::string_view kind = param_kind(param.setting);
  const auto refuse = [&](const char* expected) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s for a parameter of kind %s, not %.200s", kFunction,
                 kProperty, expected, kind.data(), Py_TYPE(value)->tp_name);
    throw PythonError{};
  };
  if (kind == "Int") {
    if (PyBool_Check(value) || !PyLong_Check(value)) refuse("int");
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (number == -1 && PyErr_Occurred()) throw PythonError{};
    if (overflow || number < INT32_MIN || number > INT32_MAX) {
      PyErr_Format(PyExc_OverflowError, "%s() argument '%s' of an Int parameter must fit in 32 bits", kFunction,
                   kProperty);
      throw PythonError{};
    }
    return static_cast<int32_t>(number);
  }
  if (kind == "Float") return std::get<float>(field_value(value, {kProperty, Takes::Float}, kFunction, state));
  if (kind == "Bool") {
    if (!PyBool_Check(value)) refuse("bool");
    return value == Py_True;
  }
  if (kind == "String") return std::get<std::string>(field_value(value, {kProperty, Takes::Text}, kFunction, state));
  if (kind == "Key")
    return std::get<std::optional<BuiltKey>>(field_value(value, {kProperty, Takes::KeyOrNone}, kFunction, state));
  if (value != Py_None) refuse("None");
  return std::monostate{};
}

// A new parameter of the same id and type code: its value is written as it
// is stored and read back, as a decoded one is.
PyObject* replace_param(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* value = nullptr;
  if (PyTuple_GET_SIZE(args) != 0) {
    PyErr_SetString(PyExc_TypeError, "PythonParam.replace() takes no positional arguments");
    throw PythonError{};
  }
  parse_args(args, kwargs, "PythonParam.replace", {"typed_value"}, {&value}, 0);
  const PythonParamView& param = unbox<PythonParamView>(self);
  const ModuleState& state = state_of(self);
  ParamSetting setting = param.setting;
  if (value) setting.value = typed_setting(param, value, state);
  PlasmaWrite stored;
  write_param(stored, setting);
  const Source source(stored.bytes());
  PlasmaRead reader(stored.bytes());
  return make<PythonParamView>(state, PythonParamView{lumivex::param_setting(read_param(reader), source)});
}

// A parameter's stored form. Parameters are equal when they store the same
// bytes: a float by its bits, so that 0.0 and -0.0 differ and a NaN equals
// itself, as an edit that keeps or changes the bytes sees them.
std::vector<uint8_t> stored_param(const PythonParamView& param) {
  PlasmaWrite stored;
  write_param(stored, param.setting);
  return stored.take_bytes();
}

bool same_param(const PythonParamView& a, const PythonParamView& b) { return stored_param(a) == stored_param(b); }

std::size_t param_hash(const PythonParamView& param) {
  const std::vector<uint8_t> stored = stored_param(param);
  return hash_of({std::string_view(reinterpret_cast<const char*>(stored.data()), stored.size())}, {});
}

std::string python_file_mod_repr(const PythonFileModView& view) {
  return "PythonFileMod('" + text_or_empty(view.record.self_key, view.source) + "', file='" +
         view.source.text(view.record.python_file) + "', " + std::to_string(view.record.params.count) + " params)";
}

std::string python_param_repr(const PythonParamView& param) {
  return "PythonParam(id=" + std::to_string(param.setting.id) + ", " + param_value_debug(param.setting) + "=" +
         param_value_text(param.setting) + ")";
}

}  // namespace

template <>
const ClassDef<PythonFileModView>& class_def<PythonFileModView>() {
  static const ClassDef<PythonFileModView> def{
      .id = view_type_id<PythonFileModData>(),
      .qualified_name = "lumivex.PythonFileMod",
      .properties =
          {
              {"name", decoded_name_or_empty<&PythonFileModData::self_key>, "Object name."},
              {"python_file", decoded_value<&PythonFileModData::python_file>,
               "Name of the script file, without extension."},
              {"receiver_names", decoded_names<&PythonFileModData::receivers>,
               "Names of the objects that receive the script's messages."},
              {"receiver_keys", decoded_keys<&PythonFileModData::receivers>,
               "Keys of the objects that receive the script's messages."},
              {"params", param_list, "The script's parameters, in stored order."},
          },
      .repr = python_file_mod_repr,
      .nested = {{"PythonParam", TypeId::PythonParam, create_python_param_type}},
  };
  return def;
}

template <>
const ClassDef<PythonParamView>& class_def<PythonParamView>() {
  static const ClassDef<PythonParamView> def{
      .id = TypeId::PythonParam,
      .qualified_name = "lumivex.PythonParam",
      .properties =
          {
              {"id", [](const PythonParamView& param) { return to_py(param.setting.id); }, "Parameter id."},
              {"param_type", [](const PythonParamView& param) { return new_str(param_value_debug(param.setting)); },
               "The value with its kind, as Int(3) or String(\"s\")."},
              {"value", [](const PythonParamView& param) { return new_str(param_value_text(param.setting)); },
               "The value as text."},
              {"kind", [](const PythonParamView& param) { return new_str(param_kind(param.setting)); },
               "The kind of value: Int, Float, Bool, String, Key or None."},
              {"typed_value", typed_value_to_py,
               "The value as an int, float, bool, str or Key; None for an absent key or no value."},
          },
      .methods =
          {
              method<replace_param>("replace",
                                    "replace($self, /, *, typed_value=...)\n--\n\nA new parameter of the same id and "
                                    "kind with this value: an int, float, bool or str, a Key or None, as the kind "
                                    "holds."),
              method<replace_param>("__replace__", "__replace__($self, /, *, typed_value=...)\n--\n\nAs replace()."),
          },
      .repr = python_param_repr,
      .equal = same_param,
      .hash = param_hash,
      .copies_as_itself = true,
  };
  return def;
}

ParamSetting param_setting(PyObject* param, const char* function, const char* property, const ModuleState& state) {
  if (Py_TYPE(param) != state.type(TypeId::PythonParam)) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be a list of PythonParam, not one holding %.200s", function,
                 property, Py_TYPE(param)->tp_name);
    throw PythonError{};
  }
  return unbox<PythonParamView>(param).setting;
}

PyTypeObject* create_python_param_type(PyObject* module) { return create_type<PythonParamView>(module); }

template <>
const std::vector<Settable>& settable_properties<PythonFileModData>() {
  static const std::vector<Settable> settable = {
      {"python_file", Takes::Text},
      {"receiver_keys", Takes::Keys},
      {"params", Takes::Params},
  };
  return settable;
}

const RegisterView<PythonFileModData> register_python_file_mod_view;

}  // namespace lumivex::py
