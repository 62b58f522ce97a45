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

}  // namespace lumivex::py
