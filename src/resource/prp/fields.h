#pragma once

// A decoded record's fields, visited one by one in stored order. Each record
// type has visit_fields(record, visit), which calls visit(label, value) for
// every field the record keeps; the reference walk and the read-back of
// everything a record locates are written once, here, over that visit, and
// so is whatever writes a record back.
//
// The value's type is the field's kind: an integer of its stored width, a
// float, a bool, a key reference (StoredKey; std::optional<Uoid> in an
// element read again), a safe string (StoredString, optional where the key
// that holds it may be absent), a run of bytes (ByteRange), a list of key
// references (KeyList), a list of elements (a StoredList, read again by its
// read_items overload), a fixed array or a variant of kinds, or a record of
// fields of its own. The label is the name the field is shown by: the view's
// property where one shows it, else the field's own name; an element's field
// labelled "" stands for the element itself.

#include <array>
#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "core/key_list.h"

namespace lumivex {

// The label of the object's own key, which every view shows as its name and
// no reference walk lists.
inline constexpr std::string_view kOwnKeyLabel = "name";

namespace fields {

template <class T>
concept Record = requires(const T& record) { visit_fields(record, [](std::string_view, const auto&) {}); };

template <class T>
inline constexpr bool is_array = false;
template <class T, std::size_t N>
inline constexpr bool is_array<std::array<T, N>> = true;

template <class T>
inline constexpr bool is_variant = false;
template <class... T>
inline constexpr bool is_variant<std::variant<T...>> = true;

template <class Item>
std::true_type stored_list_test(const StoredList<Item>*);
std::false_type stored_list_test(const void*);
template <class T>
inline constexpr bool is_stored_list = decltype(stored_list_test(static_cast<const T*>(nullptr)))::value;

template <class T>
using Element = typename decltype(read_items(std::declval<const T&>(), std::declval<const Source&>()))::value_type;

inline std::string element_label(const std::string& list, std::size_t index) {
  return list + "[" + std::to_string(index) + "]";
}

inline std::string field_label(const std::string& prefix, std::string_view label) {
  if (label.empty()) return prefix;
  if (prefix.empty()) return std::string(label);
  return prefix + "." + std::string(label);
}

template <Record R>
void append_references(std::vector<KeyReference>& out, const std::string& prefix, const R& record,
                       const Source& source);

template <class Value>
void append_field_references(std::vector<KeyReference>& out, const std::string& label, const Value& value,
                             const Source& source) {
  if constexpr (std::is_same_v<Value, StoredKey>) {
    add_reference(out, label, value, source);
  } else if constexpr (std::is_same_v<Value, std::optional<Uoid>>) {
    add_reference(out, label, value);
  } else if constexpr (std::is_same_v<Value, KeyList>) {
    add_references(out, label, value, source);
  } else if constexpr (is_array<Value>) {
    for (std::size_t i = 0; i < value.size(); ++i)
      append_field_references(out, element_label(label, i), value[i], source);
  } else if constexpr (is_variant<Value>) {
    std::visit([&](const auto& held) { append_field_references(out, label, held, source); }, value);
  } else if constexpr (is_stored_list<Value>) {
    // Only elements with fields of their own can hold references: a list of
    // numbers is not read.
    if constexpr (Record<Element<Value>>) {
      const auto items = read_items(value, source);
      for (std::size_t i = 0; i < items.size(); ++i) append_references(out, element_label(label, i), items[i], source);
    }
  } else if constexpr (Record<Value>) {
    append_references(out, label, value, source);
  }
}

template <Record R>
void append_references(std::vector<KeyReference>& out, const std::string& prefix, const R& record,
                       const Source& source) {
  visit_fields(record, [&](std::string_view label, const auto& value) {
    if (prefix.empty() && label == kOwnKeyLabel) return;
    append_field_references(out, field_label(prefix, label), value, source);
  });
}

template <Record R>
void read_all_located(const R& record, const Source& source);

template <class Value>
void read_back(const Value& value, const Source& source) {
  if constexpr (std::is_same_v<Value, StoredKey>) {
    if (value) source.text(read_key(source, value).name);
  } else if constexpr (std::is_same_v<Value, std::optional<Uoid>>) {
    if (value) source.text(value->name);
  } else if constexpr (std::is_same_v<Value, StoredString>) {
    source.text(value);
  } else if constexpr (std::is_same_v<Value, std::optional<StoredString>>) {
    if (value) source.text(*value);
  } else if constexpr (std::is_same_v<Value, ByteRange>) {
    source.bytes(value);
  } else if constexpr (std::is_same_v<Value, KeyList>) {
    value.present_names(source);
  } else if constexpr (is_array<Value>) {
    for (const auto& item : value) read_back(item, source);
  } else if constexpr (is_variant<Value>) {
    std::visit([&](const auto& held) { read_back(held, source); }, value);
  } else if constexpr (is_stored_list<Value>) {
    const auto items = read_items(value, source);
    if constexpr (Record<Element<Value>>)
      for (const auto& item : items) read_all_located(item, source);
  } else if constexpr (Record<Value>) {
    read_all_located(value, source);
  }
}

template <Record R>
void read_all_located(const R& record, const Source& source) {
  visit_fields(record, [&](std::string_view, const auto& value) { read_back(value, source); });
}

}  // namespace fields

// Every reference the record holds but the object's own key, in stored
// order, each labelled by where it lies: "texture_key",
// "states[0].commands[1].receivers[0]".
template <fields::Record R>
std::vector<KeyReference> references(const R& record, const Source& source) {
  std::vector<KeyReference> out;
  fields::append_references(out, "", record, source);
  return out;
}

// Reads back everything the record locates; after a decode that succeeded
// this cannot fail.
template <fields::Record R>
void read_all_located(const R& record, const Source& source) {
  fields::read_all_located(record, source);
}

}  // namespace lumivex
