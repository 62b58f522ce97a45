#include <mutex>
#include <optional>
#include <shared_mutex>

#include "bindings/classes.h"
#include "bindings/convert.h"
#include "bindings/lint.h"
#include "core/text.h"
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

// The view of an SdlFile by name, and an iteration over its names, which
// resumes after the last name it gave: names loaded meanwhile are met in
// their place.
struct SdlNames {
  Ref file;
};
struct SdlNameCursor {
  Ref file;
  std::optional<std::string> last;
  bool started = false;
};

// Its descriptor's variable.
VarDescriptor variable_of(const VariableOf& of) { return of.owner().place()->variable(of.place()); }

bool same_descriptor(const DescriptorOf& a, const DescriptorOf& b) { return *a.place() == *b.place(); }

std::size_t descriptor_hash(const DescriptorOf& of) { return hash_of({of.place()->name}, {of.place()->version}); }

bool same_variable(const VariableOf& a, const VariableOf& b) { return variable_of(a) == variable_of(b); }

std::size_t variable_hash(const VariableOf& of) {
  const VarDescriptor variable = variable_of(of);
  return hash_of({variable.name}, {variable.count, static_cast<uint64_t>(variable.var_type)});
}

}  // namespace

template <>
const ClassDef<SdlHandle>& class_def<SdlHandle>();
template <>
const ClassDef<DescriptorOf>& class_def<DescriptorOf>();
template <>
const ClassDef<VariableOf>& class_def<VariableOf>();
template <>
const ClassDef<SdlNames>& class_def<SdlNames>();
template <>
const ClassDef<SdlNameCursor>& class_def<SdlNameCursor>();

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

// One path loaded, a count of descriptors added.
template <class Load>
PyObject* load_path(PyObject* self, const PathArg& path, Load into) {
  SdlHandle& handle = unbox<SdlHandle>(self);
  const std::size_t count = on_file(state_of(self), path, [&] {
    return without_gil([&](const InterruptCheck& interrupt) {
      const std::unique_lock lock(handle.lock);
      return into(handle.manager, path.bytes, interrupt);
    });
  });
  return to_py(count);
}

// load_file and load_directory.
template <class Load>
PyObject* load(PyObject* self, PyObject* args, PyObject* kwargs, const char* function, Load into) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, function, {"path"}, {&arg});
  return load_path(self, arg_path(arg, function, "path"), into);
}

PyObject* load_file(PyObject* self, PyObject* args, PyObject* kwargs) {
  return load(self, args, kwargs, "load_file",
              [](SdlManager& manager, const std::string& path, const InterruptCheck& interrupt) {
                return manager.load_file(path, interrupt);
              });
}

PyObject* load_directory(PyObject* self, PyObject* args, PyObject* kwargs) {
  return load(self, args, kwargs, "load_directory",
              [](SdlManager& manager, const std::string& path, const InterruptCheck& interrupt) {
                return manager.load_directory(path, interrupt);
              });
}

PyObject* lint(PyObject*, PyObject* args, PyObject* kwargs) { return lint_file(args, kwargs, lint_state_descriptions); }

PyObject* lint_text(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "lint_text", {"content"}, {&arg});
  const std::string content = arg_str(arg, "lint_text", "content");
  return lint_problems(static_method_state(), content, lint_state_descriptions);
}

PyObject* descriptor_list(PyObject* file, const std::vector<const StateDescriptor*>& found) {
  const ModuleState& state = state_of(file);
  return to_py_list(found,
                    [&](const StateDescriptor* descriptor) { return make<DescriptorOf>(state, file, descriptor); });
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
  return descriptor_list(self, handle.manager.descriptors());
}

PyObject* versions(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "versions", {"name"}, {&arg});
  const std::string name = arg_str(arg, "versions", "name");
  SdlHandle& handle = unbox<SdlHandle>(self);
  const auto lock = shared_access(handle);
  return descriptor_list(self, handle.manager.versions(name));
}

PyObject* by_name(PyObject* self) { return make<SdlNames>(state_of(self), SdlNames{Ref::checked(Py_NewRef(self))}); }

// The newest descriptor of a name given as a str; nullptr for another object
// or a name no descriptor has.
PyObject* newest_of(PyObject* file, PyObject* name) {
  if (!PyUnicode_Check(name)) return nullptr;
  const std::string text = arg_str(name, "__getitem__", "key");
  SdlHandle& handle = unbox<SdlHandle>(file);
  const auto lock = shared_access(handle);
  const StateDescriptor* found = handle.manager.newest(text);
  return found ? make<DescriptorOf>(state_of(file), file, found) : nullptr;
}

PyObject* names_item(PyObject* self, PyObject* name) {
  PyObject* found = newest_of(unbox<SdlNames>(self).file.get(), name);
  if (!found) raise_key_error(name);
  return found;
}

int names_contains(PyObject* self, PyObject* name) {
  PyObject* found = newest_of(unbox<SdlNames>(self).file.get(), name);
  Py_XDECREF(found);
  return found != nullptr;
}

