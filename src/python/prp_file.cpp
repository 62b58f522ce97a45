#include <array>

#include "core/class_index.h"
#include "core/text.h"
#include "python/classes.h"
#include "python/page_classes.h"

namespace lumivex::py {

namespace {

const PrpPage& page_of(PyObject* self) { return *unbox<PageHandle>(self).page; }

PyObject* load(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "load", {"path"}, {&arg});
  const PathArg path = arg_path(arg, "load", "path");
  const ModuleState& state = module_state(module);
  auto page = on_file(state, path, [&] {
    return without_gil([&](const InterruptCheck& interrupt) { return PrpPage::from_file(path.bytes, interrupt); });
  });
  return make<PageHandle>(state, PageHandle{std::move(page)});
}

PyObject* from_bytes(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "from_bytes", {"data"}, {&arg});
  const std::span<const uint8_t> data = arg_bytes(arg, "from_bytes", "data");
  // The bytes object is immutable and held by the call, so it can be copied
  // and parsed while other threads run.
  auto page =
      without_gil([&](const InterruptCheck&) { return PrpPage::from_bytes(ByteBuffer(data.data(), data.size())); });
  return make<PageHandle>(module_state(module), PageHandle{std::move(page)});
}

PyObject* save(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "save", {"path"}, {&arg});
  const PathArg path = arg_path(arg, "save", "path");
  // The page stays alive without the interpreter lock: this call holds it.
  const std::shared_ptr<const PrpPage> page = unbox<PageHandle>(self).page;
  on_file(state_of(self), path,
          [&] { without_gil([&](const InterruptCheck& interrupt) { page->save(path.bytes, interrupt); }); });
  Py_RETURN_NONE;
}

// The page is written straight into the new bytes object, so its data region
// is copied once.
PyObject* to_bytes(PyObject* self) {
  const std::shared_ptr<const PrpPage> page = unbox<PageHandle>(self).page;
  const PageBytes bytes = without_gil([&](const InterruptCheck&) { return page->to_bytes(); });
  Ref out = Ref::checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes.size())));
  auto* into = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(out.get()));
  without_gil([&](const InterruptCheck&) { bytes.copy_to(into); });
  return out.release();
}

// A list of PrpObjects for the page's keys that pass the filter, in key order.
template <class Filter>
PyObject* object_list(PyObject* self, Filter&& keep) {
  const auto& handle = unbox<PageHandle>(self);
  const ModuleState& state = state_of(self);
  Ref list = Ref::checked(PyList_New(0));
  for (const ObjectKey& key : handle.page->keys()) {
    if (!keep(key)) continue;
    const Ref object = Ref::checked(make<ObjectRef>(state, ObjectRef{handle.page, &key}));
    if (PyList_Append(list.get(), object.get()) < 0) throw PythonError{};
  }
  return list.release();
}

PyObject* objects(PyObject* self) {
  const auto& handle = unbox<PageHandle>(self);
  const ModuleState& state = state_of(self);
  return to_py_list(handle.page->keys(),
                    [&](const ObjectKey& key) { return make<ObjectRef>(state, ObjectRef{handle.page, &key}); });
}

PyObject* objects_of_type(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "objects_of_type", {"class_type"}, {&arg});
  const uint16_t class_type = arg_u16(arg, "objects_of_type", "class_type");
  return object_list(self, [&](const ObjectKey& key) { return key.class_type == class_type; });
}

PyObject* objects_by_name(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "objects_by_name", {"class_name"}, {&arg});
  const std::string name = arg_str(arg, "objects_by_name", "class_name");
  return object_list(self, [&](const ObjectKey& key) { return ClassIndex::class_name(key.class_type) == name; });
}

PyObject* count_by_type(PyObject* self) {
  // Ids above the table all count as "Unknown", like the unnamed ids in it.
  std::array<uint64_t, ClassIndex::kLastClassType + 1> counts{};
  uint64_t unknown = 0;
  for (const ObjectKey& key : page_of(self).keys()) {
    if (key.class_type <= ClassIndex::kLastClassType)
      ++counts[key.class_type];
    else
      ++unknown;
  }
  Ref dict = Ref::checked(PyDict_New());
  const auto add = [&](std::string_view name, uint64_t count) {
    const Ref key = Ref::checked(new_str(name));
    const Ref value = Ref::checked(to_py(count));
    if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) throw PythonError{};
  };
  for (std::size_t id = 0; id < counts.size(); ++id) {
    if (!counts[id]) continue;
    const std::string_view name = ClassIndex::class_name(static_cast<uint16_t>(id));
    if (name == "Unknown")
      unknown += counts[id];
    else
      add(name, counts[id]);
  }
  if (unknown) add("Unknown", unknown);
  return dict.release();
}

Py_ssize_t length(PyObject* self) { return static_cast<Py_ssize_t>(page_of(self).keys().size()); }

PyObject* iterate(PyObject* self) {
  return make<ObjectCursor>(state_of(self), ObjectCursor{unbox<PageHandle>(self).page, 0});
}

PyObject* next_object(PyObject* self) {
  ObjectCursor& cursor = unbox<ObjectCursor>(self);
  const auto& keys = cursor.page->keys();
  if (cursor.index >= keys.size()) return nullptr;
  PyObject* object = make<ObjectRef>(state_of(self), ObjectRef{cursor.page, &keys[cursor.index]});
  ++cursor.index;
  return object;
}

