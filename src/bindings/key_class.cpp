#include "bindings/key_class.h"

#include "bindings/convert.h"
#include "core/class_index.h"
#include "core/text.h"

namespace lumivex::py {

KeyValue key_value(const Uoid& key, std::string name_bytes) { return {built_key(key, std::move(name_bytes))}; }

KeyValue key_value(const Uoid& key, const Source& source) { return {built_key(key, source)}; }

KeyValue key_value(const ObjectKey& key, const PrpPage& page) {
  return {{key.location_sequence, key.location_flags, key.load_mask, key.class_type, key.object_id,
           page.key_name_bytes(key), key.clone_id, key.clone_player_id}};
}

PyObject* new_key(const ModuleState& state, const BuiltKey& key) { return make<KeyValue>(state, KeyValue{key}); }

PyObject* key_or_none(const std::optional<Uoid>& key, const Source& source, const ModuleState& state) {
  if (!key) Py_RETURN_NONE;
  return make<KeyValue>(state, key_value(*key, source));
}

PyObject* key_or_none(const StoredKey& key, const Source& source, const ModuleState& state) {
  if (!key) Py_RETURN_NONE;
  return make<KeyValue>(state, key_value(read_key(source, key), source));
}

PyObject* present_keys(const KeyList& list, const Source& source, const ModuleState& state) {
  return to_py_list(list.present_keys(source),
                    [&](const Uoid& key) { return make<KeyValue>(state, key_value(key, source)); });
}

namespace {

std::string key_text_repr(const KeyValue& key) { return built_key_repr(key); }

bool same_key(const KeyValue& a, const KeyValue& b) { return a == b; }

// A field of the key the Key holds.
template <auto Member>
PyObject* key_field(const KeyValue& key) {
  return to_py(key.*Member);
}

std::size_t key_hash(const KeyValue& key) {
  return hash_of({key.name_bytes}, {key.location_sequence, key.location_flags, key.load_mask, key.class_type,
                                    key.object_id, key.clone_id, key.clone_player_id});
}

// A key pickles and copies as its class's _from_fields and its fields, the
// name as its stored bytes.
PyObject* reduce_key(PyObject* self) {
  const KeyValue& key = unbox<KeyValue>(self);
  const Ref rebuild = Ref::checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_fields"));
  return checked(Py_BuildValue(
      "(O(kHBHky#Hk))", rebuild.get(), static_cast<unsigned long>(key.location_sequence), key.location_flags,
      key.load_mask, key.class_type, static_cast<unsigned long>(key.object_id), key.name_bytes.data(),
      static_cast<Py_ssize_t>(key.name_bytes.size()), key.clone_id, static_cast<unsigned long>(key.clone_player_id)));
}

PyObject* from_fields(PyObject*, PyObject* args, PyObject* kwargs) {
  if (kwargs && PyDict_GET_SIZE(kwargs)) {
    PyErr_SetString(PyExc_TypeError, "_from_fields() takes no keyword arguments");
    throw PythonError{};
  }
  unsigned long location_sequence = 0;
  unsigned short location_flags = 0;
  unsigned char load_mask = 0;
  unsigned short class_type = 0;
  unsigned long object_id = 0;
  const char* name = nullptr;
  Py_ssize_t name_size = 0;
  unsigned short clone_id = 0;
  unsigned long clone_player_id = 0;
  if (!PyArg_ParseTuple(args, "kHBHky#Hk:_from_fields", &location_sequence, &location_flags, &load_mask, &class_type,
                        &object_id, &name, &name_size, &clone_id, &clone_player_id))
    throw PythonError{};
  return make<KeyValue>(static_method_state(), KeyValue{{static_cast<uint32_t>(location_sequence), location_flags,
                                                         load_mask, class_type, static_cast<uint32_t>(object_id),
                                                         std::string(name, static_cast<std::size_t>(name_size)),
                                                         clone_id, static_cast<uint32_t>(clone_player_id)}});
}

}  // namespace

template <>
const ClassDef<KeyValue>& class_def<KeyValue>() {
  static const ClassDef<KeyValue> def{
      .id = TypeId::Key,
      .qualified_name = "lumivex.Key",
      .doc = "A reference to an object: where it lives, its class, id and name. Keys with the same fields are equal.",
      .properties =
          {
              {"location_sequence", key_field<&KeyValue::location_sequence>,
               "Sequence number of the page (location) the object belongs to."},
              {"location_flags", key_field<&KeyValue::location_flags>, "Flags of that location."},
              {"load_mask", key_field<&KeyValue::load_mask>, "Load-mask byte (0xFF when the key has none)."},
              {"class_type", key_field<&KeyValue::class_type>, "Class type ID of the object."},
              {"class_name", [](const KeyValue& key) { return new_str(ClassIndex::class_name(key.class_type)); },
               "Human-readable class type name."},
              {"object_id", key_field<&KeyValue::object_id>, "Object ID."},
              {"name", [](const KeyValue& key) { return text_object(key.name_bytes); }, "Object name."},
              {"clone_id", key_field<&KeyValue::clone_id>, "Clone ID (0 when not a clone)."},
              {"clone_player_id", key_field<&KeyValue::clone_player_id>, "Clone player ID (0 when not a clone)."},
          },
      .methods =
          {
              method<reduce_key>("__reduce__", nullptr),
              static_method<from_fields>("_from_fields", nullptr),
          },
      .repr = key_text_repr,
      .equal = same_key,
      .hash = key_hash,
      .copies_as_itself = true,
  };
  return def;
}

PyTypeObject* create_key_type(PyObject* module) { return create_type<KeyValue>(module); }

}  // namespace lumivex::py
