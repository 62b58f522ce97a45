#pragma once

#include "python/py_class.h"

// The creators of the module's classes other than the decoders' views, each
// defined beside the class's other code; module.cpp creates them in order.
namespace lumivex::py {

PyTypeObject* create_prp_file_type(PyObject* module);
PyTypeObject* create_prp_object_type(PyObject* module);
PyTypeObject* create_page_header_info_type(PyObject* module);
PyTypeObject* create_object_iterator_type(PyObject* module);
PyTypeObject* create_age_file_type(PyObject* module);
PyTypeObject* create_page_entry_type(PyObject* module);
PyTypeObject* create_sdl_file_type(PyObject* module);
PyTypeObject* create_sdl_descriptor_type(PyObject* module);
PyTypeObject* create_sdl_variable_type(PyObject* module);
// The mapping view of an SdlFile by name and its iterator: classes that are
// not module attributes.
PyTypeObject* create_sdl_names_type(PyObject* module);
PyTypeObject* create_sdl_name_iterator_type(PyObject* module);
PyTypeObject* create_key_type(PyObject* module);

// The module's functions that forward the core's log records to Python's
// logging, and stop it.
PyObject* enable_logging(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* disable_logging(PyObject* module, PyObject* unused);

// The module's function that resolves the references of pages.
PyObject* resolve_references(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace lumivex::py
