#include <array>

#include "core/class_index.h"
#include "python/classes.h"
#include "python/page_classes.h"

namespace lumivex::py {
namespace {

const PrpPage& page_of(PyObject* self) { return *unbox<PageHandle>(self).page; }

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  std::string path;
  if (!parse_args(args, kwargs, "load", {"path"}, {&arg}) || !arg_str(arg, "load", "path", path)) return nullptr;
  return guarded(PyExc_OSError, [&] { return make(PageHandle{PrpPage::from_file(path)}); });
}

PyObject* from_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  std::span<const uint8_t> data;
  if (!parse_args(args, kwargs, "from_bytes", {"data"}, {&arg}) || !arg_bytes(arg, "from_bytes", "data", data))
    return nullptr;
  return guarded(PyExc_OSError,
                 [&] { return make(PageHandle{PrpPage::from_bytes(ByteBuffer(data.data(), data.size()))}); });
}

PyObject* save(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  std::string path;
  if (!parse_args(args, kwargs, "save", {"path"}, {&arg}) || !arg_str(arg, "save", "path", path)) return nullptr;
  return guarded(PyExc_OSError, [&]() -> PyObject* {
    page_of(self).save(path);
    Py_RETURN_NONE;
  });
}

// The page is written straight into the new bytes object, so its data region
// is copied once.
PyObject* to_bytes(PyObject* self, PyObject*) {
  return guarded(PyExc_OSError, [&]() -> PyObject* {
    const PageBytes bytes = page_of(self).to_bytes();
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes.size()));
    if (out) bytes.copy_to(reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(out)));
    return out;
  });
}

// A list of PrpObjects for the page's keys that pass the filter, in key order.
template <class Filter>
PyObject* object_list(PyObject* self, Filter&& keep) {
  const auto& handle = unbox<PageHandle>(self);
  PyObject* list = PyList_New(0);
  if (!list) return nullptr;
  for (const ObjectKey& key : handle.page->keys()) {
    if (!keep(key)) continue;
    PyObject* object = make(ObjectRef{handle.page, &key});
    if (!object || PyList_Append(list, object) < 0) {
      Py_XDECREF(object);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(object);
  }
  return list;
}

PyObject* objects(PyObject* self, PyObject*) {
  const auto& handle = unbox<PageHandle>(self);
  const auto& keys = handle.page->keys();
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(keys.size()));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    PyObject* object = make(ObjectRef{handle.page, &keys[i]});
    if (!object) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), object);
  }
  return list;
}

PyObject* objects_of_type(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  uint16_t class_type = 0;
  if (!parse_args(args, kwargs, "objects_of_type", {"class_type"}, {&arg}) ||
      !arg_u16(arg, "objects_of_type", "class_type", class_type))
    return nullptr;
  return object_list(self, [&](const ObjectKey& key) { return key.class_type == class_type; });
}

PyObject* objects_by_name(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  std::string name;
  if (!parse_args(args, kwargs, "objects_by_name", {"class_name"}, {&arg}) ||
      !arg_str(arg, "objects_by_name", "class_name", name))
    return nullptr;
  return object_list(self, [&](const ObjectKey& key) { return ClassIndex::class_name(key.class_type) == name; });
}

PyObject* count_by_type(PyObject* self, PyObject*) {
  // Ids above the table all count as "Unknown", like the unnamed ids in it.
  std::array<uint64_t, ClassIndex::kLastClassType + 1> counts{};
  uint64_t unknown = 0;
  for (const ObjectKey& key : page_of(self).keys()) {
    if (key.class_type <= ClassIndex::kLastClassType)
      ++counts[key.class_type];
    else
      ++unknown;
  }
  PyObject* dict = PyDict_New();
  if (!dict) return nullptr;
  const auto add = [&](std::string_view name, uint64_t count) {
    PyObject* key = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    PyObject* value = key ? PyLong_FromUnsignedLongLong(count) : nullptr;
    const bool ok = value && PyDict_SetItem(dict, key, value) == 0;
    Py_XDECREF(key);
    Py_XDECREF(value);
    return ok;
  };
  for (std::size_t id = 0; id < counts.size(); ++id) {
    if (!counts[id]) continue;
    const std::string_view name = ClassIndex::class_name(static_cast<uint16_t>(id));
    if (name == "Unknown") {
      unknown += counts[id];
    } else if (!add(name, counts[id])) {
      Py_DECREF(dict);
      return nullptr;
    }
  }
  if (unknown && !add("Unknown", unknown)) {
    Py_DECREF(dict);
    return nullptr;
  }
  return dict;
}

