#include <array>
#include <type_traits>
#include <variant>

#include "bindings/key_class.h"
#include "resource/prp/python_file_mod.h"

namespace lumivex::py {
namespace {

// A parameter's value as Python shows it: a string read out of the object's
// bytes, a present key as a Key, an absent one as None.
using TypedParamValue = std::variant<std::monostate, int32_t, float, bool, std::string, KeyValue>;

// A parameter with both renderings of its value, its kind and its typed
// value, made once with its Python object.
struct PythonParamView {
  uint32_t id = 0;
  std::string param_type;
  std::string value;
  const char* kind = "None";
  TypedParamValue typed_value;
};

using PythonFileModView = Decoded<PythonFileModData>;

}  // namespace

template <>
const ClassDef<PythonParamView>& class_def<PythonParamView>();
PyTypeObject* create_python_param_type(PyObject* module);

namespace {

// The variant's name, as param_type shows it.
const char* param_kind(const PythonParamValue& value) {
  static constexpr std::array<const char*, std::variant_size_v<PythonParamValue>> kKinds = {"None", "Int",    "Float",
                                                                                            "Bool", "String", "Key"};
  return kKinds[value.index()];
}

TypedParamValue typed_param_value(const PythonParamValue& value, const Source& source) {
  return std::visit(
      [&](const auto& v) -> TypedParamValue {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, ByteRange>) {
          return param_value_text(value, source);
        } else if constexpr (std::is_same_v<V, std::optional<Uoid>>) {
          if (!v) return std::monostate{};
          return key_value(*v, source);
        } else {
          return v;
        }
      },
      value);
}

PyObject* typed_value_to_py(const PythonParamView& param, const ModuleState& state) {
  return std::visit(
      [&](const auto& v) -> PyObject* {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>)
          Py_RETURN_NONE;
        else if constexpr (std::is_same_v<V, KeyValue>)
          return make<KeyValue>(state, v);
        else
          return to_py(v);
      },
      param.typed_value);
}

// Each parameter is read again and rendered when the list is asked for: a
// decode that never reads it pays nothing for them.
PyObject* param_list(const PythonFileModView& view, const ModuleState& state) {
  std::vector<PythonParamView> params;
  for (const PythonParam& param : view.record.read_params(view.source))
    params.push_back({param.id, param_value_debug(param.value, view.source), param_value_text(param.value, view.source),
                      param_kind(param.value), typed_param_value(param.value, view.source)});
  return to_py_views(params, state);
}

std::string python_file_mod_repr(const PythonFileModView& view) {
  return "PythonFileMod('" + text_or_empty(view.record.self_key, view.source) + "', file='" +
         view.source.text(view.record.python_file) + "', " + std::to_string(view.record.params.count) + " params)";
}

std::string python_param_repr(const PythonParamView& param) {
  return "PythonParam(id=" + std::to_string(param.id) + ", " + param.param_type + "=" + param.value + ")";
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
              {"id", record_value<&PythonParamView::id>, "Parameter id."},
              {"param_type", record_value<&PythonParamView::param_type>,
               "The value with its kind, as Int(3) or String(\"s\")."},
              {"value", record_value<&PythonParamView::value>, "The value as text."},
              {"kind", [](const PythonParamView& param) { return new_str(param.kind); },
               "The kind of value: Int, Float, Bool, String, Key or None."},
              {"typed_value", typed_value_to_py,
               "The value as an int, float, bool, str or Key; None for an absent key or no value."},
          },
      .repr = python_param_repr,
  };
  return def;
}

PyTypeObject* create_python_param_type(PyObject* module) { return create_type<PythonParamView>(module); }

const RegisterView<PythonFileModData> register_python_file_mod_view;

}  // namespace lumivex::py
