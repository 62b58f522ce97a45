#include "resource/prp/page_builder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <unordered_set>

#include "core/class_index.h"
#include "core/text.h"
#include "resource/prp/decoders.h"
#include "resource/prp/name_search.h"
#include "resource/prp/record_edit.h"
#include "resource/prp/synched_object.h"

namespace lumivex {
namespace {

constexpr uint32_t kPageVersion = 6;
constexpr uint16_t kNewPageMajorVersion = 70;
constexpr std::size_t kLongestName = kSafeStringLengthMask;

void check_name(const std::string& name_bytes) {
  if (name_bytes.size() > kLongestName)
    throw Error("A name of " + std::to_string(name_bytes.size()) + " bytes is too long for a key (at most 4095)");
  check_new_safe_string(name_bytes);
}

// A stored name to be replaced by the new name of a rename.
struct RenamedSpan {
  NameSpan span;
  std::size_t change;  // the rename's place among the changes
  bool own_key;        // the renamed object's own key, which no count includes
};

// The names read, in stored order, each once.
void sort_spans(std::vector<NameSpan>& spans) {
  std::sort(spans.begin(), spans.end(), [](const NameSpan& a, const NameSpan& b) { return a.at < b.at; });
  spans.erase(
      std::unique(spans.begin(), spans.end(), [](const NameSpan& a, const NameSpan& b) { return a.at == b.at; }),
      spans.end());
}

// The spans to replace in stored order, each once: a name found twice (the
// own key, then as a reference) is written once, as it was found first.
void sort_spans(std::vector<RenamedSpan>& spans) {
  std::stable_sort(spans.begin(), spans.end(),
                   [](const RenamedSpan& a, const RenamedSpan& b) { return a.span.at < b.span.at; });
  spans.erase(std::unique(spans.begin(), spans.end(),
                          [](const RenamedSpan& a, const RenamedSpan& b) { return a.span.at == b.span.at; }),
              spans.end());
}

// The bytes with each span, in stored order, replaced by its rename's new
// name, written in the normal form.
std::vector<uint8_t> with_names(std::span<const uint8_t> bytes, const std::vector<RenamedSpan>& spans,
                                const std::vector<std::vector<uint8_t>>& written_names) {
  std::size_t size = bytes.size();
  for (const RenamedSpan& renamed : spans) size += written_names[renamed.change].size();
  PlasmaWrite out(size);
  std::size_t from = 0;
  for (const RenamedSpan& renamed : spans) {
    out.write_bytes(bytes.subspan(from, renamed.span.at - from));
    out.write_bytes(written_names[renamed.change]);
    from = renamed.span.at + renamed.span.size;
  }
  out.write_bytes(bytes.subspan(from));
  return out.take_bytes();
}

// Where a stored name lies with its header, in the bytes it was located in.
NameSpan span_of(const StoredString& name) {
  return {name.offset - sizeof(uint16_t), sizeof(uint16_t) + std::size_t{name.size()}};
}

std::string already_named(uint16_t class_type, const std::string& name_bytes) {
  return "The page already holds a " + std::string(ClassIndex::class_name(class_type)) + " named '" +
         utf8_text(name_bytes) + "'";
}

// Whether a decode read every reference the object's bytes hold: one of a
// responder that stopped at a command it could not read did not.
template <class Record>
bool read_whole(const Record& record) {
  if constexpr (std::is_same_v<Record, ResponderModData>)
    return !record.stopped;
  else
    return true;
}

// Makes match what a reference is matched to a key on: its location, class
// and name. The caller's string is reused, as it is for every reference read.
const std::string& reference_match(std::string& match, uint32_t location_sequence, uint16_t class_type,
                                   std::string_view name_bytes) {
  match.resize(sizeof location_sequence + sizeof class_type);
  std::memcpy(match.data(), &location_sequence, sizeof location_sequence);
  std::memcpy(match.data() + sizeof location_sequence, &class_type, sizeof class_type);
  return match.append(name_bytes);
}

// Bytes made for the builder, kept by what holds them.
HeldBytes held(std::vector<uint8_t> bytes) {
  auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  const std::span<const uint8_t> span(*owned);
  return {std::move(owned), span};
}

// Fails on bytes for an object of class_type named name_bytes that begin
// with the class index of another class: the index and the bytes would
// disagree. Bytes too short for a class index pass.
void check_class_index(uint16_t class_type, const std::string& name_bytes, std::span<const uint8_t> bytes) {
  if (bytes.size() < kClassIndexSize) return;
  const uint16_t class_index = PlasmaRead::load<uint16_t>(bytes.data());
  if (class_index != class_type)
    throw Error("The bytes of the " + std::string(ClassIndex::class_name(class_type)) + " '" + utf8_text(name_bytes) +
                "' begin with the class index of a " + std::string(ClassIndex::class_name(class_index)));
}

// Bytes given for key's object as the page keeps them: where they hold a key
// of their own after their class index, that key becomes key, as a view's
// does, so that the index and the bytes agree. Bytes that begin with the
// class index of another class are an error; bytes too short for one, or
// that hold no readable key, are kept as given.
HeldBytes with_key_of(const BuiltKey& key, HeldBytes data) {
  const std::span<const uint8_t> bytes = data.bytes;
  check_class_index(key.class_type, key.name_bytes, bytes);
  if (bytes.size() < kClassIndexSize) return data;
  try {
    PlasmaRead reader(bytes, kClassIndexSize);
    const auto own = read_key_uoid(reader);
    if (!own || holds_key(*own, Source(bytes), key)) return data;
  } catch (const Error&) {
    return data;
  }
  return held(with_own_key(bytes, key));
}

}  // namespace

HeldBytes HeldBytes::copy_of(std::span<const uint8_t> bytes) {
  auto copy = std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end());
  const std::span<const uint8_t> held(*copy);
  return {std::move(copy), held};
}

