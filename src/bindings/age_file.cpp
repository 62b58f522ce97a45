#include "age/description.h"
#include "age/lint.h"
#include "bindings/classes.h"
#include "bindings/convert.h"
#include "bindings/lint.h"

namespace lumivex::py {

template <>
const ClassDef<AgeDescription>& class_def<AgeDescription>();
namespace {

using PageOf = PartOf<AgeDescription>;

}  // namespace

template <>
const ClassDef<PageOf>& class_def<PageOf>();

namespace {

// Its age's page.
const AgePage& page_of(const PageOf& of) { return of.owner().pages[of.place()]; }

PyObject* load_age(const ModuleState& state, PyObject* args, PyObject* kwargs, const char* function,
                   bool regular_only) {
  PyObject* arg = nullptr;
  PyObject* inside = nullptr;
  FileRule rule;
  if (regular_only) {
    parse_args(args, kwargs, function, {"path", "inside"}, {&arg, &inside}, 1);
    rule = regular_file_rule(inside, function);
  } else {
    parse_args(args, kwargs, function, {"path"}, {&arg});
  }
  const PathArg path = arg_path(arg, function, "path");
  AgeDescription age = on_file(state, path, [&] {
    return without_gil(
        [&](const InterruptCheck& interrupt) { return AgeDescription::from_file(path.bytes, interrupt, rule); });
  });
  return make<AgeDescription>(state, std::move(age));
}

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  return load_age(static_method_state(), args, kwargs, "load", false);
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* name_arg = nullptr;
  PyObject* content_arg = nullptr;
  parse_args(args, kwargs, "parse", {"age_name", "content"}, {&name_arg, &content_arg});
  std::string age_name = arg_str(name_arg, "parse", "age_name");
  const std::string content = arg_str(content_arg, "parse", "content");
  return make<AgeDescription>(static_method_state(), AgeDescription::parse(std::move(age_name), content));
}

PyObject* lint(PyObject*, PyObject* args, PyObject* kwargs) { return lint_file(args, kwargs, lint_age_description); }

PyObject* lint_text(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* name_arg = nullptr;
  PyObject* content_arg = nullptr;
  parse_args(args, kwargs, "lint_text", {"age_name", "content"}, {&name_arg, &content_arg});
  arg_str(name_arg, "lint_text", "age_name");
  const std::string content = arg_str(content_arg, "lint_text", "content");
  return lint_problems(static_method_state(), content, lint_age_description);
}

PyObject* prp_filename(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* arg = nullptr;
  parse_args(args, kwargs, "prp_filename", {"page_name"}, {&arg});
  const std::string page_name = arg_str(arg, "prp_filename", "page_name");
  return to_py(unbox<AgeDescription>(self).prp_filename(page_name));
}

std::string age_repr(const AgeDescription& age) {
  return "AgeFile('" + age.age_name + "', " + std::to_string(age.pages.size()) +
         " pages, prefix=" + std::to_string(age.sequence_prefix) + ")";
}

std::string page_repr(const PageOf& of) {
  const AgePage& page = page_of(of);
  return "PageEntry('" + std::string(of.owner().name_of(page)) + "', seq=" + std::to_string(page.seq_suffix) +
         ", auto_load=" + (page.auto_load() ? "true" : "false") + ")";
}

bool same_age(const AgeDescription& a, const AgeDescription& b) { return a == b; }

std::size_t age_hash(const AgeDescription& age) {
  return hash_of({age.age_name}, {static_cast<uint32_t>(age.sequence_prefix), age.pages.size()});
}

bool same_page(const PageOf& a, const PageOf& b) {
  const AgePage& page_a = page_of(a);
  const AgePage& page_b = page_of(b);
  return a.owner().name_of(page_a) == b.owner().name_of(page_b) && page_a.seq_suffix == page_b.seq_suffix &&
         page_a.flags == page_b.flags;
}

std::size_t page_hash(const PageOf& of) {
  const AgePage& page = page_of(of);
  return hash_of({of.owner().name_of(page)}, {page.seq_suffix, page.flags});
}

}  // namespace

