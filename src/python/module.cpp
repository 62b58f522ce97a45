#include "core/class_index.h"
#include "python/classes.h"
#include "python/convert.h"

namespace lumivex::py {
namespace {

// The module's classes, in the order they are added to it: the order of
// TypeId, which keeps each in the module's state.
struct ClassEntry {
  const char* name;
  PyTypeObject* (*create)(PyObject* module);
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
  return boundary(Failure::Data, [&] {
    PyObject* arg = nullptr;
    parse_args(args, kwargs, "class_name", {"class_type"}, {&arg});
    return new_str(ClassIndex::class_name(arg_u16(arg, "class_name", "class_type")));
  });
}

PyMethodDef kFunctions[] = {
    {"class_name", function(class_name), METH_VARARGS | METH_KEYWORDS,
     "class_name(class_type)\n--\n\nLookup class type names by ID."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
  ModuleState& state = *static_cast<ModuleState*>(PyModule_GetState(module));
  return boundary(Failure::Data, [&] {
    for (std::size_t i = 0; i < std::size(kClasses); ++i) {
      PyTypeObject* type = kClasses[i].create(module);
      if (!type) throw PythonError{};
      state.types[i] = type;
      if (PyModule_AddObjectRef(module, kClasses[i].name, reinterpret_cast<PyObject*>(type)) < 0) throw PythonError{};
    }
    // Iterators are made by PrpFile only; their class is not a module attribute.
    state.types[static_cast<std::size_t>(TypeId::ObjectIterator)] = create_object_iterator_type(module);
    if (!state.type(TypeId::ObjectIterator)) throw PythonError{};
    // After the classes, as the order of the module's attributes says.
    if (PyModule_AddFunctions(module, kFunctions) < 0) throw PythonError{};
    state.os_error_classes = add_os_error_classes(module);
    return 0;
  });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (!state) return 0;
  for (PyTypeObject* type : state->types) Py_VISIT(type);
  Py_VISIT(state->os_error_classes);
  return 0;
}

int clear_module(PyObject* module) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (!state) return 0;
  for (PyTypeObject*& type : state->types) Py_CLEAR(type);
  Py_CLEAR(state->os_error_classes);
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "lumivex._lumivex",
    "lumivex Python module.",
    sizeof(ModuleState),
    nullptr,
    kSlots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace
}  // namespace lumivex::py

PyMODINIT_FUNC PyInit__lumivex() { return PyModuleDef_Init(&lumivex::py::kModule); }