PageBuilder::PageBuilder(std::string age_name_bytes, std::string page_name_bytes, uint32_t sequence_number,
                         uint16_t flags) {
  check_name(age_name_bytes);
  check_name(page_name_bytes);
  header_.version = kPageVersion;
  header_.sequence_number = sequence_number;
  header_.flags = flags;
  header_.age_name_bytes = std::move(age_name_bytes);
  header_.page_name_bytes = std::move(page_name_bytes);
  header_.major_version = kNewPageMajorVersion;
}

PageBuilder PageBuilder::from_page(std::shared_ptr<const PrpPage> page) {
  PageBuilder builder;
  builder.header_ = page->header();
  // A class is written under its first group only, as the writer does.
  for (const TypeGroup& group : page->type_groups())
    if (builder.group_of_class_.try_emplace(group.class_type, builder.groups_.size()).second)
      builder.groups_.push_back({group, {}});
  builder.entries_.reserve(page->keys().size());
  builder.by_name_.reserve(page->keys().size());
  for (const ObjectKey& key : page->keys()) {
    const auto data = page->object_data(key);
    if (!data) throw Error("The data of " + page->key_name(key) + " lies outside its page");
    builder.append({key.location_sequence, key.location_flags, key.load_mask, key.class_type, key.object_id,
                    page->key_name_bytes(key), key.clone_id, key.clone_player_id},
                   {page, *data});
  }
  return builder;
}

uint64_t PageBuilder::name_hash(uint16_t class_type, std::string_view name_bytes) {
  // The class mixed in by a multiplier with its bits spread over the word.
  return std::hash<std::string_view>()(name_bytes) ^ (uint64_t{class_type} * 0x9E3779B97F4A7C15u);
}

void PageBuilder::append(BuiltKey key, HeldBytes data) {
  auto [group, added] = group_of_class_.try_emplace(key.class_type, groups_.size());
  if (added) groups_.push_back({{key.class_type, 0}, {}});
  uint64_t& next_id = next_id_[key.class_type];
  next_id = std::max(next_id, uint64_t{key.object_id} + 1);
  const auto at = static_cast<uint32_t>(entries_.size());
  by_name_.emplace(name_hash(key.class_type, key.name_bytes), at);
  groups_[group->second].entries.push_back(at);
  entries_.push_back({std::move(key), std::move(data), false});
  ++live_;
}

