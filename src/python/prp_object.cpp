#include <cstdio>
#include <functional>

#include "core/class_index.h"
#include "python/classes.h"
#include "python/page_classes.h"

namespace lumivex::py {

void object_data_not_found() {
  PyErr_SetString(PyExc_OSError, "Object data not found");
  throw PythonError{};
}

namespace {

std::string object_repr(const ObjectRef& object) {
  char class_type[8];
  std::snprintf(class_type, sizeof class_type, "%04X", object.key->class_type);
  return "PrpObject('" + object.page->key_name(*object.key) + "', class=0x" + class_type + "/" +
         std::string(ClassIndex::class_name(object.key->class_type)) + ")";
}

PyObject* object_bytes(const ObjectRef& object) {
  const auto bytes = object.page->object_data(*object.key);
  if (!bytes) Py_RETURN_NONE;
  return to_py(*bytes);
}

// The same key of the same loaded page.
bool same_object(const ObjectRef& a, const ObjectRef& b) { return a.key == b.key; }

std::size_t object_hash(const ObjectRef& object) { return std::hash<const ObjectKey*>()(object.key); }

}  // namespace

template <>
const ClassDef<ObjectRef>& class_def<ObjectRef>() {
  static const ClassDef<ObjectRef> def{
      .id = TypeId::PrpObject,
      .qualified_name = "lumivex.PrpObject",
      .doc = "A single object in a PRP file.",
      .properties =
          {
              {"name", [](const ObjectRef& o) { return new_str(o.page->key_name(*o.key)); }, "Object name."},
              {"class_type", [](const ObjectRef& o) { return to_py(o.key->class_type); }, "Class type ID."},
              {"class_name", [](const ObjectRef& o) { return new_str(ClassIndex::class_name(o.key->class_type)); },
               "Human-readable class type name."},
              {"object_id", [](const ObjectRef& o) { return to_py(o.key->object_id); }, "Object ID."},
              {"location_sequence", [](const ObjectRef& o) { return to_py(o.key->location_sequence); },
               "Location sequence number."},
              {"data", object_bytes, "Raw object data as bytes."},
              {"data_len", [](const ObjectRef& o) { return to_py(o.key->data_len); }, "Data length in bytes."},
          },
      .methods =
          {
              method<as_scene_object>("as_scene_object",
                                      "as_scene_object($self)\n--\n\nParse as a SceneObject (if class_type matches)."),
              method<as_mipmap>("as_mipmap", "as_mipmap($self)\n--\n\nParse as a Mipmap texture."),
              method<as_material>("as_material", "as_material($self)\n--\n\nParse as a Material (hsGMaterial)."),
              method<as_layer>("as_layer", "as_layer($self)\n--\n\nParse as a Layer (plLayer)."),
              method<as_python_file_mod>("as_python_file_mod",
                                         "as_python_file_mod($self)\n--\n\nParse as a PythonFileMod."),
              method<as_responder>("as_responder", "as_responder($self)\n--\n\nParse as a ResponderModifier."),
              method<as_physical>("as_physical", "as_physical($self)\n--\n\nParse as a plPXPhysical."),
              method<as_sound>("as_sound", "as_sound($self)\n--\n\nParse as a plWin32Sound."),
          },
      .repr = object_repr,
      .equal = same_object,
      .hash = object_hash,
  };
  return def;
}

PyTypeObject* create_prp_object_type(PyObject* module) { return create_type<ObjectRef>(module); }

}  // namespace lumivex::py
