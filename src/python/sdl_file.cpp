#include <mutex>
#include <shared_mutex>

#include "core/text.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/lint.h"
#include "sdl/descriptor.h"
#include "sdl/lint.h"

namespace lumivex::py {
namespace {

// The one mutable value of the module. Loading runs without the interpreter
// lock, so a load holds the lock exclusively and a query holds it shared.
struct SdlHandle {
  SdlManager manager;
  std::shared_mutex lock;
};

// A descriptor handed out, read in place: a descriptor never changes once
// read and stays where it is while its SdlFile lives, which this keeps alive.
using DescriptorOf = PartOf<SdlHandle, const StateDescriptor*>;
using VariableOf = PartOf<DescriptorOf>;

// Its descriptor's variable.
VarDescriptor variable_of(const VariableOf& of) { return of.owner().place()->variable(of.place()); }

}  // namespace

template <>
const ClassDef<SdlHandle>& class_def<SdlHandle>();
template <>
const ClassDef<DescriptorOf>& class_def<DescriptorOf>();
template <>
const ClassDef<VariableOf>& class_def<VariableOf>();

namespace {

// Shared access for a query. A load may be waiting for the interpreter lock
// while it holds the manager's, so the query waits without it.
std::shared_lock<std::shared_mutex> shared_access(SdlHandle& handle) {
  std::shared_lock lock(handle.lock, std::try_to_lock);
  if (!lock.owns_lock()) {
    Py_BEGIN_ALLOW_THREADS lock.lock();
    Py_END_ALLOW_THREADS
  }
  return lock;
}

PyObject* new_sdl_file(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&] {
    parse_args(args, kwargs, "SdlFile", {}, {});
    return make<SdlHandle>(state_of(type));
  });
}

// load_file and load_directory: one path, a count of descriptors added.
template <std::size_t (SdlManager::*Load)(const std::string&, const InterruptCheck&)>
PyObject* load(PyObject* self, PyObject* args, PyObject* kwargs, const char* function) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, function, {"path"}, {&arg});
  const PathArg path = arg_path(arg, function, "path");
  SdlHandle& handle = unbox<SdlHandle>(self);
  const std::size_t count = on_file(state_of(self), path, [&] {
    return without_gil([&](const InterruptCheck& interrupt) {
      const std::unique_lock lock(handle.lock);
      return (handle.manager.*Load)(path.bytes, interrupt);
    });
  });
  return to_py(count);
}

PyObject* load_file(PyObject* self, PyObject* args, PyObject* kwargs) {
  return load<&SdlManager::load_file>(self, args, kwargs, "load_file");
}

PyObject* load_directory(PyObject* self, PyObject* args, PyObject* kwargs) {
  return load<&SdlManager::load_directory>(self, args, kwargs, "load_directory");
}

PyObject* lint(PyObject*, PyObject* args, PyObject* kwargs) { return lint_file(args, kwargs, lint_state_descriptions); }

PyObject* lint_text(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "lint_text", {"content"}, {&arg});
  const std::string content = arg_str(arg, "lint_text", "content");
  return lint_problems(static_method_state(), content, lint_state_descriptions);
}

PyObject* find(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* name_arg = nullptr;
  PyObject* version_arg = nullptr;
  parse_args(args, kwargs, "find", {"name", "version"}, {&name_arg, &version_arg});
  const std::string name = arg_str(name_arg, "find", "name");
  const uint32_t version = arg_u32(version_arg, "find", "version");
  SdlHandle& handle = unbox<SdlHandle>(self);
  const auto lock = shared_access(handle);
  const StateDescriptor* found = handle.manager.find(name, version);
  if (!found) Py_RETURN_NONE;
  return make<DescriptorOf>(state_of(self), self, found);
}

PyObject* descriptors(PyObject* self) {
  SdlHandle& handle = unbox<SdlHandle>(self);
  const auto lock = shared_access(handle);
  const ModuleState& state = state_of(self);
  return to_py_list(handle.manager.descriptors(),
                    [&](const StateDescriptor* descriptor) { return make<DescriptorOf>(state, self, descriptor); });
}

std::size_t size_of(SdlHandle& handle) {
  const auto lock = shared_access(handle);
  return handle.manager.size();
}

Py_ssize_t length(PyObject* self) { return static_cast<Py_ssize_t>(size_of(unbox<SdlHandle>(self))); }

