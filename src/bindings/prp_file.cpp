#include <algorithm>
#include <array>
#include <compare>
#include <functional>
#include <numeric>
#include <tuple>

#include "bindings/classes.h"
#include "bindings/page_classes.h"
#include "core/class_index.h"
#include "core/text.h"
#include "resource/prp/object_pairs.h"

namespace lumivex::py {

namespace {

// The fields a key is ordered by after its shown name.
template <class K>
auto other_fields(const K& key) {
  return std::make_tuple(key.class_type, key.object_id, key.location_sequence, key.location_flags, key.load_mask,
                         key.clone_id, key.clone_player_id);
}

// The order of keys: shown name, other fields, then the stored name, asked
// for only when all else is equal, which tells apart names that show alike.
template <class FieldsA, class BytesA, class FieldsB, class BytesB>
std::strong_ordering key_order(std::string_view shown_a, const FieldsA& fields_a, BytesA&& bytes_a,
                               std::string_view shown_b, const FieldsB& fields_b, BytesB&& bytes_b) {
  if (const auto order = shown_a <=> shown_b; order != 0) return order;
  if (const auto order = fields_a <=> fields_b; order != 0) return order;
  return bytes_a() <=> bytes_b();
}

}  // namespace

const std::vector<uint32_t>& KeyOrder::order(const PrpPage& page) const {
  std::call_once(built_, [&] {
    const std::vector<ObjectKey>& keys = page.keys();
    names_.clear();
    names_.reserve(keys.size());
    for (const ObjectKey& key : keys) names_.push_back(page.key_name(key));
    order_.resize(keys.size());
    std::iota(order_.begin(), order_.end(), uint32_t{0});
    std::stable_sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
      return key_order(
                 names_[a], other_fields(keys[a]), [&] { return page.key_name_bytes(keys[a]); }, names_[b],
                 other_fields(keys[b]), [&] { return page.key_name_bytes(keys[b]); }) < 0;
    });
  });
  return order_;
}

std::vector<std::size_t> KeyOrder::named(const PrpPage& page, std::string_view name) const {
  const std::vector<uint32_t>& order = this->order(page);
  struct ByName {
    const std::vector<std::string>& names;
    bool operator()(uint32_t at, std::string_view name) const { return names[at] < name; }
    bool operator()(std::string_view name, uint32_t at) const { return name < names[at]; }
  };
  const auto [first, last] = std::equal_range(order.begin(), order.end(), name, ByName{names_});
  std::vector<std::size_t> found(first, last);
  std::sort(found.begin(), found.end());
  return found;
}

std::optional<std::size_t> KeyOrder::find(const PrpPage& page, const KeyValue& key) const {
  const std::vector<uint32_t>& order = this->order(page);
  const std::vector<ObjectKey>& keys = page.keys();
  const std::string shown = utf8_text(key.name_bytes);
  const auto compare = [&](uint32_t at) {
    return key_order(
        names_[at], other_fields(keys[at]), [&] { return page.key_name_bytes(keys[at]); }, shown, other_fields(key),
        [&] { return key.name_bytes; });
  };
  // Equal keys are in index order: the first found is the first in the page.
  const auto found = std::partition_point(order.begin(), order.end(), [&](uint32_t at) { return compare(at) < 0; });
  if (found == order.end() || compare(*found) != 0) return std::nullopt;
  return *found;
}

namespace {

const PrpPage& page_of(PyObject* self) { return *unbox<PrpFileValue>(self).page; }

}  // namespace

PyObject* object_at(PyObject* file, std::size_t index) {
  const PrpFileValue& handle = unbox<PrpFileValue>(file);
  return make<PrpObjectValue>(state_of(file),
                              PrpObjectValue{handle.page, &handle.page->keys()[index], Ref::checked(Py_NewRef(file))});
}

namespace {

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "load", {"path"}, {&arg});
  const PathArg path = arg_path(arg, "load", "path");
  const ModuleState& state = static_method_state();
  auto page = on_file(state, path, [&] {
    return without_gil([&](const InterruptCheck& interrupt) { return PrpPage::from_file(path.bytes, interrupt); });
  });
  return make<PrpFileValue>(state, PrpFileValue{std::move(page)});
}

PyObject* from_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "from_bytes", {"data"}, {&arg});
  const std::span<const uint8_t> data = arg_bytes(arg, "from_bytes", "data");
  // The bytes object is immutable and held by the call, so it can be copied
  // and parsed while other threads run.
  auto page =
      without_gil([&](const InterruptCheck&) { return PrpPage::from_bytes(ByteBuffer(data.data(), data.size())); });
  return make<PrpFileValue>(static_method_state(), PrpFileValue{std::move(page)});
}

