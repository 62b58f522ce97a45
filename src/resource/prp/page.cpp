#include "resource/prp/page.h"

#include <cstring>
#include <unordered_map>

namespace lumivex {
namespace {

constexpr uint32_t kPageVersion = 6;

// A class version pair of the header: class type and version.
constexpr uint64_t kClassVersionSize = 2 * sizeof(uint16_t);
// A type group of the key index: its class type and the length of the rest
// of the group, then its flags, key count and keys, which the length covers.
constexpr uint64_t kGroupHeadSize = sizeof(uint16_t) + sizeof(uint32_t);
constexpr uint64_t kGroupFlagsAndCountSize = sizeof(uint8_t) + sizeof(uint32_t);
// The index begins with its group count.
constexpr uint64_t kGroupCountSize = sizeof(uint32_t);

void write_header(PlasmaWrite& out, const PageHeader& header) {
  out.write_u32(kPageVersion);
  out.write_u32(header.sequence_number);
  out.write_u16(header.flags);
  out.write_safe_string(header.age_name_bytes);
  out.write_safe_string(header.page_name_bytes);
  out.write_u16(header.major_version);
  out.write_u32(header.checksum);
  out.write_u32(header.data_start);
  out.write_u32(header.index_start);
  if (header.data_start != 0) {
    out.write_u16(static_cast<uint16_t>(header.class_versions.size()));
    for (const ClassVersion& cv : header.class_versions) {
      out.write_u16(cv.class_type);
      out.write_u16(cv.version);
    }
  }
}

}  // namespace

PageHeader PageHeader::read(PlasmaRead& reader) {
  PageHeader header;
  header.version = reader.read_u32();
  if (header.version != kPageVersion)
    throw Error("Unsupported .prp version: " + std::to_string(header.version) + " (expected " +
                std::to_string(kPageVersion) + ")");
  header.sequence_number = reader.read_u32();
  header.flags = reader.read_u16();
  header.age_name_bytes = reader.read_safe_string_bytes();
  header.page_name_bytes = reader.read_safe_string_bytes();
  header.major_version = reader.read_u16();
  header.checksum = reader.read_u32();
  header.data_start = reader.read_u32();
  header.index_start = reader.read_u32();
  if (header.data_start != 0) {
    const uint16_t count = reader.read_u16();
    // At most 65535 pairs, but never more than the bytes left can hold.
    header.class_versions.reserve(std::min<uint64_t>(count, reader.remaining() / kClassVersionSize));
    for (uint16_t i = 0; i < count; ++i) {
      ClassVersion cv;
      cv.class_type = reader.read_u16();
      cv.version = reader.read_u16();
      header.class_versions.push_back(cv);
    }
  }
  return header;
}

std::size_t PageHeader::written_size() const {
  PlasmaWrite out;
  write_header(out, *this);
  return out.size();
}

KeyIndex PrpPage::parse_keys(PlasmaRead& reader, uint32_t index_start) {
  KeyIndex index;
  reader.set_position(index_start);
  const uint32_t group_count = reader.read_u32();
  for (uint32_t g = 0; g < group_count; ++g) {
    const uint64_t group_start = reader.position();
    TypeGroup group;
    group.class_type = reader.read_u16();
    const uint32_t group_length = reader.read_u32();
    group.group_flags = reader.read_u8();
    const uint32_t key_count = reader.read_u32();
    index.type_groups.push_back(group);
    const uint64_t group_end = group_start + kGroupHeadSize + group_length;
    uint32_t read = 0;
    try {
      for (; read < key_count && reader.position() < group_end; ++read) index.keys.push_back(read_object_key(reader));
    } catch (const Error&) {
      // A damaged key ends its group; the keys before it stay.
    }
    index.lost_keys += key_count - read;
    reader.set_position(group_end);
  }
  return index;
}

std::shared_ptr<const PrpPage> PrpPage::parse(ByteBuffer bytes, const std::string& header_failure) {
  PlasmaRead reader(bytes.span());
  const std::string size = std::to_string(bytes.size());
  PageHeader header;
  try {
    // Every offset into a page is 32-bit.
    if (bytes.size() > UINT32_MAX) throw Error("A page of " + size + " bytes is larger than 4 GiB");
    header = PageHeader::read(reader);
  } catch (const Error& e) {
    // The reader's end of data says nothing of where; the cause says what the bytes are.
    if (e.message() == kEndOfData)
      throw Error(header_failure, Error("too short for a page header: " + size + " bytes"));
    throw Error(header_failure, e);
  }
  KeyIndex index;
  try {
    index = parse_keys(reader, header.index_start);
  } catch (const Error& e) {
    if (e.message() != kEndOfData) throw;
    const std::string start = std::to_string(header.index_start);
    throw Error(
        kEndOfData,
        Error(header.index_start >= bytes.size()
                  ? "the key index starts at byte " + start + ", past the end of the page's " + size + " bytes"
                  : "the key index, from byte " + start + ", runs past the end of the page's " + size + " bytes"));
  }
  return std::shared_ptr<const PrpPage>(new PrpPage(std::move(header), std::move(index), std::move(bytes)));
}

std::shared_ptr<const PrpPage> PrpPage::from_bytes(ByteBuffer bytes) {
  return parse(std::move(bytes), "Failed to parse PRP header from bytes");
}

std::shared_ptr<const PrpPage> PrpPage::from_file(const std::string& path, const InterruptCheck& interrupt,
                                                  const FileRule& rule) {
  // A stream whose first bytes are no page's version is read no further: the
  // header check refuses it.
  ReadOptions options;
  options.rule = rule;
  options.worth_reading = [](std::span<const uint8_t> bytes) {
    return bytes.size() < sizeof(kPageVersion) || PlasmaRead(bytes).read_u32() == kPageVersion;
  };
  ByteBuffer bytes;
  try {
    bytes = read_file(path, interrupt, options);
  } catch (const Error& e) {
    throw Error("Failed to read " + quote_path(path), e);
  }
  return parse(std::move(bytes), "Failed to parse header of " + quote_path(path));
}

std::optional<std::span<const uint8_t>> PrpPage::object_data(const ObjectKey& key) const {
  const uint64_t end = uint64_t{key.data_offset} + key.data_len;
  if (end > data_.size()) return std::nullopt;
  return data_.span().subspan(key.data_offset, key.data_len);
}

void PageBytes::copy_to(uint8_t* out) const {
  for (std::span<const uint8_t> part : {std::span<const uint8_t>(head), data_region, std::span<const uint8_t>(index)}) {
    if (part.empty()) continue;
    std::memcpy(out, part.data(), part.size());
    out += part.size();
  }
}

// The header is re-encoded from its values, the data region is kept as it
// is, and each type group is written with exactly the keys of its class.
PageBytes PrpPage::to_bytes() const {
  const uint32_t data_start = header_.data_start;
  const uint32_t index_start = header_.index_start;
  const bool has_data_region = data_.size() >= data_start && data_.size() >= index_start;
  if (has_data_region && index_start < data_start)
    throw Error("Cannot write a page whose index start (" + std::to_string(index_start) +
                ") lies before its data start (" + std::to_string(data_start) + ")");

  // Each class is written once, under its first group, with every key of the
  // class; a later group of the same class is left out, so that the output
  // never grows faster than the page.
  std::vector<const TypeGroup*> written_groups;
  std::unordered_map<uint16_t, std::pair<uint32_t, PlasmaWrite>> entries_by_class;
  for (const TypeGroup& group : index_.type_groups)
    if (entries_by_class.try_emplace(group.class_type).second) written_groups.push_back(&group);
  for (const ObjectKey& key : index_.keys) {
    auto it = entries_by_class.find(key.class_type);
    if (it == entries_by_class.end()) continue;
    ++it->second.first;
    write_object_key(it->second.second, key, Source(data_.span()));
  }
  uint64_t index_size = kGroupCountSize;
  for (const TypeGroup* group : written_groups)
    index_size += kGroupHeadSize + kGroupFlagsAndCountSize + entries_by_class.at(group->class_type).second.size();

  PageBytes bytes;
  PlasmaWrite head;
  write_header(head, header_);
  if (has_data_region) {
    if (head.size() < data_start) head.resize(data_start);
    bytes.data_region = data_.span().subspan(data_start, index_start - data_start);
  }
  bytes.head = head.take_bytes();

  PlasmaWrite index(index_size);
  index.write_u32(static_cast<uint32_t>(written_groups.size()));
  for (const TypeGroup* group : written_groups) {
    const auto& [count, entries] = entries_by_class.at(group->class_type);
    index.write_u16(group->class_type);
    index.write_u32(static_cast<uint32_t>(kGroupFlagsAndCountSize + entries.size()));
    index.write_u8(group->group_flags);
    index.write_u32(count);
    index.write_bytes(entries.bytes());
  }
  bytes.index = index.take_bytes();
  return bytes;
}

ByteBuffer PrpPage::write_over(PageHeader header, KeyIndex index, ByteBuffer data) {
  PrpPage page(std::move(header), std::move(index), std::move(data));
  const PageBytes bytes = page.to_bytes();
  ByteBuffer out = std::move(page.data_);
  // The data region is already in place; the header and the index go around it.
  const std::size_t index_at = bytes.head.size() + bytes.data_region.size();
  out.resize(index_at + bytes.index.size());
  std::memcpy(out.data(), bytes.head.data(), bytes.head.size());
  if (!bytes.index.empty()) std::memcpy(out.data() + index_at, bytes.index.data(), bytes.index.size());
  return out;
}

void PrpPage::save(const std::string& path, const InterruptCheck& interrupt) const {
  const PageBytes bytes = to_bytes();
  try {
    save_file(path, {bytes.head, bytes.data_region, bytes.index}, interrupt);
  } catch (const Error& e) {
    throw Error("Failed to write " + quote_path(path), e);
  }
}

}  // namespace lumivex
