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

struct PythonFileModView {
  std::string name;
  std::string python_file;
  std::vector<std::string> receiver_names;
  // Rendered when the params list is read: a decode that never reads it
  // pays nothing for them.
  std::vector<PythonParam> params;
};

}  // namespace

template <>
inline constexpr bool is_view_record<PythonParamView> = true;

namespace {

PythonFileModView python_file_mod_view(std::span<const uint8_t> object_bytes) {
  PythonFileModData data = parse_python_file_mod(object_bytes);
  PythonFileModView view;
  if (data.self_key) view.name = std::move(data.self_key->name);
  view.python_file = std::move(data.python_file);
  view.receiver_names.reserve(data.receivers.size());
  for (Uoid& receiver : data.receivers) view.receiver_names.push_back(std::move(receiver.name));
  view.params = std::move(data.params);
  return view;
}

PyObject* param_list(const PythonFileModView& view) {
  return guarded(PyExc_ValueError, [&] {
    std::vector<PythonParamView> params;
    params.reserve(view.params.size());
    for (const PythonParam& param : view.params)
      params.push_back({param.id, param_value_debug(param.value), param_value_text(param.value)});
    return to_py(params);
  });
}

std::string python_file_mod_repr(const PythonFileModView& view) {
  return "PythonFileMod('" + view.name + "', file='" + view.python_file + "', " + std::to_string(view.params.size()) +
         " params)";
}

std::string python_param_repr(const PythonParamView& param) {
  return "PythonParam(id=" + std::to_string(param.id) + ", " + param.param_type + "=" + param.value + ")";
}

}  // namespace

PyObject* as_python_file_mod(PyObject* self, PyObject* args) {
  return decode_as<PythonFileModView, &python_file_mod_view>(self, args);
}

PyTypeObject* create_python_file_mod_type() {
  static const ClassDef<PythonFileModView> def{
      .qualified_name = "lumivex.PythonFileMod",
      .properties =
          {
              {"name", member<&PythonFileModView::name>},
              {"python_file", member<&PythonFileModView::python_file>},
              {"receiver_names", member<&PythonFileModView::receiver_names>},
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