PyObject* names_get(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* name = nullptr;
  PyObject* default_value = nullptr;
  parse_args(args, kwargs, "get", {"key", "default"}, {&name, &default_value}, 1);
  PyObject* found = newest_of(unbox<SdlNames>(self).file.get(), name);
  if (found) return found;
  return Py_NewRef(default_value ? default_value : Py_None);
}

// keys(), values() and items() are the views collections.abc makes of a mapping.
template <const char* View>
PyObject* names_view(PyObject* self) {
  const Ref abc = Ref::checked(PyImport_ImportModule("collections.abc"));
  return checked(PyObject_CallMethod(abc.get(), View, "O", self));
}
constexpr char kKeysView[] = "KeysView";
constexpr char kValuesView[] = "ValuesView";
constexpr char kItemsView[] = "ItemsView";

Py_ssize_t names_length(PyObject* self) {
  SdlHandle& handle = unbox<SdlHandle>(unbox<SdlNames>(self).file.get());
  const auto lock = shared_access(handle);
  return static_cast<Py_ssize_t>(handle.manager.name_count());
}

PyObject* names_iterate(PyObject* self) {
  return make<SdlNameCursor>(
      state_of(self), SdlNameCursor{Ref::checked(Py_NewRef(unbox<SdlNames>(self).file.get())), std::nullopt, false});
}

PyObject* next_name(PyObject* self) {
  SdlNameCursor& cursor = unbox<SdlNameCursor>(self);
  if (cursor.started && !cursor.last) return nullptr;
  SdlHandle& handle = unbox<SdlHandle>(cursor.file.get());
  std::optional<std::string_view> next;
  {
    const auto lock = shared_access(handle);
    next = handle.manager.name_after(cursor.last);
  }
  cursor.started = true;
  if (!next) {
    cursor.last.reset();
    return nullptr;
  }
  cursor.last = std::string(*next);
  return new_str(*cursor.last);
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
      .properties =
          {
              {"by_name", by_name,
               "A read-only mapping from each name to its newest descriptor, which follows what is loaded."},
          },
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
              method<versions>("versions",
                               "versions($self, name)\n--\n\nEvery descriptor of a name, the oldest version first."),
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
      .equal = same_descriptor,
      .hash = descriptor_hash,
      .copies_as_itself = true,
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
      .equal = same_variable,
      .hash = variable_hash,
      .copies_as_itself = true,
  };
  return def;
}

template <>
const ClassDef<SdlNames>& class_def<SdlNames>() {
  static const ClassDef<SdlNames> def{
      .id = TypeId::SdlNames,
      .qualified_name = "lumivex.SdlNames",
      .methods =
          {
              method<names_get>("get",
                                "get($self, key, default=None)\n--\n\nThe newest descriptor of a name, or default."),
              method<names_view<kKeysView>>("keys", "keys($self)\n--\n\nA view of the names."),
              method<names_view<kValuesView>>("values",
                                              "values($self)\n--\n\nA view of each name's newest descriptor."),
              method<names_view<kItemsView>>("items", "items($self)\n--\n\nA view of (name, newest descriptor) pairs."),
          },
      .slots =
          {
              {Py_mp_length, reinterpret_cast<void*>(length_slot<names_length>)},
              {Py_mp_subscript, reinterpret_cast<void*>(binary_slot<names_item>)},
              {Py_sq_contains, reinterpret_cast<void*>(contains_slot<names_contains>)},
              {Py_tp_iter, reinterpret_cast<void*>(object_slot<names_iterate>)},
          },
  };
  return def;
}

template <>
const ClassDef<SdlNameCursor>& class_def<SdlNameCursor>() {
  static const ClassDef<SdlNameCursor> def{
      .id = TypeId::SdlNameIterator,
      .qualified_name = "lumivex.SdlNameIterator",
      .slots =
          {
              {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
              {Py_tp_iternext, reinterpret_cast<void*>(object_slot<next_name>)},
          },
  };
  return def;
}

PyObject* load_regular_sdl(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::File, [&] {
    PyObject* arg = nullptr;
    PyObject* inside = nullptr;
    parse_args(args, kwargs, "_load_regular_sdl", {"path", "inside"}, {&arg, &inside}, 1);
    const PathArg path = arg_path(arg, "_load_regular_sdl", "path");
    const FileRule rule = regular_file_rule(inside, "_load_regular_sdl");
    Ref sdl = Ref::checked(make<SdlHandle>(module_state(module)));
    const Ref count = Ref::checked(
        load_path(sdl.get(), path, [&](SdlManager& manager, const std::string& file, const InterruptCheck& interrupt) {
          return manager.load_file(file, interrupt, rule);
        }));
    return sdl.release();
  });
}

PyTypeObject* create_sdl_names_type(PyObject* module) { return create_type<SdlNames>(module); }
PyTypeObject* create_sdl_name_iterator_type(PyObject* module) { return create_type<SdlNameCursor>(module); }
PyTypeObject* create_sdl_file_type(PyObject* module) { return create_type<SdlHandle>(module); }
PyTypeObject* create_sdl_descriptor_type(PyObject* module) { return create_type<DescriptorOf>(module); }
PyTypeObject* create_sdl_variable_type(PyObject* module) { return create_type<VariableOf>(module); }

}  // namespace lumivex::py
