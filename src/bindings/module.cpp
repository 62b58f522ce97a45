#include <cfloat>
#include <cmath>

#include "bindings/classes.h"
#include "bindings/convert.h"
#include "bindings/lint.h"
#include "core/class_index.h"
#include "core/text.h"

namespace lumivex::py {

std::array<ViewClass, kDecoderCount>& view_classes() {
  static std::array<ViewClass, kDecoderCount> classes;
  return classes;
}

namespace {

struct ClassEntry {
  const char* name;
  TypeId id;
  TypeCreator create;
};

// The module's classes before and after the decoders' views, in the order
// they are added to it; Key is the newest, and comes last.
const ClassEntry kPageClasses[] = {
    {"PrpFile", TypeId::PrpFile, create_prp_file_type},
    {"PrpObject", TypeId::PrpObject, create_prp_object_type},
    {"PageHeaderInfo", TypeId::PageHeaderInfo, create_page_header_info_type},
};
const ClassEntry kTextClasses[] = {
    {"AgeFile", TypeId::AgeFile, create_age_file_type},
    {"PageEntry", TypeId::PageEntry, create_page_entry_type},
    {"SdlFile", TypeId::SdlFile, create_sdl_file_type},
    {"SdlDescriptor", TypeId::SdlDescriptor, create_sdl_descriptor_type},
    {"SdlVariable", TypeId::SdlVariable, create_sdl_variable_type},
    {"Key", TypeId::Key, create_key_type},
    {"PageBuilder", TypeId::PageBuilder, create_page_builder_type},
};

const ClassEntry kHiddenClasses[] = {
    {"ObjectIterator", TypeId::ObjectIterator, create_object_iterator_type},
    {"SdlNames", TypeId::SdlNames, create_sdl_names_type},
    {"SdlNameIterator", TypeId::SdlNameIterator, create_sdl_name_iterator_type},
};

// The names of an SdlFile are a Mapping to collections.abc, which gives them
// the mapping's other methods.
void register_sdl_names_as_mapping(const ModuleState& state) {
  const Ref abc = Ref::checked(PyImport_ImportModule("collections.abc"));
  const Ref mapping = Ref::checked(PyObject_GetAttrString(abc.get(), "Mapping"));
  const Ref registered = Ref::checked(
      PyObject_CallMethod(mapping.get(), "register", "O", reinterpret_cast<PyObject*>(state.type(TypeId::SdlNames))));
}

PyObject* class_name(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&] {
    PyObject* arg = nullptr;
    parse_args(args, kwargs, "class_name", {"class_type"}, {&arg});
    return new_str(ClassIndex::class_name(arg_u16(arg, "class_name", "class_type")));
  });
}

// The shortest text of a single-precision value, as the reprs show it; None
// for a number no 32-bit float holds, which only Python's own repr shows.
PyObject* float_text_of(PyObject*, PyObject* value) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    if (!PyFloat_Check(value)) {
      PyErr_Format(PyExc_TypeError, "_float_text() argument must be float, not %.200s", Py_TYPE(value)->tp_name);
      throw PythonError{};
    }
    const double number = PyFloat_AS_DOUBLE(value);
    const bool single = std::isnan(number) || std::isinf(number) ||
                        (std::fabs(number) <= FLT_MAX && static_cast<double>(static_cast<float>(number)) == number);
    if (!single) Py_RETURN_NONE;
    return new_str(float_text(static_cast<float>(number)));
  });
}

