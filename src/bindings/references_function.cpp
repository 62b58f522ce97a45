#include "bindings/classes.h"
#include "bindings/key_class.h"
#include "bindings/page_classes.h"
#include "resource/prp/references.h"

namespace lumivex::py {
namespace {

// References handed to the callback at once: enough to make each call cheap,
// few enough that a stretch costs little memory.
constexpr std::size_t kBatch = 4096;

const char* status_name(ReferenceStatus status) {
  switch (status) {
    case ReferenceStatus::Found:
      return "found";
    case ReferenceStatus::OtherId:
      return "other id";
    case ReferenceStatus::Missing:
      return "missing";
    case ReferenceStatus::Outside:
      return "outside";
    case ReferenceStatus::Undecodable:
      break;
  }
  return "undecodable";
}

}  // namespace

PyObject* resolve_references(PyObject* module, PyObject* args, PyObject* kwargs) {
  return boundary(Failure::Data, [&]() -> PyObject* {
    PyObject* pages_arg = nullptr;
    PyObject* problems_arg = nullptr;
    PyObject* shared = nullptr;
    PyObject* each = nullptr;
    parse_args(args, kwargs, "_resolve_references", {"pages", "problems_only", "shared", "each"},
               {&pages_arg, &problems_arg, &shared, &each});
    const ModuleState& state = module_state(module);
    const Ref sequence = Ref::checked(
        PySequence_Fast(pages_arg, "_resolve_references() argument 'pages' must be a sequence of PrpFile"));
    std::vector<std::shared_ptr<const PrpPage>> pages;
    std::vector<PyObject*> files;  // held by the sequence
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence.get()); ++i) {
      PyObject* item = PySequence_Fast_GET_ITEM(sequence.get(), i);
      if (Py_TYPE(item) != state.type(TypeId::PrpFile)) {
        PyErr_Format(PyExc_TypeError, "_resolve_references() argument 'pages' must hold PrpFile, not %.200s",
                     Py_TYPE(item)->tp_name);
        throw PythonError{};
      }
      pages.push_back(unbox<PrpFileValue>(item).page);
      files.push_back(item);
    }
    const int problems_only = PyObject_IsTrue(problems_arg);
    if (problems_only < 0) throw PythonError{};
    for (const auto& [name, callback] : {std::pair{"shared", shared}, std::pair{"each", each}}) {
      if (!PyCallable_Check(callback)) {
        PyErr_Format(PyExc_TypeError, "_resolve_references() argument '%s' must be callable, not %.200s", name,
                     Py_TYPE(callback)->tp_name);
        throw PythonError{};
      }
    }
    ReferenceResolver resolver =
        without_gil([&](const InterruptCheck&) { return ReferenceResolver(pages, problems_only != 0); });
    const auto object = [&](std::size_t page, const ObjectKey* key) {
      return object_at(files[page], static_cast<std::size_t>(key - pages[page]->keys().data()));
    };
    const Ref shared_names = Ref::checked(to_py_list(resolver.shared_names(), [&](const SharedName& name) {
      const Ref page = Ref::checked(to_py(name.page));
      const Ref first = Ref::checked(object(name.page, name.first));
      const Ref count = Ref::checked(to_py(name.count));
      return checked(PyTuple_Pack(3, page.get(), first.get(), count.get()));
    }));
    Ref::checked(PyObject_CallOneArg(shared, shared_names.get()));
    std::vector<ResolvedReference> batch;
    while (without_gil([&](const InterruptCheck&) { return resolver.next(batch, kBatch); })) {
      const Ref listed = Ref::checked(to_py_list(batch, [&](const ResolvedReference& reference) {
        const Ref page = Ref::checked(to_py(reference.page));
        const Ref source = Ref::checked(object(reference.page, reference.source));
        const Ref status = Ref::checked(new_str(status_name(reference.status)));
        const Ref field = Ref::checked(new_str(reference.field));
        Ref key = Ref::checked(Py_NewRef(Py_None));
        if (reference.status != ReferenceStatus::Undecodable)
          key = Ref::checked(make<KeyValue>(state, key_value(reference.key, reference.name_bytes)));
        const Ref target =
            Ref::checked(reference.target ? object(reference.target_page, reference.target) : Py_NewRef(Py_None));
        return checked(PyTuple_Pack(6, page.get(), source.get(), status.get(), field.get(), key.get(), target.get()));
      }));
      Ref::checked(PyObject_CallOneArg(each, listed.get()));
    }
    return to_py(resolver.references());
  });
}

}  // namespace lumivex::py
