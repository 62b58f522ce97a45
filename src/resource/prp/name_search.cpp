#include "resource/prp/name_search.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

namespace lumivex {
namespace {

// Hashes are polynomials in a base, modulo the Mersenne prime 2^61 - 1.
constexpr uint64_t kModulus = (uint64_t{1} << 61) - 1;
__extension__ using Wide = unsigned __int128;

uint64_t multiply(uint64_t a, uint64_t b) {
  const Wide product = static_cast<Wide>(a) * b;
  const uint64_t folded = static_cast<uint64_t>(product & kModulus) + static_cast<uint64_t>(product >> 61);
  return folded >= kModulus ? folded - kModulus : folded;
}

uint64_t add(uint64_t a, uint64_t b) {
  const uint64_t sum = a + b;
  return sum >= kModulus ? sum - kModulus : sum;
}

// Drawn once for the process: bytes cannot be made to collide with a name
// for a base no one knows.
uint64_t drawn_base() {
  static const uint64_t base = [] {
    std::random_device device;
    const uint64_t drawn = (uint64_t{device()} << 32) | device();
    return drawn % (kModulus - 512) + 256;
  }();
  return base;
}

// The places of a header taken at a time: the running hash, when it is
// needed, is taken over such a stretch and the longest name after it.
constexpr std::size_t kStretch = std::size_t{1} << 16;

bool stored_as(std::span<const uint8_t> stored, const std::string& name, bool inverted) {
  const uint8_t flip = inverted ? 0xFF : 0x00;
  for (std::size_t i = 0; i < stored.size(); ++i)
    if (stored[i] != (static_cast<uint8_t>(name[i]) ^ flip)) return false;
  return true;
}

}  // namespace

NameSearch::NameSearch(std::vector<std::string> names)
    : names_(std::move(names)), base_(drawn_base()), powers_(kLongest + 1), found_in_(names_.size(), 0) {
  powers_[0] = 1;
  for (std::size_t i = 1; i <= kLongest; ++i) powers_[i] = multiply(powers_[i - 1], base_);
  std::vector<uint8_t> stored;
  std::bitset<256> first_byte_sought;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    const std::string& name = names_[i];
    if (name.empty() || name.size() > kLongest) continue;
    lengths_[name.size()] = 1;
    for (const bool inverted : {false, true}) {
      const uint8_t flip = inverted ? 0xFF : 0x00;
      stored.clear();
      for (const char c : name) stored.push_back(static_cast<uint8_t>(c) ^ flip);
      starts_.set(start_of(inverted, stored.front(), stored.size()));
      if (!first_byte_sought[stored.front()]) first_bytes_.push_back(stored.front());
      first_byte_sought.set(stored.front());
      by_hash_.emplace(hash_of(stored) << 1 | uint64_t{inverted}, static_cast<uint32_t>(i));
    }
  }
}

std::size_t NameSearch::start_of(bool inverted, uint8_t first, std::size_t size) {
  return (std::size_t{inverted} << 15) | (std::size_t{first} << 7) | (size & 0x7F);
}

uint64_t NameSearch::hash_of(std::span<const uint8_t> bytes) const {
  uint64_t hash = 0;
  for (const uint8_t byte : bytes) hash = add(multiply(hash, base_), byte);
  return hash;
}

uint64_t NameSearch::running_hash(std::size_t offset, std::size_t size) const {
  return add(prefix_[offset + size], kModulus - multiply(prefix_[offset], powers_[size]));
}

void NameSearch::run_over(std::span<const uint8_t> bytes) {
  prefix_.resize(bytes.size() + 1);
  prefix_[0] = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) prefix_[i + 1] = add(multiply(prefix_[i], base_), bytes[i]);
}

// One search's place in the bytes and the state of its hashing.
struct NameSearch::Pass {
  NameSearch& search;
  std::span<const uint8_t> bytes;
  std::span<const NameSpan> skipped;
  const std::function<void(std::size_t)>& found;
  std::size_t next_skipped = 0;
  std::size_t stretch = SIZE_MAX;  // the stretch of the places looked at last
  std::size_t hashed = 0;          // bytes hashed one place at a time in it
  bool running = false;            // whether its running hash is taken

