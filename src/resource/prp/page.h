#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/file.h"
#include "core/stream.h"
#include "resource/prp/object_key.h"

namespace lumivex {

struct ClassVersion {
  uint16_t class_type = 0;
  uint16_t version = 0;
};

struct PageHeader {
  uint32_t version = 0;
  uint32_t sequence_number = 0;
  uint16_t flags = 0;
  // Both names as stored, written back unchanged; shown as text.
  std::string age_name_bytes;
  std::string page_name_bytes;
  uint16_t major_version = 0;
  uint32_t checksum = 0;  // kept, never verified
  uint32_t data_start = 0;
  uint32_t index_start = 0;
  std::vector<ClassVersion> class_versions;

  static PageHeader read(PlasmaRead& reader);
  // The bytes the writer gives this header, class versions included.
  std::size_t written_size() const;
};

struct TypeGroup {
  uint16_t class_type = 0;
  uint8_t group_flags = 0;
};

struct KeyIndex {
  std::vector<ObjectKey> keys;
  std::vector<TypeGroup> type_groups;
  // Keys the groups announced but that could not be read: cut short, damaged,
  // or beyond their group's end.
  uint64_t lost_keys = 0;
};

// A page in the writer's normal form, in three parts so that the data region
// is copied only once, straight to where the page goes: the re-encoded header
// with its zero gap, the data region borrowed from the page, and the
// re-encoded key index.
struct PageBytes {
  std::vector<uint8_t> head;
  std::span<const uint8_t> data_region;
  std::vector<uint8_t> index;

  std::size_t size() const { return head.size() + data_region.size() + index.size(); }
  // Writes all size() bytes, in order, to out.
  void copy_to(uint8_t* out) const;
};

// A loaded version-6 page: its header, its key index in file order and the
// file's bytes, unchanged. Immutable once built and shared by reference.
class PrpPage {
 public:
  // Takes only the files the rule takes.
  static std::shared_ptr<const PrpPage> from_file(const std::string& path, const InterruptCheck& interrupt = {},
                                                  const FileRule& rule = {});
  static std::shared_ptr<const PrpPage> from_bytes(ByteBuffer bytes);

  // Reads the key index at index_start. A key entry that cannot be read ends
  // its group: the keys read so far are kept and the rest are given up.
  static KeyIndex parse_keys(PlasmaRead& reader, uint32_t index_start);
  // The page of values made elsewhere, written in the normal form over
  // their own bytes: data holds the data region where the header places it
  // and the keys' names after it, where the index then goes.
  static ByteBuffer write_over(PageHeader header, KeyIndex index, ByteBuffer data);

  // The writer's normal form of the page (see page.cpp); its data region
  // is borrowed from this page.
  PageBytes to_bytes() const;
  void save(const std::string& path, const InterruptCheck& interrupt = {}) const;

  const PageHeader& header() const { return header_; }
  const std::vector<ObjectKey>& keys() const { return index_.keys; }
  const std::vector<TypeGroup>& type_groups() const { return index_.type_groups; }
  uint64_t lost_keys() const { return index_.lost_keys; }
  std::span<const uint8_t> data() const { return data_.span(); }

  // A key's name, as text.
  std::string key_name(const ObjectKey& key) const { return Source(data_.span()).text(key.name); }
  // A key's name as stored.
  std::string key_name_bytes(const ObjectKey& key) const { return Source(data_.span()).stored_bytes(key.name); }
  // The object's bytes, or nothing when its range lies outside the page.
  std::optional<std::span<const uint8_t>> object_data(const ObjectKey& key) const;

 private:
  // The header, then the key index; a header failure is wrapped in
  // header_failure.
  static std::shared_ptr<const PrpPage> parse(ByteBuffer bytes, const std::string& header_failure);
  PrpPage(PageHeader header, KeyIndex index, ByteBuffer data)
      : header_(std::move(header)), index_(std::move(index)), data_(std::move(data)) {}

  PageHeader header_;
  KeyIndex index_;
  ByteBuffer data_;
};

}  // namespace lumivex