// A page of the bytes of any object with the buffer protocol. Its bytes may
// change once the call lets other threads run: they are copied first.
PyObject* page_of_buffer(PyObject* object, const char* function, const char* name) {
  ByteBuffer copy = BufferArg(object, function, name).copy();
  auto page = without_gil([&](const InterruptCheck&) { return PrpPage::from_bytes(std::move(copy)); });
  return make<PrpFileValue>(static_method_state(), PrpFileValue{std::move(page)});
}

PyObject* from_buffer(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "from_buffer", {"obj"}, {&arg});
  return page_of_buffer(arg, "from_buffer", "obj");
}

PyObject* from_file(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "from_file", {"fileobj"}, {&arg});
  const Ref data = Ref::checked(PyObject_CallMethod(arg, "read", nullptr));
  if (!PyObject_CheckBuffer(data.get())) {
    PyErr_Format(PyExc_TypeError, "from_file() argument 'fileobj' must be a binary file; its read() gave %.200s",
                 Py_TYPE(data.get())->tp_name);
    throw PythonError{};
  }
  return page_of_buffer(data.get(), "from_file", "fileobj");
}

PyObject* save(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "save", {"path"}, {&arg});
  const PathArg path = arg_path(arg, "save", "path");
  // The page stays alive without the interpreter lock: this call holds it.
  const std::shared_ptr<const PrpPage> page = unbox<PrpFileValue>(self).page;
  on_file(state_of(self), path,
          [&] { without_gil([&](const InterruptCheck& interrupt) { page->save(path.bytes, interrupt); }); });
  Py_RETURN_NONE;
}

// The page is written straight into the new bytes object, so its data region
// is copied once.
PyObject* to_bytes(PyObject* self) {
  const std::shared_ptr<const PrpPage> page = unbox<PrpFileValue>(self).page;
  const PageBytes bytes = without_gil([&](const InterruptCheck&) { return page->to_bytes(); });
  Ref out = Ref::checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes.size())));
  auto* into = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(out.get()));
  without_gil([&](const InterruptCheck&) { bytes.copy_to(into); });
  return out.release();
}

// A list of PrpObjects for the page's keys that pass the filter, in key order.
template <class Filter>
PyObject* object_list(PyObject* self, Filter&& keep) {
  const auto& keys = page_of(self).keys();
  Ref list = Ref::checked(PyList_New(0));
  for (std::size_t index = 0; index < keys.size(); ++index) {
    if (!keep(keys[index])) continue;
    const Ref object = Ref::checked(object_at(self, index));
    if (PyList_Append(list.get(), object.get()) < 0) throw PythonError{};
  }
  return list.release();
}

PyObject* objects(PyObject* self) {
  Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(page_of(self).keys().size())));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i)
    PyList_SET_ITEM(list.get(), i, object_at(self, static_cast<std::size_t>(i)));
  return list.release();
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
  return make<ObjectIteratorValue>(
      state_of(self), ObjectIteratorValue{unbox<PrpFileValue>(self).page, 0, Ref::checked(Py_NewRef(self))});
}

PyObject* next_object(PyObject* self) {
  ObjectIteratorValue& cursor = unbox<ObjectIteratorValue>(self);
  if (cursor.index >= cursor.page->keys().size()) return nullptr;
  PyObject* object = object_at(cursor.file.get(), cursor.index);
  ++cursor.index;
  return object;
}

// A page pickles and copies by its bytes, as to_bytes gives them.
PyObject* reduce_page(PyObject* self) {
  const Ref data = Ref::checked(to_bytes(self));
  const Ref load = Ref::checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_bytes"));
  return checked(Py_BuildValue("(O(O))", load.get(), data.get()));
}

