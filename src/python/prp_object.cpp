#include "core/class_index.h"
#include "python/classes.h"
#include "python/object_views.h"
#include "python/page_classes.h"

namespace lumivex::py {

PyObject* object_data_not_found() {
  PyErr_SetString(PyExc_OSError, "Object data not found");
  return nullptr;
}

namespace {

std::string object_repr(const ObjectRef& object) {
  char class_type[8];
  std::snprintf(class_type, sizeof class_type, "%04X", object.key->class_type);
  return "PrpObject('" + object.key->name + "', class=0x" + class_type + "/" +
         std::string(ClassIndex::class_name(object.key->class_type)) + ")";
}

PyObject* object_bytes(const ObjectRef& object) {
  const auto bytes = object.page->object_data(*object.key);
  if (!bytes) Py_RETURN_NONE;
  return to_py(*bytes);
}

}  // namespace

PyTypeObject* create_prp_object_type() {
  static const ClassDef<ObjectRef> def{
      .qualified_name = "lumivex.PrpObject",
      .doc = "A single object in a PRP file.",
      .properties =
          {
              {"name", [](const ObjectRef& o) { return to_py(o.key->name); }, "Object name."},
              {"class_type", [](const ObjectRef& o) { return to_py(o.key->class_type); }, "Class type ID."},
              {"class_name",
               [](const ObjectRef& o) { return new_str(std::string(ClassIndex::class_name(o.key->class_type))); },
               "Human-readable class type name."},
              {"object_id", [](const ObjectRef& o) { return to_py(o.key->object_id); }, "Object ID."},
              {"location_sequence", [](const ObjectRef& o) { return to_py(o.key->location_sequence); },
               "Location sequence number."},
              {"data", object_bytes, "Raw object data as bytes."},
              {"data_len", [](const ObjectRef& o) { return to_py(o.key->data_len); }, "Data length in bytes."},
          },
      .methods =
          {
              {"as_scene_object", as_scene_object, METH_NOARGS,
               "as_scene_object($self)\n--\n\nParse as a SceneObject (if class_type matches)."},
              {"as_mipmap", as_mipmap, METH_NOARGS, "as_mipmap($self)\n--\n\nParse as a Mipmap texture."},
              {"as_material", as_material, METH_NOARGS, "as_material($self)\n--\n\nParse as a Material (hsGMaterial)."},
              {"as_layer", as_layer, METH_NOARGS, "as_layer($self)\n--\n\nParse as a Layer (plLayer)."},
              {"as_python_file_mod", function(as_python_file_mod), METH_NOARGS,
               "as_python_file_mod($self)\n--\n\nParse as a PythonFileMod."},
              {"as_responder", function(as_responder), METH_NOARGS,
               "as_responder($self)\n--\n\nParse as a ResponderModifier."},
              {"as_physical", function(as_physical), METH_NOARGS, "as_physical($self)\n--\n\nParse as a plPXPhysical."},
              {"as_sound", as_sound, METH_NOARGS, "as_sound($self)\n--\n\nParse as a plWin32Sound."},
          },
      .repr = object_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