std::vector<const BuiltKey*> PageBuilder::keys() const {
  std::vector<const BuiltKey*> keys;
  keys.reserve(live_);
  for (const Group& group : groups_)
    for (const uint32_t at : group.entries)
      if (!entries_[at].removed) keys.push_back(&entries_[at].key);
  return keys;
}

std::optional<uint32_t> PageBuilder::entry_named(uint16_t class_type, const std::string& name_bytes) const {
  const auto [first, last] = by_name_.equal_range(name_hash(class_type, name_bytes));
  for (auto it = first; it != last; ++it) {
    const BuiltKey& key = entries_[it->second].key;
    if (key.class_type == class_type && key.name_bytes == name_bytes) return it->second;
  }
  return std::nullopt;
}

bool PageBuilder::named(uint16_t class_type, const std::string& name_bytes) const {
  return entry_named(class_type, name_bytes).has_value();
}

uint32_t PageBuilder::entry_of(const BuiltKey& key) const {
  const auto [first, last] = by_name_.equal_range(name_hash(key.class_type, key.name_bytes));
  // The first of equal keys in the writer's order is the one meant.
  uint32_t found = UINT32_MAX;
  for (auto it = first; it != last; ++it)
    if (entries_[it->second].key == key) found = std::min(found, it->second);
  if (found == UINT32_MAX) throw Error("No object named '" + utf8_text(key.name_bytes) + "' in the page being built");
  return found;
}

bool PageBuilder::contains(const BuiltKey& key) const {
  const auto [first, last] = by_name_.equal_range(name_hash(key.class_type, key.name_bytes));
  return std::any_of(first, last, [&](const auto& entry) { return entries_[entry.second].key == key; });
}

const BuiltKey& PageBuilder::add(uint16_t class_type, std::string name_bytes, HeldBytes data) {
  check_name(name_bytes);
  if (named(class_type, name_bytes)) throw Error(already_named(class_type, name_bytes));
  BuiltKey key;
  key.location_sequence = header_.sequence_number;
  key.location_flags = header_.flags;
  key.class_type = class_type;
  const auto next = next_id_.find(class_type);
  const uint64_t object_id = next == next_id_.end() ? 1 : next->second;
  if (object_id > UINT32_MAX)
    throw Error("No object id is left for another " + std::string(ClassIndex::class_name(class_type)));
  key.object_id = static_cast<uint32_t>(object_id);
  key.name_bytes = std::move(name_bytes);
  data = with_key_of(key, std::move(data));
  append(std::move(key), std::move(data));
  return entries_.back().key;
}

const BuiltKey& PageBuilder::add_object(uint16_t class_type, std::span<const uint8_t> bytes) {
  PlasmaRead reader(bytes, kClassIndexSize);
  const auto own = read_key_uoid(reader);
  if (!own) throw Error("The object's bytes hold no key of their own to name it by");
  std::string name_bytes = Source(bytes).stored_bytes(own->name);
  // A view may show the bytes of an object of another class.
  check_class_index(class_type, name_bytes, bytes);
  const BuiltKey& key = add(class_type, std::move(name_bytes), {});
  entries_.back().data = held(with_own_key(bytes, key));
  return key;
}

void PageBuilder::set(const BuiltKey& key, HeldBytes data) {
  Entry& entry = entries_[entry_of(key)];
  entry.data = with_key_of(entry.key, std::move(data));
}

void PageBuilder::set_object(const BuiltKey& key, uint16_t class_type, std::span<const uint8_t> bytes) {
  Entry& entry = entries_[entry_of(key)];
  if (class_type != key.class_type)
    throw Error("A " + std::string(ClassIndex::class_name(class_type)) + " cannot replace the " +
                std::string(ClassIndex::class_name(key.class_type)) + " '" + utf8_text(key.name_bytes) + "'");
  check_class_index(key.class_type, key.name_bytes, bytes);
  entry.data = held(with_own_key(bytes, entry.key));
}

