#include "python/classes.h"
#include "python/page_classes.h"
#include "resource/prp/python_file_mod.h"

namespace lumivex::py {
namespace {

// A parameter with both renderings of its value, made once with its Python
// object.
struct PythonParamView {
  uint32_t id = 0;
  std::string param_type;
  std::string value;
};

using PythonFileModView = Decoded<PythonFileModData>;

}  // namespace

template <>
inline constexpr bool is_view_record<PythonParamView> = true;

namespace {

// Each parameter is read again and rendered when the list is asked for: a
// decode that never reads it pays nothing for them.
PyObject* param_list(const PythonFileModView& view) {
  return guarded(PyExc_ValueError, [&] {
    std::vector<PythonParamView> params;
    for (const PythonParam& param : view.record.read_params(view.bytes))
      params.push_back(
          {param.id, param_value_debug(param.value, view.bytes), param_value_text(param.value, view.bytes)});
    return to_py(params);
  });
}

std::string python_file_mod_repr(const PythonFileModView& view) {
  return "PythonFileMod('" + text_or_empty(view.record.self_key, view.bytes) + "', file='" +
         view.record.python_file.text(view.bytes) + "', " + std::to_string(view.record.params.count) + " params)";
}

std::string python_param_repr(const PythonParamView& param) {
  return "PythonParam(id=" + std::to_string(param.id) + ", " + param.param_type + "=" + param.value + ")";
}

}  // namespace

PyObject* as_python_file_mod(PyObject* self, PyObject* args) {
  return decode_as<PythonFileModData, &parse_python_file_mod>(self, args);
}

PyTypeObject* create_python_file_mod_type() {
  static const ClassDef<PythonFileModView> def{
      .qualified_name = "lumivex.PythonFileMod",
      .properties =
          {
              {"name", text_field<&PythonFileModData::self_key>},
              {"python_file", field<&PythonFileModData::python_file>},
              {"receiver_names",
               [](const PythonFileModView& m) { return to_py(m.record.receivers.present_names(m.bytes)); }},
              {"params", param_list},
          },
      .repr = python_file_mod_repr,
  };
  return create_type(def);
}

PyTypeObject* create_python_param_type() {
  static const ClassDef<PythonParamView> def{
      .qualified_name = "lumivex.PythonParam",
      .properties =
          {
              {"id", member<&PythonParamView::id>},
              {"param_type", member<&PythonParamView::param_type>},
              {"value", member<&PythonParamView::value>},
          },
      .repr = python_param_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
