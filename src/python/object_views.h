#pragma once

#include "python/py_class.h"

// The PrpObject methods that decode scene objects, mipmaps, materials,
// layers and sounds into their views.
namespace lumivex::py {

PyObject* as_scene_object(PyObject* self, PyObject*);
PyObject* as_mipmap(PyObject* self, PyObject*);
PyObject* as_material(PyObject* self, PyObject*);
PyObject* as_layer(PyObject* self, PyObject*);
PyObject* as_sound(PyObject* self, PyObject*);

}  // namespace lumivex::py
