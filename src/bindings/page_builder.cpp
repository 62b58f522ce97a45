#include "resource/prp/page_builder.h"

#include "bindings/classes.h"
#include "bindings/key_class.h"
#include "bindings/page_classes.h"
#include "bindings/view_edit.h"
#include "core/text.h"

namespace lumivex::py {

// The value behind PageBuilder, the module's one mutable class: the objects
// being put together, and what the last rename rewrote and could not search.
struct BuilderValue {
  PageBuilder builder;
  uint64_t rewritten = 0;
  uint64_t unsearched = 0;
};

template <>
const ClassDef<BuilderValue>& class_def<BuilderValue>();

namespace {

// The key of a Key or of a PrpObject, or nothing for any other object.
std::optional<BuiltKey> key_of(PyObject* object, const ModuleState& state) {
  if (Py_TYPE(object) == state.type(TypeId::Key)) return unbox<KeyValue>(object);
  if (Py_TYPE(object) == state.type(TypeId::PrpObject)) {
    const PrpObjectValue& ref = unbox<PrpObjectValue>(object);
    return key_value(*ref.key, *ref.page);
  }
  return std::nullopt;
}

// The key of obj_or_key, which must be an object of the builder: a KeyError
// with the key where it is not.
BuiltKey held_key(PyObject* self, PyObject* object, const char* function) {
  const ModuleState& state = state_of(self);
  const std::optional<BuiltKey> key = key_of(object, state);
  if (!key) {
    PyErr_Format(PyExc_TypeError, "%s() argument 'obj_or_key' must be Key or PrpObject, not %.200s", function,
                 Py_TYPE(object)->tp_name);
    throw PythonError{};
  }
  if (!unbox<BuilderValue>(self).builder.contains(*key)) {
    const Ref shown = Ref::checked(new_key(state, *key));
    PyErr_SetObject(PyExc_KeyError, shown.get());
    throw PythonError{};
  }
  return *key;
}

PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    if (PyTuple_GET_SIZE(args) > 3) {
      PyErr_Format(PyExc_TypeError, "PageBuilder() takes 3 positional arguments but %zd were given",
                   PyTuple_GET_SIZE(args));
      throw PythonError{};
    }
    PyObject* age_arg = nullptr;
    PyObject* page_arg = nullptr;
    PyObject* sequence_arg = nullptr;
    PyObject* flags_arg = nullptr;
    parse_args(args, kwargs, "PageBuilder", {"age_name", "page_name", "sequence_number", "flags"},
               {&age_arg, &page_arg, &sequence_arg, &flags_arg}, 3);
    PageBuilder builder(arg_str(age_arg, "PageBuilder", "age_name"), arg_str(page_arg, "PageBuilder", "page_name"),
                        arg_u32(sequence_arg, "PageBuilder", "sequence_number"),
                        flags_arg ? arg_u16(flags_arg, "PageBuilder", "flags") : uint16_t{0});
    return make<BuilderValue>(state_of(type), BuilderValue{std::move(builder)});
  });
}

PyObject* from_page(PyObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "from_page", {"page"}, {&arg});
  const ModuleState& state = state_of(reinterpret_cast<PyTypeObject*>(type));
  if (Py_TYPE(arg) != state.type(TypeId::PrpFile)) {
    PyErr_Format(PyExc_TypeError, "from_page() argument 'page' must be PrpFile, not %.200s", Py_TYPE(arg)->tp_name);
    throw PythonError{};
  }
  return make<BuilderValue>(state, BuilderValue{PageBuilder::from_page(unbox<PrpFileValue>(arg).page)});
}

PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs) {
  const ModuleState& state = state_of(self);
  PageBuilder& builder = unbox<BuilderValue>(self).builder;
  if (PyTuple_GET_SIZE(args) == 1 && !(kwargs && PyDict_GET_SIZE(kwargs)))
    if (const std::optional<ViewOf> view = view_of(PyTuple_GET_ITEM(args, 0), state))
      return new_key(state, builder.add_object(view->class_type, view->bytes));
  PyObject* class_arg = nullptr;
  PyObject* name_arg = nullptr;
  PyObject* data_arg = nullptr;
  parse_args(args, kwargs, "add", {"class_type", "name", "data"}, {&class_arg, &name_arg, &data_arg});
  const uint16_t class_type = arg_u16(class_arg, "add", "class_type");
  std::string name = arg_str(name_arg, "add", "name");
  // Copied while the caller's buffer cannot change: a bytearray is locked
  // while it is exported.
  const HeldBytes data = HeldBytes::copy_of(BufferArg(data_arg, "add", "data").bytes());
  return new_key(state, builder.add(class_type, std::move(name), data));
}

