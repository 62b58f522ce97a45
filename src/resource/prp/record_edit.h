#pragma once

// An object's bytes with some of its fields changed: the new values are
// stored over the bytes of just those fields, found by the decoder's marks,
// and every other byte is copied as it was, understood or not.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "resource/prp/field_marks.h"
#include "resource/prp/object_key.h"
#include "resource/prp/python_file_mod.h"

namespace lumivex {

// A field's new value: an unsigned integer, a float, a bool, a colour, a text
// (UTF-8), a reference or none, a list of references, a list of parameters.
using FieldValue = std::variant<uint64_t, float, bool, std::array<float, 4>, std::string, std::optional<BuiltKey>,
                                std::vector<BuiltKey>, std::vector<ParamSetting>>;

struct FieldChange {
  std::string_view field;  // the view property, as the marks label it
  FieldValue value;
};

// bytes with each change stored over the field it names. A value equal to
// the stored one (a float by its bits, a text as decoded, a list element by
// element) keeps its stored bytes. Fails on a field the bytes do not store
// and on a value its stored form cannot hold.
std::vector<uint8_t> with_changes(std::span<const uint8_t> bytes, const FieldMarks& marks,
                                  std::span<const FieldChange> changes);

// bytes with the object's own key, which follows its class index, made key;
// unchanged where it already is.
std::vector<uint8_t> with_own_key(std::span<const uint8_t> bytes, const BuiltKey& key);

}  // namespace lumivex