void PageBuilder::forget_name(uint32_t at) {
  const BuiltKey& key = entries_[at].key;
  const auto [first, last] = by_name_.equal_range(name_hash(key.class_type, key.name_bytes));
  for (auto it = first; it != last; ++it)
    if (it->second == at) {
      by_name_.erase(it);
      break;
    }
}

void PageBuilder::remove(const BuiltKey& key) {
  const uint32_t at = entry_of(key);
  forget_name(at);
  // The entry stays, for the order of the others; its bytes go.
  entries_[at].removed = true;
  entries_[at].data = {};
  --live_;
}

// The names of the renames that change one, and whose references they follow.
struct PageBuilder::Changes {
  struct Change {
    std::size_t rename;  // its place among the renames
    uint32_t entry;      // the object renamed, or kElsewhere
    BuiltKey old_key;
  };
  static constexpr uint32_t kElsewhere = UINT32_MAX;

  std::vector<Change> changes;
  // Each change by what its old key's references hold; the first of equal ones.
  std::unordered_map<std::string, std::size_t> by_reference;
  // The change of each object renamed.
  std::unordered_map<uint32_t, std::size_t> by_entry;
};

PageBuilder::Changes PageBuilder::changes_of(const std::vector<NewName>& renames) const {
  Changes found;
  // The objects renamed, by their place here or by their key elsewhere.
  std::unordered_set<uint32_t> entries_given;
  std::unordered_set<std::string> keys_given;
  // The name each class will have taken, from the renames of this page.
  std::unordered_set<std::string> names_taken;
  std::string match;
  for (std::size_t i = 0; i < renames.size(); ++i) {
    const NewName& rename = renames[i];
    check_name(rename.name_bytes);
    const BuiltKey& key = rename.key;
    // An object of this page's location that the builder does not hold is
    // an error, not an object of another page.
    const uint32_t entry =
        contains(key) || key.location_sequence == header_.sequence_number ? entry_of(key) : Changes::kElsewhere;
    const bool given =
        entry == Changes::kElsewhere
            ? keys_given.insert(reference_match(match, key.location_sequence, key.class_type, key.name_bytes)).second
            : entries_given.insert(entry).second;
    if (!given) throw Error("The object '" + utf8_text(key.name_bytes) + "' is renamed twice");
    if (rename.name_bytes == key.name_bytes) continue;
    found.changes.push_back({i, entry, entry == Changes::kElsewhere ? key : entries_[entry].key});
    if (entry == Changes::kElsewhere) continue;
    found.by_entry.emplace(entry, found.changes.size() - 1);
    if (!names_taken.insert(reference_match(match, 0, key.class_type, rename.name_bytes)).second)
      throw Error("Two objects would be named '" + utf8_text(rename.name_bytes) + "': both are renamed so");
  }
  for (std::size_t c = 0; c < found.changes.size(); ++c) {
    const Changes::Change& change = found.changes[c];
    found.by_reference.emplace(
        reference_match(match, change.old_key.location_sequence, change.old_key.class_type, change.old_key.name_bytes),
        c);
    if (change.entry == Changes::kElsewhere) continue;
    // A name may be taken from an object renamed by these renames, not from another.
    const std::string& new_name = renames[change.rename].name_bytes;
    const std::optional<uint32_t> holder = entry_named(change.old_key.class_type, new_name);
    if (holder && !found.by_entry.contains(*holder)) throw Error(already_named(change.old_key.class_type, new_name));
  }
  return found;
}