// page[i] (negative from the end), page[i:j] and page[key].
PyObject* subscript(PyObject* self, PyObject* item) {
  const PrpFileValue& handle = unbox<PrpFileValue>(self);
  const auto size = static_cast<Py_ssize_t>(handle.page->keys().size());
  if (Py_TYPE(item) == state_of(self).type(TypeId::Key)) {
    const auto found = handle.key_order->find(*handle.page, unbox<KeyValue>(item));
    if (!found) raise_key_error(item);
    return object_at(self, *found);
  }
  if (PySlice_Check(item)) {
    Py_ssize_t start = 0;
    Py_ssize_t stop = 0;
    Py_ssize_t step = 0;
    if (PySlice_Unpack(item, &start, &stop, &step) < 0) throw PythonError{};
    const Py_ssize_t count = PySlice_AdjustIndices(size, &start, &stop, step);
    Ref list = Ref::checked(PyList_New(count));
    for (Py_ssize_t i = 0; i < count; ++i)
      PyList_SET_ITEM(list.get(), i, object_at(self, static_cast<std::size_t>(start + i * step)));
    return list.release();
  }
  if (PyIndex_Check(item)) {
    Py_ssize_t index = PyNumber_AsSsize_t(item, PyExc_IndexError);
    if (index == -1 && PyErr_Occurred()) throw PythonError{};
    if (index < 0) index += size;
    if (index < 0 || index >= size) {
      PyErr_SetString(PyExc_IndexError, "PrpFile index out of range");
      throw PythonError{};
    }
    return object_at(self, static_cast<std::size_t>(index));
  }
  PyErr_Format(PyExc_TypeError, "PrpFile indices must be integers, slices or Keys, not %.200s", Py_TYPE(item)->tp_name);
  throw PythonError{};
}

// A Key of one of the page's objects, or one of the page's own objects.
int contains(PyObject* self, PyObject* item) {
  const PrpFileValue& handle = unbox<PrpFileValue>(self);
  const ModuleState& state = state_of(self);
  if (Py_TYPE(item) == state.type(TypeId::Key))
    return handle.key_order->find(*handle.page, unbox<KeyValue>(item)).has_value();
  if (Py_TYPE(item) == state.type(TypeId::PrpObject)) return unbox<PrpObjectValue>(item).page == handle.page;
  return 0;
}

// Refuses a class name no class has, naming the closest ones.
void check_class_name(const std::string& name) {
  std::vector<std::string_view> names;
  for (uint32_t id = 0; id <= ClassIndex::kLastClassType; ++id) {
    const std::string_view known = ClassIndex::class_name(static_cast<uint16_t>(id));
    if (known == name) return;
    if (known != "Unknown") names.push_back(known);
  }
  if (name == "Unknown") return;
  const Ref known = Ref::checked(to_py_list(names, [](std::string_view known) { return new_str(known); }));
  const Ref difflib = Ref::checked(PyImport_ImportModule("difflib"));
  const Ref closest = Ref::checked(PyObject_CallMethod(difflib.get(), "get_close_matches", "s#Oid", name.data(),
                                                       static_cast<Py_ssize_t>(name.size()), known.get(), 3, 0.0));
  const Ref separator = Ref::checked(PyUnicode_FromString(", "));
  const Ref listed = Ref::checked(PyUnicode_Join(separator.get(), closest.get()));
  const Ref shown = Ref::checked(new_str(name));
  PyErr_Format(PyExc_ValueError, "no class is named %R; the closest names are %U", shown.get(), listed.get());
  throw PythonError{};
}

PyObject* find(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* name_arg = nullptr;
  PyObject* class_arg = nullptr;
  parse_args(args, kwargs, "find", {"name", "class_type"}, {&name_arg, &class_arg}, 1);
  const std::string name = arg_str(name_arg, "find", "name");
  std::function<bool(uint16_t)> of_class = [](uint16_t) { return true; };
  if (class_arg && class_arg != Py_None) {
    if (PyUnicode_Check(class_arg)) {
      std::string class_name = arg_str(class_arg, "find", "class_type");
      check_class_name(class_name);
      of_class = [class_name](uint16_t type) { return ClassIndex::class_name(type) == class_name; };
    } else {
      const uint16_t class_type = arg_u16(class_arg, "find", "class_type");
      of_class = [class_type](uint16_t type) { return type == class_type; };
    }
  }
  const PrpFileValue& handle = unbox<PrpFileValue>(self);
  const auto& keys = handle.page->keys();
  Ref list = Ref::checked(PyList_New(0));
  for (const std::size_t index : handle.key_order->named(*handle.page, name)) {
    if (!of_class(keys[index].class_type)) continue;
    const Ref object = Ref::checked(object_at(self, index));
    if (PyList_Append(list.get(), object.get()) < 0) throw PythonError{};
  }
  return list.release();
}

std::string page_repr(const PrpFileValue& handle) {
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

PyObject* age_name(const PrpFileValue& handle) { return text_object(handle.page->header().age_name_bytes); }
PyObject* page_name(const PrpFileValue& handle) { return text_object(handle.page->header().page_name_bytes); }

}  // namespace