PyObject* set(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* key_arg = nullptr;
  PyObject* data_arg = nullptr;
  parse_args(args, kwargs, "set", {"obj_or_key", "data"}, {&key_arg, &data_arg});
  const BuiltKey key = held_key(self, key_arg, "set");
  PageBuilder& builder = unbox<BuilderValue>(self).builder;
  if (const std::optional<ViewOf> view = view_of(data_arg, state_of(self))) {
    builder.set_object(key, view->class_type, view->bytes);
    Py_RETURN_NONE;
  }
  builder.set(key, HeldBytes::copy_of(BufferArg(data_arg, "set", "data", "a bytes-like object or a view").bytes()));
  Py_RETURN_NONE;
}

PyObject* remove(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* key_arg = nullptr;
  parse_args(args, kwargs, "remove", {"obj_or_key"}, {&key_arg});
  unbox<BuilderValue>(self).builder.remove(held_key(self, key_arg, "remove"));
  Py_RETURN_NONE;
}

PyObject* rename(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* key_arg = nullptr;
  PyObject* name_arg = nullptr;
  parse_args(args, kwargs, "rename", {"obj_or_key", "new_name"}, {&key_arg, &name_arg});
  const BuiltKey key = held_key(self, key_arg, "rename");
  BuilderValue& value = unbox<BuilderValue>(self);
  const Rename renamed = value.builder.rename(key, arg_str(name_arg, "rename", "new_name"));
  value.rewritten = renamed.references;
  value.unsearched = renamed.unsearched;
  return new_key(state_of(self), renamed.key);
}

PyObject* rename_references(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* key_arg = nullptr;
  PyObject* name_arg = nullptr;
  parse_args(args, kwargs, "rename_references", {"key", "new_name"}, {&key_arg, &name_arg});
  const std::optional<BuiltKey> key = key_of(key_arg, state_of(self));
  if (!key) {
    PyErr_Format(PyExc_TypeError, "rename_references() argument 'key' must be Key or PrpObject, not %.200s",
                 Py_TYPE(key_arg)->tp_name);
    throw PythonError{};
  }
  BuilderValue& value = unbox<BuilderValue>(self);
  const Rename renamed = value.builder.rename_references(*key, arg_str(name_arg, "rename_references", "new_name"));
  value.rewritten = renamed.references;
  value.unsearched = renamed.unsearched;
  return to_py(renamed.references);
}

// The renames as pairs of an object or key and its new name: a mapping's
// items, or an iterable's pairs, as dict.update takes them.
std::vector<NewName> renames_of(PyObject* self, PyObject* renames_arg) {
  const ModuleState& state = state_of(self);
  const PageBuilder& builder = unbox<BuilderValue>(self).builder;
  const int is_mapping = PyObject_HasAttrString(renames_arg, "keys");
  const Ref items = Ref::checked(is_mapping ? PyMapping_Items(renames_arg) : PySequence_List(renames_arg));
  std::vector<NewName> renames;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);
    const Ref pair = Ref::checked(PySequence_Fast(item, "rename_all() takes pairs of an object or key and a name"));
    if (PySequence_Fast_GET_SIZE(pair.get()) != 2) {
      PyErr_Format(PyExc_ValueError, "rename_all() takes pairs of an object or key and a name, not %zd items",
                   PySequence_Fast_GET_SIZE(pair.get()));
      throw PythonError{};
    }
    PyObject* key_arg = PySequence_Fast_GET_ITEM(pair.get(), 0);
    const std::optional<BuiltKey> key = key_of(key_arg, state);
    if (!key) {
      PyErr_Format(PyExc_TypeError, "rename_all() takes Key or PrpObject to rename, not %.200s",
                   Py_TYPE(key_arg)->tp_name);
      throw PythonError{};
    }
    // A key of this page's location that the builder does not hold is no
    // object of another page.
    if (!builder.contains(*key) && key->location_sequence == builder.header().sequence_number) {
      const Ref shown = Ref::checked(new_key(state, *key));
      PyErr_SetObject(PyExc_KeyError, shown.get());
      throw PythonError{};
    }
    renames.push_back({*key, arg_str(PySequence_Fast_GET_ITEM(pair.get(), 1), "rename_all", "new_name")});
  }
  return renames;
}

