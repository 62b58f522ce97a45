#include "age/description.h"
#include "python/classes.h"
#include "python/convert.h"

namespace lumivex::py {

template <>
inline constexpr bool is_view_record<AgePage> = true;

namespace {

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  std::string path;
  if (!parse_args(args, kwargs, "load", {"path"}, {&arg}) || !arg_str(arg, "load", "path", path)) return nullptr;
  return guarded(PyExc_OSError, [&] { return make(AgeDescription::from_file(path)); });
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* name_arg = nullptr;
  PyObject* content_arg = nullptr;
  std::string age_name;
  std::string content;
  if (!parse_args(args, kwargs, "parse", {"age_name", "content"}, {&name_arg, &content_arg}) ||
      !arg_str(name_arg, "parse", "age_name", age_name) || !arg_str(content_arg, "parse", "content", content))
    return nullptr;
  return guarded(PyExc_ValueError, [&] { return make(AgeDescription::parse(std::move(age_name), content)); });
}

PyObject* prp_filename(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  std::string page_name;
  if (!parse_args(args, kwargs, "prp_filename", {"page_name"}, {&arg}) ||
      !arg_str(arg, "prp_filename", "page_name", page_name))
    return nullptr;
  return guarded(PyExc_ValueError, [&] { return to_py(unbox<AgeDescription>(self).prp_filename(page_name)); });
}

std::string age_repr(const AgeDescription& age) {
  return "AgeFile('" + age.age_name + "', " + std::to_string(age.pages.size()) +
         " pages, prefix=" + std::to_string(age.sequence_prefix) + ")";
}

std::string page_repr(const AgePage& page) {
  return "PageEntry('" + page.name + "', seq=" + std::to_string(page.seq_suffix) +
         ", auto_load=" + (page.auto_load() ? "true" : "false") + ")";
}

}  // namespace

PyTypeObject* create_age_file_type() {
  static const ClassDef<AgeDescription> def{
      .qualified_name = "lumivex.AgeFile",
      .doc = "Parsed .age file.",
      .properties =
          {
              {"age_name", member<&AgeDescription::age_name>},
              {"sequence_prefix", member<&AgeDescription::sequence_prefix>},
              {"max_capacity", member<&AgeDescription::max_capacity>},
              {"day_length", member<&AgeDescription::day_length>},
              {"pages", member<&AgeDescription::pages>},
          },
      .methods =
          {
              {"load", function(load), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
               "load(path)\n--\n\nLoad an .age file from disk."},
              {"parse", function(parse), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
               "parse(age_name, content)\n--\n\nParse .age content string."},
              {"prp_filename", function(prp_filename), METH_VARARGS | METH_KEYWORDS,
               "prp_filename($self, page_name)\n--\n\nGet the .prp filename for a page."},
          },
      .repr = age_repr,
  };
  return create_type(def);
}

PyTypeObject* create_page_entry_type() {
  static const ClassDef<AgePage> def{
      .qualified_name = "lumivex.PageEntry",
      .properties =
          {
              {"name", member<&AgePage::name>},
              {"seq_suffix", member<&AgePage::seq_suffix>},
              {"flags", member<&AgePage::flags>},
              {"auto_load", [](const AgePage& page) { return to_py(page.auto_load()); }},
          },
      .repr = page_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