std::vector<Rename> PageBuilder::rename_all(const std::vector<NewName>& renames) {
  const Changes found = changes_of(renames);
  std::vector<Rename> results;
  results.reserve(renames.size());
  for (const NewName& rename : renames) {
    const bool held = contains(rename.key);
    results.push_back({held ? entries_[entry_of(rename.key)].key : rename.key, 0, 0});
  }
  for (const Changes::Change& change : found.changes)
    results[change.rename].key.name_bytes = renames[change.rename].name_bytes;
  if (found.changes.empty()) return results;

  // The old names looked for where no key was read, each once, with the
  // changes of that name; those of an empty name look at what did not
  // decode whole instead.
  std::vector<std::string> old_names;
  std::vector<std::vector<std::size_t>> changes_of_name;
  std::vector<std::size_t> empty_named;
  std::unordered_map<std::string_view, std::size_t> name_places;
  for (std::size_t c = 0; c < found.changes.size(); ++c) {
    const std::string& old_name = found.changes[c].old_key.name_bytes;
    if (old_name.empty()) {
      empty_named.push_back(c);
      continue;
    }
    const auto [place, added] = name_places.try_emplace(old_name, old_names.size());
    if (added) {
      old_names.push_back(old_name);
      changes_of_name.emplace_back();
    }
    changes_of_name[place->second].push_back(c);
  }
  NameSearch old_name_search(std::move(old_names));
  // The new names as safe strings, by change.
  std::vector<std::vector<uint8_t>> written_names;
  for (const Changes::Change& change : found.changes) {
    PlasmaWrite written;
    written.write_safe_string(renames[change.rename].name_bytes);
    written_names.push_back(written.take_bytes());
  }

  // One object's, reused.
  std::string match;
  std::vector<RenamedSpan> spans;
  std::vector<NameSpan> read;  // the names of every key read, renamed or not
  const auto count_unsearched = [&](std::size_t c, uint32_t at) {
    if (found.changes[c].entry != at) ++results[found.changes[c].rename].unsearched;
  };
  for (const Group& group : groups_) {
    for (const uint32_t at : group.entries) {
      Entry& entry = entries_[at];
      if (entry.removed) continue;
      const std::span<const uint8_t> bytes = entry.data.bytes;
      const Source source(bytes);
      spans.clear();
      read.clear();
      const auto renamed_here = found.by_entry.find(at);
      // The object's own key follows its class index; a renamed object's
      // takes the new name even where it held another than the index.
      if (bytes.size() > kClassIndexSize) {
        try {
          PlasmaRead reader(bytes, kClassIndexSize);
          if (const auto own = read_key_uoid(reader)) {
            read.push_back(span_of(own->name));
            if (renamed_here != found.by_entry.end()) spans.push_back({span_of(own->name), renamed_here->second, true});
          }
        } catch (const Error&) {
          // Bytes that hold no key at their start have none to rename.
        }
      }
      bool searched = false;
      try {
        for_each_decoder([&](const auto& row, std::size_t) {
          if (row.class_type != entry.key.class_type) return;
          FieldMarks marks;
          const auto record = row.locate(bytes, marks);
          searched = read_whole(record);
          const auto reference = [&](const Uoid& key) {
            read.push_back(span_of(key.name));
            const auto change = found.by_reference.find(
                reference_match(match, key.location_sequence, key.class_type, source.stored_bytes(key.name)));
            if (change != found.by_reference.end()) spans.push_back({span_of(key.name), change->second, false});
          };
          for (const KeyReference& listed : references(record, source)) reference(listed.key);
          for (const uint32_t key_at : marks.unread_keys()) {
            try {
              PlasmaRead reader(bytes, key_at);
              if (const auto key = read_key_uoid(reader)) reference(*key);
            } catch (const Error&) {
              // Where the decode stopped: no whole key lies there.
            }
          }
        });
      } catch (const Error&) {
        // An object that does not decode cannot be searched.
        searched = false;
      }
      // A reference stores its key's name: bytes that hold an old name
      // nowhere outside the names read refer to its key nowhere, searched
      // whole or not.
      sort_spans(read);
      old_name_search.search(bytes, read, [&](std::size_t name) {
        for (const std::size_t c : changes_of_name[name]) count_unsearched(c, at);
      });
      if (!searched)
        for (const std::size_t c : empty_named) count_unsearched(c, at);
      if (spans.empty()) continue;
      sort_spans(spans);
      for (const RenamedSpan& renamed : spans)
        if (!renamed.own_key) ++results[found.changes[renamed.change].rename].references;
      entry.data = held(with_names(bytes, spans, written_names));
    }
  }
  // Every renamed name leaves the table before any comes in: names may be
  // swapped or passed along.
  for (const Changes::Change& change : found.changes)
    if (change.entry != Changes::kElsewhere) forget_name(change.entry);
  for (const Changes::Change& change : found.changes) {
    if (change.entry == Changes::kElsewhere) continue;
    Entry& entry = entries_[change.entry];
    entry.key.name_bytes = renames[change.rename].name_bytes;
    by_name_.emplace(name_hash(entry.key.class_type, entry.key.name_bytes), change.entry);
  }
  return results;
}