PyObject* rename_all(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* renames_arg = nullptr;
  parse_args(args, kwargs, "rename_all", {"renames"}, {&renames_arg});
  const std::vector<NewName> renames = renames_of(self, renames_arg);
  BuilderValue& value = unbox<BuilderValue>(self);
  const std::vector<Rename> results = value.builder.rename_all(renames);
  value.rewritten = 0;
  value.unsearched = 0;
  for (const Rename& result : results) {
    value.rewritten += result.references;
    value.unsearched += result.unsearched;
  }
  const ModuleState& state = state_of(self);
  return to_py_list(results, [&](const Rename& result) {
    const Ref key = Ref::checked(new_key(state, result.key));
    const Ref rewritten = Ref::checked(to_py(result.references));
    const Ref unsearched = Ref::checked(to_py(result.unsearched));
    return checked(PyTuple_Pack(3, key.get(), rewritten.get(), unsearched.get()));
  });
}

// Bodies are immutable and shared: a copy holds the same ones, and a deep
// copy is no deeper.
PyObject* copy_builder(PyObject* self) {
  const BuilderValue& value = unbox<BuilderValue>(self);
  return make<BuilderValue>(state_of(self), BuilderValue{value.builder, value.rewritten, value.unsearched});
}

PyObject* deep_copy_builder(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* memo = nullptr;
  parse_args(args, kwargs, "__deepcopy__", {"memo"}, {&memo});
  return copy_builder(self);
}

PyObject* new_page(PyObject* self) {
  return make<PrpFileValue>(state_of(self), PrpFileValue{unbox<BuilderValue>(self).builder.build()});
}

PyObject* save(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "save", {"path"}, {&arg});
  const PathArg path = arg_path(arg, "save", "path");
  const ModuleState& state = state_of(self);
  const std::shared_ptr<const PrpPage> page = unbox<BuilderValue>(self).builder.build();
  on_file(state, path,
          [&] { without_gil([&](const InterruptCheck& interrupt) { page->save(path.bytes, interrupt); }); });
  Py_RETURN_NONE;
}

Py_ssize_t length(PyObject* self) { return static_cast<Py_ssize_t>(unbox<BuilderValue>(self).builder.size()); }

// Iteration walks the keys as they are when it starts.
PyObject* iterate(PyObject* self) {
  const ModuleState& state = state_of(self);
  const Ref keys = Ref::checked(
      to_py_list(unbox<BuilderValue>(self).builder.keys(), [&](const BuiltKey* key) { return new_key(state, *key); }));
  return checked(PyObject_GetIter(keys.get()));
}

int contains(PyObject* self, PyObject* item) {
  const std::optional<BuiltKey> key = key_of(item, state_of(self));
  return key && unbox<BuilderValue>(self).builder.contains(*key);
}

std::string builder_repr(const BuilderValue& value) {
  const PageHeader& header = value.builder.header();
  return "PageBuilder('" + utf8_text(header.age_name_bytes) + "', '" + utf8_text(header.page_name_bytes) + "', " +
         std::to_string(value.builder.size()) + " objects)";
}

}  // namespace

