#include "python/classes.h"
#include "python/page_classes.h"
#include "resource/prp/responder.h"

namespace lumivex::py {
namespace {

using ResponderModView = Decoded<ResponderModData>;

std::string responder_repr(const ResponderModView& view) {
  return "ResponderMod('" + text_or_empty(view.record.self_key, view.bytes) + "', " +
         std::to_string(view.record.states.count) + " states, enabled=" + (view.record.enabled ? "true" : "false") +
         ")";
}

}  // namespace

PyObject* as_responder(PyObject* self, PyObject* args) {
  return decode_as<ResponderModData, &parse_responder_modifier>(self, args);
}

PyTypeObject* create_responder_mod_type() {
  static const ClassDef<ResponderModView> def{
      .qualified_name = "lumivex.ResponderMod",
      .properties =
          {
              {"name", text_field<&ResponderModData::self_key>},
              {"num_states", [](const ResponderModView& r) { return to_py(r.record.states.count); }},
              {"cur_state", field<&ResponderModData::cur_state>},
              {"enabled", field<&ResponderModData::enabled>},
          },
      .repr = responder_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