template <>
const ClassDef<AgeDescription>& class_def<AgeDescription>() {
  static const ClassDef<AgeDescription> def{
      .id = TypeId::AgeFile,
      .qualified_name = "lumivex.AgeFile",
      .doc = "Parsed .age file.",
      .properties =
          {
              {"age_name", record_value<&AgeDescription::age_name>, "Age name: the file's name without its extension."},
              {"sequence_prefix", record_value<&AgeDescription::sequence_prefix>,
               "The age's sequence prefix (SequencePrefix)."},
              {"max_capacity", record_value<&AgeDescription::max_capacity>,
               "Most players at once (MaxCapacity; -1 when not set)."},
              {"day_length", record_value<&AgeDescription::day_length>,
               "Length of the age's day (DayLength; 24.0 when not set)."},
              {"start_date_time", record_value<&AgeDescription::start_date_time>,
               "When the age's time starts, in seconds since 1970 (StartDateTime; 0 when not set)."},
              {"linger_time", record_value<&AgeDescription::linger_time>,
               "Seconds the age stays loaded once empty (LingerTime; -1 when not set)."},
              {"release_version", record_value<&AgeDescription::release_version>,
               "The age's release version (ReleaseVersion; 0 when not set)."},
              {"pages",
               [](PyObject* self) { return parts_of<AgeDescription>(self, unbox<AgeDescription>(self).pages.size()); },
               "The age's pages, in file order."},
          },
      .methods =
          {
              static_method<load, Failure::File>("load", "load(path)\n--\n\nLoad an .age file from disk."),
              static_method<parse>("parse", "parse(age_name, content)\n--\n\nParse .age content string."),
              static_method<lint, Failure::File>(
                  "lint",
                  "lint(path)\n--\n\nList the problems of an .age file: each line the parser skips, guesses or "
                  "defaults, as LintProblem(line, text, reason) in line order; a file that is no age description at "
                  "all is one problem of line 0."),
              static_method<lint_text>("lint_text",
                                       "lint_text(age_name, content)\n--\n\nList the problems of .age content, as "
                                       "lint does for a file; age_name is taken as parse takes it."),
              method<prp_filename>("prp_filename",
                                   "prp_filename($self, page_name)\n--\n\nGet the .prp filename for a page."),
          },
      .repr = age_repr,
      .equal = same_age,
      .hash = age_hash,
      .copies_as_itself = true,
  };
  return def;
}

template <>
const ClassDef<PageOf>& class_def<PageOf>() {
  static const ClassDef<PageOf> def{
      .id = TypeId::PageEntry,
      .qualified_name = "lumivex.PageEntry",
      .properties =
          {
              {"name", [](const PageOf& of) { return to_py(of.owner().name_of(page_of(of))); }, "Page name."},
              {"seq_suffix", [](const PageOf& of) { return to_py(page_of(of).seq_suffix); },
               "The page's sequence suffix within the age."},
              {"flags", [](const PageOf& of) { return to_py(page_of(of).flags); },
               "Page flags (bit 0: not loaded automatically)."},
              {"auto_load", [](const PageOf& of) { return to_py(page_of(of).auto_load()); },
               "Whether the page is loaded with the age."},
          },
      .repr = page_repr,
      .equal = same_page,
      .hash = page_hash,
      .copies_as_itself = true,
  };
  return def;
}

PyObject* refused_pages(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    PyObject* arg = nullptr;
    parse_args(args, kwargs, "_refused_pages", {"age"}, {&arg});
    if (Py_TYPE(arg) != module_state(module).type(TypeId::AgeFile)) {
      PyErr_Format(PyExc_TypeError, "_refused_pages() argument 'age' must be AgeFile, not %.200s",
                   Py_TYPE(arg)->tp_name);
      throw PythonError{};
    }
    const AgeDescription& age = unbox<AgeDescription>(arg);
    return to_py_list(age.refused_pages(), [&](const RefusedPage& refused) {
      const Ref line = Ref::checked(to_py(refused.line));
      const Ref name = Ref::checked(to_py(age.name_of(age.pages[refused.page])));
      const Ref reason = Ref::checked(to_py(refused.reason));
      return checked(PyTuple_Pack(3, line.get(), name.get(), reason.get()));
    });
  });
}

PyTypeObject* create_age_file_type(PyObject* module) { return create_type<AgeDescription>(module); }
PyTypeObject* create_page_entry_type(PyObject* module) { return create_type<PageOf>(module); }

PyObject* load_regular_age(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::File,
                  [&] { return load_age(module_state(module), args, kwargs, "_load_regular_age", true); });
}

}  // namespace lumivex::py
