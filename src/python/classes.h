#pragma once

#include "python/py_class.h"

// One creator per class of the module; module.cpp registers them in order.
namespace lumivex::py {

PyTypeObject* create_prp_file_type();
PyTypeObject* create_prp_object_type();
PyTypeObject* create_page_header_info_type();
PyTypeObject* create_scene_object_type();
PyTypeObject* create_mipmap_type();
PyTypeObject* create_material_type();
PyTypeObject* create_layer_type();
PyTypeObject* create_sound_info_type();
PyTypeObject* create_object_iterator_type();
PyTypeObject* create_age_file_type();
PyTypeObject* create_page_entry_type();
PyTypeObject* create_sdl_file_type();
PyTypeObject* create_sdl_descriptor_type();
PyTypeObject* create_sdl_variable_type();
PyTypeObject* create_python_file_mod_type();
PyTypeObject* create_python_param_type();
PyTypeObject* create_responder_mod_type();
PyTypeObject* create_physical_data_type();

// PrpObject's decoding methods, defined beside the classes they return.
PyObject* as_python_file_mod(PyObject* self, PyObject* args);
PyObject* as_responder(PyObject* self, PyObject* args);
PyObject* as_physical(PyObject* self, PyObject* args);

}  // namespace lumivex::py
