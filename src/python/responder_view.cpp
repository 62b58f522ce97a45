#include "python/classes.h"
#include "python/page_classes.h"
#include "resource/prp/responder.h"

namespace lumivex::py {
namespace {

// What ResponderMod shows of a decoded responder.
struct ResponderModView {
  std::string name;
  uint64_t num_states = 0;
  uint8_t cur_state = 0;
  bool enabled = false;
};

ResponderModView responder_view(std::span<const uint8_t> object_bytes) {
  ResponderModData data = parse_responder_modifier(object_bytes);
  return {data.self_key ? std::move(data.self_key->name) : std::string(), data.states.size(), data.cur_state,
          data.enabled};
}

std::string responder_repr(const ResponderModView& view) {
  return "ResponderMod('" + view.name + "', " + std::to_string(view.num_states) +
         " states, enabled=" + (view.enabled ? "true" : "false") + ")";
}

}  // namespace

PyObject* as_responder(PyObject* self, PyObject* args) {
  return decode_as<ResponderModView, &responder_view>(self, args);
}

PyTypeObject* create_responder_mod_type() {
  static const ClassDef<ResponderModView> def{
      .qualified_name = "lumivex.ResponderMod",
      .properties =
          {
              {"name", member<&ResponderModView::name>},
              {"num_states", member<&ResponderModView::num_states>},
              {"cur_state", member<&ResponderModView::cur_state>},
              {"enabled", member<&ResponderModView::enabled>},
          },
      .repr = responder_repr,
  };
  return create_type(def);
}

}  // namespace lumivex::py