PyMethodDef kFunctions[] = {
    {"_float_text", float_text_of, METH_O,
     "_float_text(value, /)\n--\n\nThe shortest positional text that reads back as the same single-precision "
     "value ('0.5', '3', '0.00001', 'NaN', 'inf'); None for a float that no single-precision value equals."},
    {"class_name", function(class_name), METH_VARARGS | METH_KEYWORDS,
     "class_name(class_type)\n--\n\nLookup class type names by ID."},
    {"_resolve_references", function(resolve_references), METH_VARARGS | METH_KEYWORDS,
     "_resolve_references(pages, problems_only, shared, each)\n--\n\nDecode every object of the pages whose class a "
     "decoder is for and resolve each reference it reads among the pages' keys. Calls shared once with [(page index, "
     "first object, count)], the objects of a page that share a location, class and name; then each with lists of "
     "(page index, source, status, field, key, target), a stretch of references at a time, in page and index order, "
     "with status 'found', 'other id', 'missing', 'outside' or 'undecodable' (then field is the decode's error and "
     "key is None); with problems_only, found references are only counted. Returns the number of references."},
    {"_paired_objects", function(paired_objects), METH_VARARGS | METH_KEYWORDS,
     "_paired_objects(a, b)\n--\n\nThe objects of two PrpFiles paired by class and name, several of one class "
     "and name in index order: ([(index in a, index in b)] of the pairs whose bytes or keys differ, in a's order; "
     "the indexes of the objects only in a; those only in b)."},
    {"_refused_pages", function(refused_pages), METH_VARARGS | METH_KEYWORDS,
     "_refused_pages(age)\n--\n\nThe pages of an AgeFile whose names are not plain file names, so that no page "
     "file is looked for: [(line, name, reason)] in list order."},
    {"_load_regular_page", function(load_regular_page), METH_VARARGS | METH_KEYWORDS,
     "_load_regular_page(path, inside=None)\n--\n\nLoad a page as PrpFile.load does, but open the file without "
     "waiting and refuse anything but a regular file, so that a file replaced by a FIFO never blocks. With inside, "
     "a folder, refuse a file whose real path, as the system opened it, lies outside it."},
    {"_load_regular_age", function(load_regular_age), METH_VARARGS | METH_KEYWORDS,
     "_load_regular_age(path, inside=None)\n--\n\nLoad an .age file as AgeFile.load does, but open the file "
     "without waiting and refuse anything but a regular file. With inside, "
     "a folder, refuse a file whose real path, as the system opened it, lies outside it."},
    {"_load_regular_sdl", function(load_regular_sdl), METH_VARARGS | METH_KEYWORDS,
     "_load_regular_sdl(path, inside=None)\n--\n\nA new SdlFile with one file loaded as load_file does, but "
     "open the file without waiting and refuse anything but a regular file. With inside, "
     "a folder, refuse a file whose real path, as the system opened it, lies outside it."},
    {"save_file", function(save_file), METH_VARARGS | METH_KEYWORDS,
     "save_file(path, data)\n--\n\nWrite bytes to a file as PrpFile.save writes a page: through a new file "
     "renamed over the old one where it can be, else in place, leaving the old content whole on any failure it "
     "sees."},
    {"save_files", function(save_files), METH_VARARGS | METH_KEYWORDS,
     "save_files(files, *, in_place=False, dry_run=False)\n--\n\nWrite several files, given as (path, data) pairs, as "
     "one change as nearly as the file system allows: every new file is written and synced beside its target "
     "before the first is renamed over it, so that a failure up to there changes nothing; a failure after it names the "
     "files replaced and those left as they were. A file that could only be written in place (other hard "
     "links, a folder that takes no new files, an owner that cannot be kept) is refused before anything is "
     "written, unless in_place. With dry_run, only what comes before the writing: every file is checked and "
     "its new file made and removed, so that a save that would be refused is, and nothing is written; a file "
     "that is not a regular one is checked for the right to write it, not opened. A failure of the system is the "
     "OSError of its errno, whose filename is the path of the file it is about."},
    {"enable_logging", function(enable_logging), METH_VARARGS | METH_KEYWORDS,
     "enable_logging(level='warn')\n--\n\nForward the records of the readers at this level and the more severe "
     "ones ('error', 'warn', 'info', 'debug' or 'trace') to Python's logging: to the logger 'lumivex' and its "
     "children named after the emitting module, as 'lumivex.sdl.descriptor'."},
    {"disable_logging", disable_logging, METH_NOARGS,
     "disable_logging()\n--\n\nStop forwarding records: nothing is logged, as before enable_logging."},
    {nullptr, nullptr, 0, nullptr},
};

void add_class(PyObject* module, ModuleState& state, const char* name, TypeId id, TypeCreator create) {
  PyTypeObject* type = create(module);
  if (!type) throw PythonError{};
  state.types[static_cast<std::size_t>(id)] = type;
  if (PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) < 0) throw PythonError{};
}