template <>
const ClassDef<PrpFileValue>& class_def<PrpFileValue>() {
  static const ClassDef<PrpFileValue> def{
      .id = TypeId::PrpFile,
      .qualified_name = "lumivex.PrpFile",
      .doc = "A loaded .prp (Plasma Resource Page) file.",
      .properties =
          {
              {"age_name", age_name, "Age name from the page header."},
              {"page_name", page_name, "Page name from the page header."},
              {"header",
               [](const PrpFileValue& h, const ModuleState& state) {
                 return make<PageHeader>(state, h.page->header());
               },
               "Get the page header info."},
              {"lost_keys", [](const PrpFileValue& h) { return to_py(h.page->lost_keys()); },
               "Keys the index announced but that could not be read (0 when none was lost)."},
          },
      .methods =
          {
              static_method<load, Failure::File>("load", "load(path)\n--\n\nLoad a PRP file from disk."),
              static_method<from_bytes, Failure::File>("from_bytes",
                                                       "from_bytes(data)\n--\n\nLoad a PRP file from bytes."),
              static_method<from_buffer, Failure::File>(
                  "from_buffer",
                  "from_buffer(obj)\n--\n\nLoad a PRP file from any object with the buffer protocol (bytearray, "
                  "memoryview, mmap)."),
              static_method<from_file, Failure::File>(
                  "from_file", "from_file(fileobj)\n--\n\nLoad a PRP file from a binary file object, read to its end."),
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
              method<reduce_page, Failure::File>("__reduce__", nullptr),
              method<find>("find",
                           "find($self, name, class_type=None)\n--\n\nThe objects with this name, in index order: of "
                           "every class, or of one class given by its id or its name."),
          },
      .repr = page_repr,
      .slots =
          {
              {Py_sq_length, reinterpret_cast<void*>(length_slot<length>)},
              {Py_tp_iter, reinterpret_cast<void*>(object_slot<iterate>)},
              {Py_mp_subscript, reinterpret_cast<void*>(binary_slot<subscript>)},
              {Py_sq_contains, reinterpret_cast<void*>(contains_slot<contains>)},
          },
      .copies_as_itself = true,
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
              {"age_name", [](const PageHeader& h) { return text_object(h.age_name_bytes); }, "Age name."},
              {"page_name", [](const PageHeader& h) { return text_object(h.page_name_bytes); }, "Page name."},
              {"major_version", record_value<&PageHeader::major_version>, "Major version of the engine that wrote it."},
              {"checksum", record_value<&PageHeader::checksum>, "Checksum, as stored (never verified)."},
              {"data_start", record_value<&PageHeader::data_start>, "Offset of the object data region."},
              {"index_start", record_value<&PageHeader::index_start>, "Offset of the key index."},
          },
      .repr = header_repr,
      .equal = same_header,
      .hash = header_hash,
      .copies_as_itself = true,
  };
  return def;
}

template <>
const ClassDef<ObjectIteratorValue>& class_def<ObjectIteratorValue>() {
  static const ClassDef<ObjectIteratorValue> def{
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

PyObject* paired_objects(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    PyObject* a = nullptr;
    PyObject* b = nullptr;
    parse_args(args, kwargs, "_paired_objects", {"a", "b"}, {&a, &b});
    for (const auto& [name, page] : {std::pair{"a", a}, std::pair{"b", b}}) {
      if (Py_TYPE(page) != module_state(module).type(TypeId::PrpFile)) {
        PyErr_Format(PyExc_TypeError, "_paired_objects() argument '%s' must be PrpFile, not %.200s", name,
                     Py_TYPE(page)->tp_name);
        throw PythonError{};
      }
    }
    const ObjectPairs pairs = without_gil([&](const InterruptCheck&) { return pair_objects(page_of(a), page_of(b)); });
    const Ref differing = Ref::checked(to_py_list(pairs.differing, [](const auto& pair) {
      const Ref in_a = Ref::checked(to_py(pair.first));
      const Ref in_b = Ref::checked(to_py(pair.second));
      return checked(PyTuple_Pack(2, in_a.get(), in_b.get()));
    }));
    const Ref only_a = Ref::checked(to_py(pairs.only_a));
    const Ref only_b = Ref::checked(to_py(pairs.only_b));
    return checked(PyTuple_Pack(3, differing.get(), only_a.get(), only_b.get()));
  });
}

PyTypeObject* create_prp_file_type(PyObject* module) { return create_type<PrpFileValue>(module); }
PyTypeObject* create_page_header_info_type(PyObject* module) { return create_type<PageHeader>(module); }
PyTypeObject* create_object_iterator_type(PyObject* module) { return create_type<ObjectIteratorValue>(module); }

}  // namespace lumivex::py
