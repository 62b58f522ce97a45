#include "core/text.h"
#include "python/classes.h"
#include "python/convert.h"
#include "sdl/descriptor.h"

namespace lumivex::py {

template <>
inline constexpr bool is_view_record<VarDescriptor> = true;
template <>
inline constexpr bool is_view_record<StateDescriptor> = true;

namespace {

PyObject* new_sdl_file(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  if (!parse_args(args, kwargs, "SdlFile", {}, {})) return nullptr;
  return guarded(PyExc_OSError, [] { return make(SdlManager{}); });
}

// load_file and load_directory: one path, a count of descriptors added.
template <std::size_t (SdlManager::*Load)(const std::string&, const InterruptCheck&)>
PyObject* load(PyObject* self, PyObject* args, PyObject* kwargs, const char* function) {
  PyObject* arg = nullptr;
  std::string path;
  if (!parse_args(args, kwargs, function, {"path"}, {&arg}) || !arg_str(arg, function, "path", path)) return nullptr;
  return guarded(PyExc_OSError, [&] { return to_py((unbox<SdlManager>(self).*Load)(path, {})); });
}

PyObject* load_file(PyObject* self, PyObject* args, PyObject* kwargs) {
  return load<&SdlManager::load_file>(self, args, kwargs, "load_file");
}

PyObject* load_directory(PyObject* self, PyObject* args, PyObject* kwargs) {
  return load<&SdlManager::load_directory>(self, args, kwargs, "load_directory");
}

PyObject* find(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* name_arg = nullptr;
  PyObject* version_arg = nullptr;
  std::string name;
  uint32_t version = 0;
  if (!parse_args(args, kwargs, "find", {"name", "version"}, {&name_arg, &version_arg}) ||
      !arg_str(name_arg, "find", "name", name) || !arg_u32(version_arg, "find", "version", version))
    return nullptr;
  const StateDescriptor* found = unbox<SdlManager>(self).find(name, version);
  if (!found) Py_RETURN_NONE;
  // A copy, so that later loads never change what was handed out.
  return guarded(PyExc_ValueError, [&] { return make(*found); });
}

PyObject* descriptors(PyObject* self, PyObject*) {
  // Copies, like find's.
  return guarded(PyExc_ValueError, [&] {
    std::vector<StateDescriptor> copies;
    for (const StateDescriptor* descriptor : unbox<SdlManager>(self).descriptors()) copies.push_back(*descriptor);
    return to_py(copies);
  });
}

Py_ssize_t length(PyObject* self) { return static_cast<Py_ssize_t>(unbox<SdlManager>(self).size()); }

std::string manager_repr(const SdlManager& manager) {
  return "SdlFile(" + std::to_string(manager.size()) + " descriptors)";
}

std::string descriptor_repr(const StateDescriptor& descriptor) {
  return "SdlDescriptor('" + descriptor.name + "', v" + std::to_string(descriptor.version) + ", " +
         std::to_string(descriptor.variables.size()) + " vars)";
}

std::string variable_repr(const VarDescriptor& variable) {
  const std::string* default_value = variable.default_value ? &*variable.default_value : nullptr;
  return "SdlVariable('" + variable.name + "', type=" + std::string(sdl_type_name(variable.var_type)) +
         ", count=" + std::to_string(variable.count) + ", default=" + debug_optional(default_value) + ")";
}

}  // namespace

PyTypeObject* create_sdl_file_type() {
  static const ClassDef<SdlManager> def{
      .qualified_name = "lumivex.SdlFile",
      .doc = "SDL state descriptor manager.",
      .methods =
          {
              {"load_file", function(load_file), METH_VARARGS | METH_KEYWORDS,
               "load_file($self, path)\n--\n\nLoad a single .sdl file."},
              {"load_directory", function(load_directory), METH_VARARGS | METH_KEYWORDS,
               "load_directory($self, path)\n--\n\nLoad all .sdl files from a directory."},
              {"find", function(find), METH_VARARGS | METH_KEYWORDS,
               "find($self, name, version)\n--\n\nFind a descriptor by name. Returns None if not found."},
              {"descriptors", function(descriptors), METH_NOARGS,
               "descriptors($self)\n--\n\nGet every descriptor, sorted by name, each name's versions in the order they "
               "were read."},
          },
      .repr = manager_repr,
      .slots =
          {
              {Py_tp_new, reinterpret_cast<void*>(new_sdl_file)},
              {Py_sq_length, reinterpret_cast<void*>(length)},
          },
  };
  return create_type(def);
}

PyTypeObject* create_sdl_descriptor_type() {
  static const ClassDef<StateDescriptor> def{
      .qualified_name = "lumivex.SdlDescriptor",
      .properties =
          {
              {"name", member<&StateDescriptor::name>},
              {"version", member<&StateDescriptor::version>},
              {"variables", member<&StateDescriptor::variables>},
          },
      .repr = descriptor_repr,
  };
  return create_type(def);
}

PyTypeObject* create_sdl_variable_type() {
  static const ClassDef<VarDescriptor> def{
      .qualified_name = "lumivex.SdlVariable",
      .properties =
          {
              {"name", member<&VarDescriptor::name>},
              {"var_type", [](const VarDescriptor& v) { return new_str(std::string(sdl_type_name(v.var_type))); }},
              {"count", member<&VarDescriptor::count>},
              {"default_value", member<&VarDescriptor::default_value>},
          },
      .repr = variable_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
