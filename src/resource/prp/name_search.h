#pragma once

// Which of many names some bytes hold stored as safe strings, found in one
// pass over the bytes whatever the number of names.

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/stream.h"

namespace lumivex {

// A stored name's place, its header included: [at, at + size) in the bytes.
struct NameSpan {
  std::size_t at;
  std::size_t size;
};

// Looks for names stored as safe strings in either of their forms, plain or
// inverted: a header whose length is the name's, then the name's bytes. Each
// place a header could lie gives one length, and the bytes after it are
// looked up among the names by their hash. The hash is taken byte by byte
// where few places need one, and from a running hash of the bytes where many
// do, so that the work stays linear in the bytes searched whatever they and
// the names hold. Empty names are never found: any two zero bytes would be
// one.
class NameSearch {
 public:
  explicit NameSearch(std::vector<std::string> names);

  // Calls found(i) once for each names[i] the bytes hold, looking nowhere a
  // span of skipped (sorted by place) begins.
  void search(std::span<const uint8_t> bytes, std::span<const NameSpan> skipped,
              const std::function<void(std::size_t)>& found);

 private:
  static constexpr std::size_t kLongest = kSafeStringLengthMask;
  // At most this many bytes that begin a stored name are each found by
  // memchr; more are looked up at every place.
  static constexpr std::size_t kFewFirstBytes = 4;
  struct Pass;

  uint64_t hash_of(std::span<const uint8_t> bytes) const;
  // The hash of the size bytes at offset in the running hash's bytes.
  uint64_t running_hash(std::size_t offset, std::size_t size) const;
  void run_over(std::span<const uint8_t> bytes);
  // Where a name's form, first stored byte and length are marked as sought.
  static std::size_t start_of(bool inverted, uint8_t first, std::size_t size);

  std::vector<std::string> names_;
  uint64_t base_;
  std::vector<uint64_t> powers_;
  // 1 for the length of a name, 0 for others: a byte each, which the scan
  // adds up without a branch.
  std::array<uint8_t, kLongest + 1> lengths_{};
  std::bitset<2 * 256 * 128> starts_;
  // The bytes a name's stored form begins with, each once.
  std::vector<uint8_t> first_bytes_;
  // The names by the hash of their stored bytes and their form.
  std::unordered_multimap<uint64_t, uint32_t> by_hash_;
  // The search each name was last found in, so that it is told once.
  std::vector<uint64_t> found_in_;
  uint64_t searches_ = 0;
  // The running hash of the bytes from some place on: prefix_[i] is the
  // hash of the first i of them.
  std::vector<uint64_t> prefix_;
};

}  // namespace lumivex