  // Looks for a name whose first stored byte is at payload.
  void look_at(std::size_t payload) {
    const std::size_t at = payload - sizeof(uint16_t);
    const uint16_t header = PlasmaRead::load<uint16_t>(bytes.data() + at);
    const std::size_t size = header & kSafeStringLengthMask;
    if (!search.lengths_[size] || size > bytes.size() - payload) return;
    const bool inverted = (header & kInvertedStringFlags) == kInvertedStringFlags;
    if (!search.starts_[start_of(inverted, bytes[payload], size)]) return;
    while (next_skipped < skipped.size() && skipped[next_skipped].at < at) ++next_skipped;
    if (next_skipped < skipped.size() && skipped[next_skipped].at == at) return;
    // Bytes are hashed one place at a time until they would cost more than
    // the running hash of the stretch of places.
    const std::size_t stretch_start = at - at % kStretch;
    if (stretch != stretch_start) {
      stretch = stretch_start;
      hashed = 0;
      running = false;
    }
    const std::size_t first_payload = stretch_start + sizeof(uint16_t);
    if (!running && (hashed += size) > 2 * kStretch) {
      const std::size_t run_end = std::min(bytes.size(), first_payload + kStretch + kLongest);
      search.run_over(bytes.subspan(first_payload, run_end - first_payload));
      running = true;
    }
    const std::span<const uint8_t> stored = bytes.subspan(payload, size);
    const uint64_t hash = running ? search.running_hash(payload - first_payload, size) : search.hash_of(stored);
    const auto [first, last] = search.by_hash_.equal_range(hash << 1 | uint64_t{inverted});
    for (auto it = first; it != last; ++it) {
      const uint32_t name = it->second;
      if (search.found_in_[name] == search.searches_ || search.names_[name].size() != size ||
          !stored_as(stored, search.names_[name], inverted))
        continue;
      search.found_in_[name] = search.searches_;
      found(name);
    }
  }
};

void NameSearch::search(std::span<const uint8_t> bytes, std::span<const NameSpan> skipped,
                        const std::function<void(std::size_t)>& found) {
  if (by_hash_.empty() || bytes.size() <= sizeof(uint16_t)) return;
  ++searches_;
  Pass pass{*this, bytes, skipped, found};
  const std::size_t end = bytes.size();
  if (first_bytes_.size() > kFewFirstBytes) {
    // Places whose header gives a length no name has are most places: a
    // tight loop passes over them, and the few others are looked at after.
    std::array<uint32_t, 1024> candidates;
    const uint8_t* const data = bytes.data();
    for (std::size_t from = sizeof(uint16_t); from < end;) {
      const std::size_t to = std::min(end, from + (std::size_t{1} << 20));
      std::size_t count = 0;
      std::size_t payload = from;
      for (; payload < to && count < candidates.size(); ++payload) {
        const uint16_t size = PlasmaRead::load<uint16_t>(data + payload - sizeof(uint16_t)) & kSafeStringLengthMask;
        candidates[count] = static_cast<uint32_t>(payload - from);
        count += lengths_[size];
      }
      for (std::size_t i = 0; i < count; ++i) pass.look_at(from + candidates[i]);
      from = payload;
    }
    return;
  }
  // Few bytes begin a name: the places of each are found by memchr, which
  // passes over most bytes (pixels, say) many at a time.
  const auto next_of = [&](uint8_t byte, std::size_t from) {
    const void* hit = std::memchr(bytes.data() + from, byte, end - from);
    return hit ? static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - bytes.data()) : end;
  };
  std::array<std::size_t, kFewFirstBytes> next{};
  for (std::size_t i = 0; i < first_bytes_.size(); ++i) next[i] = next_of(first_bytes_[i], sizeof(uint16_t));
  while (true) {
    std::size_t nearest = 0;
    for (std::size_t i = 1; i < first_bytes_.size(); ++i)
      if (next[i] < next[nearest]) nearest = i;
    const std::size_t payload = next[nearest];
    if (payload >= end) return;
    pass.look_at(payload);
    next[nearest] = payload + 1 < end ? next_of(first_bytes_[nearest], payload + 1) : end;
  }
}

}  // namespace lumivex