PyObject* manager_repr(PyObject* self) {
  return new_str("SdlFile(" + std::to_string(size_of(unbox<SdlHandle>(self))) + " descriptors)");
}

std::string descriptor_repr(const DescriptorOf& of) {
  const StateDescriptor& descriptor = *of.place();
  return "SdlDescriptor('" + descriptor.name + "', v" + std::to_string(descriptor.version) + ", " +
         std::to_string(descriptor.variable_count()) + " vars)";
}

PyObject* variables(PyObject* self) {
  return parts_of<DescriptorOf>(self, unbox<DescriptorOf>(self).place()->variable_count());
}

std::string variable_repr(const VariableOf& of) {
  const VarDescriptor variable = variable_of(of);
  return "SdlVariable('" + std::string(variable.name) + "', type=" + std::string(sdl_type_name(variable.var_type)) +
         ", count=" + std::to_string(variable.count) + ", default=" + debug_optional(variable.default_value) + ")";
}

}  // namespace

template <>
const ClassDef<SdlHandle>& class_def<SdlHandle>() {
  static const ClassDef<SdlHandle> def{
      .id = TypeId::SdlFile,
      .qualified_name = "lumivex.SdlFile",
      .doc = "SDL state descriptor manager.",
      .methods =
          {
              method<load_file, Failure::File>("load_file", "load_file($self, path)\n--\n\nLoad a single .sdl file."),
              method<load_directory, Failure::File>(
                  "load_directory", "load_directory($self, path)\n--\n\nLoad all .sdl files from a directory."),
              method<find>("find",
                           "find($self, name, version)\n--\n\nFind a descriptor by name. Returns None if not found."),
              static_method<lint, Failure::File>(
                  "lint",
                  "lint(path)\n--\n\nList the problems of an .sdl file: each line the parser skips, guesses or "
                  "defaults, as LintProblem(line, text, reason) in line order; a file that is no state description "
                  "at all is one problem of line 0."),
              static_method<lint_text>("lint_text",
                                       "lint_text(content)\n--\n\nList the problems of .sdl content, as lint does "
                                       "for a file."),
              method<descriptors>("descriptors",
                                  "descriptors($self)\n--\n\nGet every descriptor, sorted by name, each name's "
                                  "versions in the order they were read."),
          },
      .slots =
          {
              {Py_tp_new, reinterpret_cast<void*>(new_sdl_file)},
              {Py_sq_length, reinterpret_cast<void*>(length_slot<length>)},
              {Py_tp_repr, reinterpret_cast<void*>(object_slot<manager_repr>)},
          },
  };
  return def;
}

template <>
const ClassDef<DescriptorOf>& class_def<DescriptorOf>() {
  static const ClassDef<DescriptorOf> def{
      .id = TypeId::SdlDescriptor,
      .qualified_name = "lumivex.SdlDescriptor",
      .properties =
          {
              {"name", [](const DescriptorOf& of) { return to_py(of.place()->name); }, "Descriptor name."},
              {"version", [](const DescriptorOf& of) { return to_py(of.place()->version); }, "Descriptor version."},
              {"variables", variables, "The descriptor's variables, in file order."},
          },
      .repr = descriptor_repr,
  };
  return def;
}

template <>
const ClassDef<VariableOf>& class_def<VariableOf>() {
  static const ClassDef<VariableOf> def{
      .id = TypeId::SdlVariable,
      .qualified_name = "lumivex.SdlVariable",
      .properties =
          {
              {"name", [](const VariableOf& v) { return to_py(variable_of(v).name); }, "Variable name."},
              {"var_type", [](const VariableOf& v) { return new_str(sdl_type_name(variable_of(v).var_type)); },
               "Type name: Int, Float, Bool, String32, ..."},
              {"count", [](const VariableOf& v) { return to_py(variable_of(v).count); },
               "Number of elements (0 for a list of any length)."},
              {"default_value", [](const VariableOf& v) { return to_py(variable_of(v).default_value); },
               "Default value as written, or None."},
          },
      .repr = variable_repr,
  };
  return def;
}

PyTypeObject* create_sdl_file_type(PyObject* module) { return create_type<SdlHandle>(module); }
PyTypeObject* create_sdl_descriptor_type(PyObject* module) { return create_type<DescriptorOf>(module); }
PyTypeObject* create_sdl_variable_type(PyObject* module) { return create_type<VariableOf>(module); }

}  // namespace lumivex::py
