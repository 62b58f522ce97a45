#pragma once

#include "python/py_class.h"

// One creator per class of the module, each defined beside the class's other
// code; module.cpp creates them in order.
namespace lumivex::py {

PyTypeObject* create_prp_file_type(PyObject* module);
PyTypeObject* create_prp_object_type(PyObject* module);
PyTypeObject* create_page_header_info_type(PyObject* module);
PyTypeObject* create_object_iterator_type(PyObject* module);
PyTypeObject* create_scene_object_type(PyObject* module);
PyTypeObject* create_mipmap_type(PyObject* module);
PyTypeObject* create_material_type(PyObject* module);
PyTypeObject* create_layer_type(PyObject* module);
PyTypeObject* create_sound_info_type(PyObject* module);
PyTypeObject* create_age_file_type(PyObject* module);
PyTypeObject* create_page_entry_type(PyObject* module);
PyTypeObject* create_sdl_file_type(PyObject* module);
PyTypeObject* create_sdl_descriptor_type(PyObject* module);
PyTypeObject* create_sdl_variable_type(PyObject* module);
PyTypeObject* create_python_file_mod_type(PyObject* module);
PyTypeObject* create_python_param_type(PyObject* module);
PyTypeObject* create_responder_mod_type(PyObject* module);
PyTypeObject* create_physical_data_type(PyObject* module);

// PrpObject's decoding methods, defined beside the classes they return.
PyObject* as_scene_object(PyObject* self);
PyObject* as_mipmap(PyObject* self);
PyObject* as_material(PyObject* self);
PyObject* as_layer(PyObject* self);
PyObject* as_sound(PyObject* self);
PyObject* as_python_file_mod(PyObject* self);
PyObject* as_responder(PyObject* self);
PyObject* as_physical(PyObject* self);

}  // namespace lumivex::py
