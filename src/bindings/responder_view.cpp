#include "bindings/key_class.h"
#include "bindings/view_edit.h"
#include "resource/prp/responder.h"

namespace lumivex::py {
namespace {

using ResponderModView = Decoded<ResponderModData>;

std::string responder_repr(const ResponderModView& view) {
  return "ResponderMod('" + text_or_empty(view.record.self_key, view.source) + "', " +
         std::to_string(view.record.states.count) + " states, enabled=" + (view.record.enabled ? "true" : "false") +
         ")";
}

}  // namespace

template <>
const ClassDef<ResponderModView>& class_def<ResponderModView>() {
  static const ClassDef<ResponderModView> def{
      .id = view_type_id<ResponderModData>(),
      .qualified_name = "lumivex.ResponderMod",
      .properties =
          {
              {"name", decoded_name_or_empty<&ResponderModData::self_key>, "Object name."},
              {"num_states", [](const ResponderModView& r) { return to_py(r.record.states.count); },
               "Number of states."},
              {"cur_state", decoded_value<&ResponderModData::cur_state>, "Index of the current state."},
              {"enabled", decoded_value<&ResponderModData::enabled>, "Whether the responder is enabled."},
              {"receiver_keys",
               [](const ResponderModView& r, const ModuleState& state) {
                 std::vector<Uoid> keys;
                 for (const ResponderState& s : r.record.read_states(r.source))
                   for (const ResponderCmd& command : s.read_commands(r.source))
                     for (const Uoid& key : command.receivers.present_keys(r.source)) keys.push_back(key);
                 return to_py_list(keys,
                                   [&](const Uoid& key) { return make<KeyValue>(state, key_value(key, r.source)); });
               },
               "Keys of every receiver of every command, in stored order."},
          },
      .repr = responder_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<ResponderModData>() {
  static const std::vector<Settable> settable = {
      {"cur_state", Takes::U8},
      {"enabled", Takes::Bool},
      {"receiver_keys", Takes::Keys},
  };
  return settable;
}

const RegisterView<ResponderModData> register_responder_view;

}  // namespace lumivex::py
