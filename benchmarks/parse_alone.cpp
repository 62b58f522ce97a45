// Each decoder's parse alone, in C++, over the bodies of its class in a page:
// no Python, no view, no allocation. "mixed" parses every body in turn, as a
// decode of the whole page does; "each repeated" parses one body many times
// over, so that every branch it takes is predicted, and averages over bodies
// spread through the page. Their difference is what mispredicted branches
// cost.
//
//     lumivex_parse_alone PAGE.prp
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <span>
#include <vector>

#include "core/error.h"
#include "resource/prp/decoders.h"
#include "resource/prp/page.h"

namespace {

using Bodies = std::vector<std::span<const uint8_t>>;
using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 5;
constexpr std::size_t kSpreadBodies = 50;
constexpr std::size_t kRepeatedParses = 1000;

// The fastest of a few passes, in nanoseconds per parse, of parse over bodies
// taken `passes` times each.
template <class Parse>
double nanoseconds_each(const Bodies& bodies, std::size_t passes, Parse parse) {
  double best = 1e300;
  uint64_t kept = 0;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    const auto start = Clock::now();
    for (std::size_t pass = 0; pass < passes; ++pass)
      for (const auto body : bodies) {
        const auto record = parse(body);
        // Keeps the parse from being optimised away.
        uint64_t first = 0;
        std::memcpy(&first, &record, std::min(sizeof first, sizeof record));
        kept += first;
      }
    const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
    best = std::min(best, spent.count() / static_cast<double>(passes * bodies.size()));
  }
  if (kept == 1) std::puts("");
  return best;
}

template <class Row>
void time_decoder(const Row& row, const lumivex::PrpPage& page) {
  Bodies bodies;
  for (const auto& key : page.keys())
    if (key.class_type == row.class_type)
      if (const auto data = page.object_data(key)) {
        try {
          Row::parse(*data);
          bodies.push_back(*data);
        } catch (const lumivex::Error&) {
        }
      }
  if (bodies.empty()) return;
  const auto parse = [](std::span<const uint8_t> body) { return Row::parse(body); };
  const double mixed = nanoseconds_each(bodies, std::max<std::size_t>(1, 200'000 / bodies.size()), parse);
  double repeated = 0;
  std::size_t spread = 0;
  for (std::size_t i = 0; i < bodies.size(); i += std::max<std::size_t>(1, bodies.size() / kSpreadBodies), ++spread)
    repeated += nanoseconds_each(Bodies{bodies[i]}, kRepeatedParses, parse);
  std::printf("%-20s %6zu bodies  mixed %6.1f ns  each repeated %6.1f ns\n", row.method, bodies.size(), mixed,
              repeated / static_cast<double>(spread));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PAGE.prp\n", argv[0]);
    return 2;
  }
  try {
    const auto page = lumivex::PrpPage::from_file(argv[1]);
    lumivex::for_each_decoder([&](const auto& row, auto) { time_decoder(row, *page); });
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