Py_ssize_t length(PyObject* self) { return static_cast<Py_ssize_t>(page_of(self).keys().size()); }

PyObject* iterate(PyObject* self) { return make(ObjectCursor{unbox<PageHandle>(self).page, 0}); }

PyObject* next_object(PyObject* self) {
  ObjectCursor& cursor = unbox<ObjectCursor>(self);
  const auto& keys = cursor.page->keys();
  if (cursor.index >= keys.size()) return nullptr;
  return make(ObjectRef{cursor.page, &keys[cursor.index++]});
}

std::string page_repr(const PageHandle& handle) {
  const PageHeader& header = handle.page->header();
  return "PrpFile('" + header.age_name + "', '" + header.page_name + "', " +
         std::to_string(handle.page->keys().size()) + " objects)";
}

std::string header_repr(const PageHeader& header) {
  return "PageHeader(age='" + header.age_name + "', page='" + header.page_name + "', v" +
         std::to_string(header.version) + ")";
}

}  // namespace

PyTypeObject* create_prp_file_type() {
  static const ClassDef<PageHandle> def{
      .qualified_name = "lumivex.PrpFile",
      .doc = "A loaded .prp (Plasma Resource Page) file.",
      .properties =
          {
              {"age_name", [](const PageHandle& h) { return to_py(h.page->header().age_name); },
               "Age name from the page header."},
              {"page_name", [](const PageHandle& h) { return to_py(h.page->header().page_name); },
               "Page name from the page header."},
              {"header", [](const PageHandle& h) { return make(h.page->header()); }, "Get the page header info."},
          },
      .methods =
          {
              {"load", function(load), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
               "load(path)\n--\n\nLoad a PRP file from disk."},
              {"from_bytes", function(from_bytes), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
               "from_bytes(data)\n--\n\nLoad a PRP file from bytes."},
              {"save", function(save), METH_VARARGS | METH_KEYWORDS,
               "save($self, path)\n--\n\nSave the PRP file to disk (byte-identical round-trip)."},
              {"to_bytes", function(to_bytes), METH_NOARGS, "to_bytes($self)\n--\n\nSerialize to bytes."},
              {"objects", function(objects), METH_NOARGS, "objects($self)\n--\n\nGet all objects as a list."},
              {"objects_of_type", function(objects_of_type), METH_VARARGS | METH_KEYWORDS,
               "objects_of_type($self, class_type)\n--\n\nGet objects by class type ID."},
              {"objects_by_name", function(objects_by_name), METH_VARARGS | METH_KEYWORDS,
               "objects_by_name($self, class_name)\n--\n\nGet objects by class type name (e.g., \"plSceneObject\", "
               "\"plDrawableSpans\")."},
              {"count_by_type", function(count_by_type), METH_NOARGS,
               "count_by_type($self)\n--\n\nCount objects by class type."},
          },
      .repr = page_repr,
      .slots =
          {
              {Py_sq_length, reinterpret_cast<void*>(length)},
              {Py_tp_iter, reinterpret_cast<void*>(iterate)},
          },
  };
  return create_type(def);
}

PyTypeObject* create_page_header_info_type() {
  static const ClassDef<PageHeader> def{
      .qualified_name = "lumivex.PageHeaderInfo",
      .properties =
          {
              {"version", member<&PageHeader::version>},
              {"sequence_number", member<&PageHeader::sequence_number>},
              {"flags", member<&PageHeader::flags>},
              {"age_name", member<&PageHeader::age_name>},
              {"page_name", member<&PageHeader::page_name>},
              {"major_version", member<&PageHeader::major_version>},
              {"checksum", member<&PageHeader::checksum>},
              {"data_start", member<&PageHeader::data_start>},
              {"index_start", member<&PageHeader::index_start>},
          },
      .repr = header_repr,
  };
  return create_type(def);
}

PyTypeObject* create_object_iterator_type() {
  static const ClassDef<ObjectCursor> def{
      .qualified_name = "lumivex.ObjectIterator",
      .slots =
          {
              {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
              {Py_tp_iternext, reinterpret_cast<void*>(next_object)},
          },
  };
  return create_type(def);
}

}  // namespace lumivex::py
