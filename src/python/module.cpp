#include "core/class_index.h"
#include "python/classes.h"
#include "python/convert.h"

namespace lumivex::py {
namespace {

// The module's classes, in the order they are added to it.
struct ClassEntry {
  const char* name;
  PyTypeObject* (*create)();
};
const ClassEntry kClasses[] = {
    {"PrpFile", create_prp_file_type},
    {"PrpObject", create_prp_object_type},
    {"PageHeaderInfo", create_page_header_info_type},
    {"SceneObject", create_scene_object_type},
    {"Mipmap", create_mipmap_type},
    {"Material", create_material_type},
    {"Layer", create_layer_type},
    {"PythonFileMod", create_python_file_mod_type},
    {"PythonParam", create_python_param_type},
    {"ResponderMod", create_responder_mod_type},
    {"PhysicalData", create_physical_data_type},
    {"SoundInfo", create_sound_info_type},
    {"AgeFile", create_age_file_type},
    {"PageEntry", create_page_entry_type},
    {"SdlFile", create_sdl_file_type},
    {"SdlDescriptor", create_sdl_descriptor_type},
    {"SdlVariable", create_sdl_variable_type},
};

PyObject* class_name(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  uint16_t class_type = 0;
  if (!parse_args(args, kwargs, "class_name", {"class_type"}, {&arg}) ||
      !arg_u16(arg, "class_name", "class_type", class_type))
    return nullptr;
  return new_str(std::string(ClassIndex::class_name(class_type)));
}

PyMethodDef kFunctions[] = {
    {"class_name", function(class_name), METH_VARARGS | METH_KEYWORDS,
     "class_name(class_type)\n--\n\nLookup class type names by ID."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "lumivex", "lumivex Python module.", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace lumivex::py

PyMODINIT_FUNC PyInit_lumivex() {
  using namespace lumivex::py;
  PyObject* module = PyModule_Create(&kModule);
  if (!module) return nullptr;
  for (const ClassEntry& entry : kClasses) {
    PyTypeObject* type = entry.create();
    if (!type || PyModule_AddObjectRef(module, entry.name, reinterpret_cast<PyObject*>(type)) < 0) {
      Py_DECREF(module);
      return nullptr;
    }
  }
  // Iterators are made by PrpFile only; their class is not a module attribute.
  if (!create_object_iterator_type()) {
    Py_DECREF(module);
    return nullptr;
  }
  if (PyModule_AddFunctions(module, kFunctions) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