// __all__: the classes and functions added so far whose names are public, in
// the order they were added, so that the package takes the views of new
// decoders without naming them.
void add_public_names(PyObject* module) {
  const Ref names = Ref::checked(PyList_New(0));
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t position = 0;
  PyObject* attributes = PyModule_GetDict(module);
  while (PyDict_Next(attributes, &position, &key, &value)) {
    if (PyUnicode_READ_CHAR(key, 0) == '_') continue;
    if (PyList_Append(names.get(), key) < 0) throw PythonError{};
  }
  if (PyModule_AddObjectRef(module, "__all__", names.get()) < 0) throw PythonError{};
}

// The class each decoder is for, mapped to the PrpObject method that runs it,
// in the order of the methods: what Python-side code lists decoders by.
PyObject* decoder_methods() {
  const Ref methods = Ref::checked(PyDict_New());
  for_each_decoder([&](const auto& row, std::size_t) {
    const Ref class_type = Ref::checked(to_py(row.class_type));
    const Ref method = Ref::checked(new_str(row.method));
    if (PyDict_SetItem(methods.get(), class_type.get(), method.get()) < 0) throw PythonError{};
  });
  return checked(PyDictProxy_New(methods.get()));
}

int exec_module(PyObject* module) {
  ModuleState& state = module_state(module);
  return boundary(Failure::Data, [&] {
    for (const ClassEntry& entry : kPageClasses) add_class(module, state, entry.name, entry.id, entry.create);
    for_each_decoder([&](const auto& row, std::size_t index) {
      const ViewClass& view = view_classes()[index];
      if (!view.create) {
        PyErr_Format(PyExc_ImportError, "lumivex: no view class for %s", row.method);
        throw PythonError{};
      }
      add_class(module, state, row.view, static_cast<TypeId>(static_cast<std::size_t>(TypeId::FirstView) + index),
                view.create);
      for (const NestedClass& nested : *view.nested) add_class(module, state, nested.name, nested.id, nested.create);
    });
    for (const ClassEntry& entry : kTextClasses) add_class(module, state, entry.name, entry.id, entry.create);
    state.lint_problem_class = create_lint_problem_class();
    if (PyModule_AddObjectRef(module, "LintProblem", state.lint_problem_class) < 0) throw PythonError{};
    // Classes whose instances other classes make; they are not module attributes.
    for (const ClassEntry& entry : kHiddenClasses) {
      state.types[static_cast<std::size_t>(entry.id)] = entry.create(module);
      if (!state.type(entry.id)) throw PythonError{};
    }
    register_sdl_names_as_mapping(state);
    // After the classes, as the order of the module's attributes says.
    if (PyModule_AddFunctions(module, kFunctions) < 0) throw PythonError{};
    add_public_names(module);
    const Ref methods = Ref::checked(decoder_methods());
    if (PyModule_AddObjectRef(module, "decoder_methods", methods.get()) < 0) throw PythonError{};
    state.os_error_classes = add_os_error_classes(module);
    return 0;
  });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (!state) return 0;
  for (PyTypeObject* type : state->types) Py_VISIT(type);
  Py_VISIT(state->os_error_classes);
  Py_VISIT(state->lint_problem_class);
  return 0;
}

int clear_module(PyObject* module) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (!state) return 0;
  for (PyTypeObject*& type : state->types) Py_CLEAR(type);
  Py_CLEAR(state->os_error_classes);
  Py_CLEAR(state->lint_problem_class);
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

// Every object of the module lives in its state, one per interpreter; the
// interpreter lock is relied on, as the test suite has not run without it.
PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
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

ModuleState& static_method_state() {
  // Each interpreter has its own sys.modules, and in it its own instance.
  const Ref name = Ref::checked(PyUnicode_FromString(kModule.m_name));
  PyObject* found = PyImport_GetModule(name.get());
  if (!found && PyErr_Occurred()) throw PythonError{};
  const Ref module = Ref::checked(found ? found : PyImport_Import(name.get()));
  if (PyModule_GetDef(module.get()) != &kModule) {
    PyErr_Format(PyExc_ImportError, "sys.modules[%R] is not lumivex's extension module", name.get());
    throw PythonError{};
  }
  return module_state(module.get());
}

}  // namespace lumivex::py

PyMODINIT_FUNC PyInit__lumivex() { return PyModuleDef_Init(&lumivex::py::kModule); }