Rename PageBuilder::rename(const BuiltKey& key, std::string new_name_bytes) {
  check_name(new_name_bytes);
  entry_of(key);
  if (new_name_bytes != key.name_bytes && named(key.class_type, new_name_bytes))
    throw Error(already_named(key.class_type, new_name_bytes));
  return rename_all({{key, std::move(new_name_bytes)}}).front();
}

Rename PageBuilder::rename_references(const BuiltKey& key, const std::string& new_name_bytes) {
  check_name(new_name_bytes);
  // The page's own objects are renamed whole, or their references would
  // point at nothing.
  if (key.location_sequence == header_.sequence_number || contains(key))
    throw Error("The object '" + utf8_text(key.name_bytes) + "' is of this page: rename it instead");
  return rename_all({{key, new_name_bytes}}).front();
}

// The objects and their names are laid out in one buffer, the objects in
// the writer's order where the page's data region goes, and the writer
// writes the page over it; the new page is read back from what it wrote.
std::shared_ptr<const PrpPage> PageBuilder::build() const {
  PageHeader header = header_;
  header.version = kPageVersion;
  // A data region follows the header, which then lists its class versions.
  header.data_start = 1;
  const std::size_t data_start = header.written_size();
  uint64_t data_size = 0;
  uint64_t names_size = 0;
  for (const Entry& entry : entries_) {
    if (entry.removed) continue;
    data_size += entry.data.bytes.size();
    names_size += entry.key.name_bytes.size();
  }
  const uint64_t index_start = data_start + data_size;
  if (index_start + names_size > UINT32_MAX)
    throw Error("A page of " + std::to_string(index_start) + " bytes and more is larger than 4 GiB");
  header.data_start = static_cast<uint32_t>(data_start);
  header.index_start = static_cast<uint32_t>(index_start);

  ByteBuffer draft_bytes(static_cast<std::size_t>(index_start + names_size));
  const std::span<const uint8_t> draft_span = draft_bytes.span();
  uint8_t* const draft = draft_bytes.data();
  KeyIndex index;
  index.keys.reserve(live_);
  std::size_t object_at = data_start;
  auto name_at = static_cast<std::size_t>(index_start);
  for (const Group& group : groups_) {
    index.type_groups.push_back(group.type_group);
    for (const uint32_t at : group.entries) {
      const Entry& entry = entries_[at];
      if (entry.removed) continue;
      const BuiltKey& key = entry.key;
      ObjectKey object;
      object.location_sequence = key.location_sequence;
      object.location_flags = key.location_flags;
      object.load_mask = key.load_mask;
      object.class_type = key.class_type;
      object.object_id = key.object_id;
      object.clone_id = key.clone_id;
      object.clone_player_id = key.clone_player_id;
      object.data_offset = static_cast<uint32_t>(object_at);
      object.data_len = static_cast<uint32_t>(entry.data.bytes.size());
      object.name = PlasmaRead(draft_span, name_at).located<StoredString>();
      object.name.header = static_cast<uint16_t>(key.name_bytes.size());
      if (!entry.data.bytes.empty()) std::memcpy(draft + object_at, entry.data.bytes.data(), entry.data.bytes.size());
      if (!key.name_bytes.empty()) std::memcpy(draft + name_at, key.name_bytes.data(), key.name_bytes.size());
      object_at += entry.data.bytes.size();
      name_at += key.name_bytes.size();
      index.keys.push_back(object);
    }
  }
  return PrpPage::from_bytes(PrpPage::write_over(std::move(header), std::move(index), std::move(draft_bytes)));
}

}  // namespace lumivex