std::string page_repr(const PageHandle& handle) {
  const PageHeader& header = handle.page->header();
  return "PrpFile('" + utf8_text(header.age_name_bytes) + "', '" + utf8_text(header.page_name_bytes) + "', " +
         std::to_string(handle.page->keys().size()) + " objects)";
}

std::string header_repr(const PageHeader& header) {
  return "PageHeader(age='" + utf8_text(header.age_name_bytes) + "', page='" + utf8_text(header.page_name_bytes) +
         "', v" + std::to_string(header.version) + ")";
}

bool same_header(const PageHeader& a, const PageHeader& b) {
  return a.version == b.version && a.sequence_number == b.sequence_number && a.flags == b.flags &&
         a.age_name_bytes == b.age_name_bytes && a.page_name_bytes == b.page_name_bytes &&
         a.major_version == b.major_version && a.checksum == b.checksum && a.data_start == b.data_start &&
         a.index_start == b.index_start;
}

std::size_t header_hash(const PageHeader& header) {
  return hash_of({header.age_name_bytes, header.page_name_bytes},
                 {header.sequence_number, header.checksum, header.index_start});
}

PyObject* age_name(const PageHandle& handle) { return new_str(utf8_text(handle.page->header().age_name_bytes)); }
PyObject* page_name(const PageHandle& handle) { return new_str(utf8_text(handle.page->header().page_name_bytes)); }

}  // namespace

template <>
const ClassDef<PageHandle>& class_def<PageHandle>() {
  static const ClassDef<PageHandle> def{
      .id = TypeId::PrpFile,
      .qualified_name = "lumivex.PrpFile",
      .doc = "A loaded .prp (Plasma Resource Page) file.",
      .properties =
          {
              {"age_name", age_name, "Age name from the page header."},
              {"page_name", page_name, "Page name from the page header."},
              {"header",
               [](const PageHandle& h, const ModuleState& state) { return make<PageHeader>(state, h.page->header()); },
               "Get the page header info."},
              {"lost_keys", [](const PageHandle& h) { return to_py(h.page->lost_keys()); },
               "Keys the index announced but that could not be read (0 when none was lost)."},
          },
      .methods =
          {
              static_method<load, Failure::File>("load", "load(path)\n--\n\nLoad a PRP file from disk."),
              static_method<from_bytes, Failure::File>("from_bytes",
                                                       "from_bytes(data)\n--\n\nLoad a PRP file from bytes."),
              method<save, Failure::File>("save",
                                          "save($self, path)\n--\n\nSave the PRP file to disk (byte-identical "
                                          "round-trip)."),
              method<to_bytes, Failure::File>("to_bytes", "to_bytes($self)\n--\n\nSerialize to bytes."),
              method<objects>("objects", "objects($self)\n--\n\nGet all objects as a list."),
              method<objects_of_type>("objects_of_type",
                                      "objects_of_type($self, class_type)\n--\n\nGet objects by class type ID."),
              method<objects_by_name>("objects_by_name",
                                      "objects_by_name($self, class_name)\n--\n\nGet objects by class type name "
                                      "(e.g., \"plSceneObject\", \"plDrawableSpans\")."),
              method<count_by_type>("count_by_type", "count_by_type($self)\n--\n\nCount objects by class type."),
          },
      .repr = page_repr,
      .slots =
          {
              {Py_sq_length, reinterpret_cast<void*>(length_slot<length>)},
              {Py_tp_iter, reinterpret_cast<void*>(object_slot<iterate>)},
          },
  };
  return def;
}

template <>
const ClassDef<PageHeader>& class_def<PageHeader>() {
  static const ClassDef<PageHeader> def{
      .id = TypeId::PageHeaderInfo,
      .qualified_name = "lumivex.PageHeaderInfo",
      .properties =
          {
              {"version", record_value<&PageHeader::version>, "Format version (always 6)."},
              {"sequence_number", record_value<&PageHeader::sequence_number>, "Location sequence number of the page."},
              {"flags", record_value<&PageHeader::flags>, "Location flags of the page."},
              {"age_name", [](const PageHeader& h) { return new_str(utf8_text(h.age_name_bytes)); }, "Age name."},
              {"page_name", [](const PageHeader& h) { return new_str(utf8_text(h.page_name_bytes)); }, "Page name."},
              {"major_version", record_value<&PageHeader::major_version>, "Major version of the engine that wrote it."},
              {"checksum", record_value<&PageHeader::checksum>, "Checksum, as stored (never verified)."},
              {"data_start", record_value<&PageHeader::data_start>, "Offset of the object data region."},
              {"index_start", record_value<&PageHeader::index_start>, "Offset of the key index."},
          },
      .repr = header_repr,
      .equal = same_header,
      .hash = header_hash,
  };
  return def;
}

template <>
const ClassDef<ObjectCursor>& class_def<ObjectCursor>() {
  static const ClassDef<ObjectCursor> def{
      .id = TypeId::ObjectIterator,
      .qualified_name = "lumivex.ObjectIterator",
      .slots =
          {
              {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
              {Py_tp_iternext, reinterpret_cast<void*>(object_slot<next_object>)},
          },
  };
  return def;
}

PyTypeObject* create_prp_file_type(PyObject* module) { return create_type<PageHandle>(module); }
PyTypeObject* create_page_header_info_type(PyObject* module) { return create_type<PageHeader>(module); }
PyTypeObject* create_object_iterator_type(PyObject* module) { return create_type<ObjectCursor>(module); }

}  // namespace lumivex::py
