#pragma once

#include "bindings/py_class.h"

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
PyTypeObject* create_page_builder_type(PyObject* module);

// The module's functions that forward the core's log records to Python's
// logging, and stop it.
PyObject* enable_logging(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* disable_logging(PyObject* module, PyObject* unused);

// The module's function that resolves the references of pages.
PyObject* resolve_references(PyObject* module, PyObject* args, PyObject* kwargs);

// The module's function that pairs the objects of two pages for a
// comparison: ([(index in a, index in b) of pairs that differ], only in a,
// only in b).
PyObject* paired_objects(PyObject* module, PyObject* args, PyObject* kwargs);

// The module's function that lists the pages of an age whose names may not
// name a file beside it: [(line, name, reason)].
PyObject* refused_pages(PyObject* module, PyObject* args, PyObject* kwargs);

// The module's function that loads a page as PrpFile.load does, but opens
// the file without waiting and refuses anything but a regular file.
PyObject* load_regular_page(PyObject* module, PyObject* args, PyObject* kwargs);

// The same for an age description, as AgeFile.load reads it.
PyObject* load_regular_age(PyObject* module, PyObject* args, PyObject* kwargs);

// The same for a state description file, as a new SdlFile's load_file reads it.
PyObject* load_regular_sdl(PyObject* module, PyObject* args, PyObject* kwargs);

// The module's function that writes a file as a page's save does.
PyObject* save_file(PyObject* module, PyObject* args, PyObject* kwargs);

// The module's function that writes several files as one change, as nearly
// as the file system allows.
PyObject* save_files(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace lumivex::py