template <>
const ClassDef<BuilderValue>& class_def<BuilderValue>() {
  static const ClassDef<BuilderValue> def{
      .id = TypeId::PageBuilder,
      .qualified_name = "lumivex.PageBuilder",
      .doc =
          "PageBuilder(age_name, page_name, sequence_number, *, flags=0)\n--\n\nA page put together object by "
          "object, then built into a new PrpFile. A new page has version 6, major version 70, checksum 0 and no "
          "class versions; objects of a class are kept together, in their order, new ones last.",
      .properties =
          {
              {"rewritten", [](const BuilderValue& value) { return to_py(value.rewritten); },
               "References to the renamed object that the last rename or rename_references rewrote (to the "
               "renamed objects, after rename_all), the object's own key in its bytes not counted; 0 before any "
               "rename."},
              {"unsearched", [](const BuilderValue& value) { return to_py(value.unsearched); },
               "Objects that may still refer to the old name after the last rename: those whose bytes hold it, "
               "stored as a name, where no key was read (of classes lumivex does not decode, whose bytes do not "
               "decode or decode only in part, or that store it otherwise); 0 before any rename."},
          },
      .methods =
          {
              {"from_page", function(call_args<from_page, Failure::Data>), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
               "from_page($cls, page)\n--\n\nA builder holding every object of a PrpFile, in its order, and its "
               "header."},
              method<add>(
                  "add",
                  "add($self, class_type, name=..., data=...)\n--\n\nAdd an object of the page's location with the "
                  "next free id of its class and return its Key; data is any bytes-like object, copied. The own "
                  "key the bytes hold, if any, becomes "
                  "that Key, and bytes of another class are a ValueError. add(view) adds a view's object: its "
                  "class and name are the view's, and its own key in its bytes becomes the new key."),
              method<set>("set",
                          "set($self, obj_or_key, data)\n--\n\nReplace the bytes of an object by bytes (any "
                          "bytes-like object, copied), or by a "
                          "view of its class, whose own key then becomes the object's; bytes or a view of another "
                          "class are a ValueError."),
              method<remove>("remove",
                             "remove($self, obj_or_key)\n--\n\nRemove an object; the others keep their ids, and "
                             "references to it are left dangling."),
              method<rename>("rename",
                             "rename($self, obj_or_key, new_name)\n--\n\nRename an object: its key, its own key in "
                             "its bytes and every reference to it a decoder finds in the page. Returns the new Key; "
                             "rewritten then counts those references, and unsearched the objects that may still refer "
                             "to the old name."),
              method<rename_references>(
                  "rename_references",
                  "rename_references($self, key, new_name)\n--\n\nFollow the rename of an object of another page: "
                  "rewrite every reference to its key that a decoder finds in this page. Returns the number of "
                  "references rewritten; unsearched then counts the objects that may still refer to the old name."),
              method<rename_all>(
                  "rename_all",
                  "rename_all($self, renames)\n--\n\nRename several objects at once, in one pass over the page: "
                  "renames gives each object or key its new name, as a mapping or as pairs. An object of this page "
                  "is renamed as rename() renames it; a key of another page has its references here followed, as "
                  "rename_references() follows them. The names change together, so objects may swap names or pass "
                  "them along; an object given twice, or a name two objects of a class would hold, is a ValueError "
                  "and nothing changes. Returns (new Key, references rewritten, objects that may still refer to the "
                  "old name) for each, in order; rewritten and unsearched then hold their sums."),
              method<new_page>("build",
                               "build($self)\n--\n\nA new PrpFile of the objects, in the writer's normal "
                               "form."),
              method<save, Failure::File>("save",
                                          "save($self, path)\n--\n\nBuild the page and save it as "
                                          "PrpFile.save does."),
              method<copy_builder>("__copy__",
                                   "__copy__($self, /)\n--\n\nA new builder of the same objects and "
                                   "header, whose changes leave this one as it is."),
              method<deep_copy_builder>("__deepcopy__",
                                        "__deepcopy__($self, memo, /)\n--\n\nAs __copy__: the objects' bytes "
                                        "never change, so they are shared."),
          },
      .repr = builder_repr,
      .slots =
          {
              {Py_tp_new, reinterpret_cast<void*>(create)},
              {Py_sq_length, reinterpret_cast<void*>(length_slot<length>)},
              {Py_tp_iter, reinterpret_cast<void*>(object_slot<iterate>)},
              {Py_sq_contains, reinterpret_cast<void*>(contains_slot<contains>)},
          },
  };
  return def;
}

PyTypeObject* create_page_builder_type(PyObject* module) { return create_type<BuilderValue>(module); }

}  // namespace lumivex::py
