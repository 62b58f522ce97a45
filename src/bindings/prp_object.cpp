#include <array>
#include <cstdio>
#include <functional>
#include <string>

#include "bindings/classes.h"
#include "bindings/key_class.h"
#include "bindings/page_classes.h"
#include "core/class_index.h"

namespace lumivex::py {

void object_data_not_found() {
  PyErr_SetString(PyExc_OSError, "Object data not found");
  throw PythonError{};
}

namespace {

std::string object_repr(const PrpObjectValue& object) {
  char class_type[8];
  std::snprintf(class_type, sizeof class_type, "%04X", object.key->class_type);
  return "PrpObject('" + object.page->key_name(*object.key) + "', class=0x" + class_type + "/" +
         std::string(ClassIndex::class_name(object.key->class_type)) + ")";
}

PyObject* object_bytes(const PrpObjectValue& object) {
  const auto bytes = object.page->object_data(*object.key);
  if (!bytes) Py_RETURN_NONE;
  return to_py(*bytes);
}

// The frame of the as_* methods, one per decoder: the class test where the
// decoder has one, the range test, then the decoder over exactly the object's
// bytes, then a new view of what it returned. A decoder failure is a
// ValueError and leaves the object as it was.
template <std::size_t Index>
PyObject* decode_as(PyObject* self) {
  constexpr const auto& row = std::get<Index>(kDecoders);
  const PrpObjectValue& object = unbox<PrpObjectValue>(self);
  if (row.checks_class && object.key->class_type != row.class_type) {
    char class_type[8];
    std::snprintf(class_type, sizeof class_type, "%04X", object.key->class_type);
    throw Error("Not a " + std::string(ClassIndex::class_name(row.class_type)) + " (class 0x" + class_type + ")");
  }
  const auto bytes = object.page->object_data(*object.key);
  if (!bytes) object_data_not_found();
  return decode_view_of<typename std::remove_cvref_t<decltype(row)>::RecordType>(state_of(self), *bytes);
}

// The references the object's own decoder reads, as (field, Key) pairs; none
// for a class no decoder is for. A decoder failure is a ValueError.
PyObject* references(PyObject* self) {
  const PrpObjectValue& object = unbox<PrpObjectValue>(self);
  const ModuleState& state = state_of(self);
  PyObject* found = nullptr;
  for_each_decoder([&](const auto& row, std::size_t) {
    if (found || row.class_type != object.key->class_type) return;
    const auto bytes = object.page->object_data(*object.key);
    if (!bytes) object_data_not_found();
    const Source source(*bytes);
    const std::vector<KeyReference> all = lumivex::references(row.parse(*bytes), source);
    found = to_py_list(all, [&](const KeyReference& reference) {
      const Ref field = Ref::checked(new_str(reference.field));
      const Ref key = Ref::checked(make<KeyValue>(state, key_value(reference.key, source)));
      return checked(PyTuple_Pack(2, field.get(), key.get()));
    });
  });
  return found ? found : checked(PyList_New(0));
}

// An object pickles and copies as its position in its page.
PyObject* reduce_object(PyObject* self) {
  const PrpObjectValue& object = unbox<PrpObjectValue>(self);
  const Ref operator_module = Ref::checked(PyImport_ImportModule("operator"));
  const Ref item = Ref::checked(PyObject_GetAttrString(operator_module.get(), "getitem"));
  const Ref index = Ref::checked(to_py(static_cast<std::size_t>(object.key - object.page->keys().data())));
  return checked(Py_BuildValue("(O(OO))", item.get(), object.file.get(), index.get()));
}

// One method per decoder, in the order of the decoders.
std::vector<PyMethodDef> decoding_methods() {
  static const std::array<std::string, kDecoderCount> docs = [] {
    std::array<std::string, kDecoderCount> texts;
    for_each_decoder([&](const auto& row, std::size_t index) {
      texts[index] = std::string(row.method) + "($self)\n--\n\n" + row.doc;
    });
    return texts;
  }();
  std::vector<PyMethodDef> methods;
  for_each_decoder([&](const auto& row, auto index) {
    methods.push_back(method<decode_as<decltype(index)::value>>(row.method, docs[index].c_str()));
  });
  return methods;
}

// The same key of the same loaded page.
bool same_object(const PrpObjectValue& a, const PrpObjectValue& b) { return a.key == b.key; }

std::size_t object_hash(const PrpObjectValue& object) { return std::hash<const ObjectKey*>()(object.key); }

}  // namespace

template <>
const ClassDef<PrpObjectValue>& class_def<PrpObjectValue>() {
  static const ClassDef<PrpObjectValue> def{
      .id = TypeId::PrpObject,
      .qualified_name = "lumivex.PrpObject",
      .doc = "A single object in a PRP file.",
      .properties =
          {
              {"name", [](const PrpObjectValue& o) { return text_object(Source(o.page->data()), o.key->name); },
               "Object name."},
              {"class_type", [](const PrpObjectValue& o) { return to_py(o.key->class_type); }, "Class type ID."},
              {"class_name", [](const PrpObjectValue& o) { return new_str(ClassIndex::class_name(o.key->class_type)); },
               "Human-readable class type name."},
              {"object_id", [](const PrpObjectValue& o) { return to_py(o.key->object_id); }, "Object ID."},
              {"location_sequence", [](const PrpObjectValue& o) { return to_py(o.key->location_sequence); },
               "Location sequence number."},
              {"data", object_bytes, "Raw object data as bytes."},
              {"data_len", [](const PrpObjectValue& o) { return to_py(o.key->data_len); }, "Data length in bytes."},
              {"key",
               [](const PrpObjectValue& o, const ModuleState& state) {
                 return make<KeyValue>(state, key_value(*o.key, *o.page));
               },
               "The object's own key, from the page's index."},
              {"page", [](const PrpObjectValue& o) { return Py_NewRef(o.file.get()); },
               "The PrpFile the object belongs to."},
              {"index",
               [](const PrpObjectValue& o) { return to_py(static_cast<std::size_t>(o.key - o.page->keys().data())); },
               "The object's position in its page's index."},
          },
      .methods =
          [] {
            std::vector<PyMethodDef> methods = decoding_methods();
            methods.push_back(method<reduce_object>("__reduce__", nullptr));
            methods.push_back(method<references>(
                "references",
                "references($self)\n--\n\nThe references this object's decoder reads, as (field, Key) pairs in stored "
                "order; an empty list for a class no decoder is for."));
            return methods;
          }(),
      .repr = object_repr,
      .equal = same_object,
      .hash = object_hash,
      .copies_as_itself = true,
  };
  return def;
}

PyTypeObject* create_prp_object_type(PyObject* module) { return create_type<PrpObjectValue>(module); }

}  // namespace lumivex::py
