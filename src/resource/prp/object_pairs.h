#pragma once

// The objects of two pages paired for a comparison, by class and name.

#include <cstddef>
#include <utility>
#include <vector>

#include "resource/prp/page.h"

namespace lumivex {

struct ObjectPairs {
  // Paired objects, by their places in the two indexes, whose bytes or
  // index keys differ; in A's index order.
  std::vector<std::pair<std::size_t, std::size_t>> differing;
  std::vector<std::size_t> only_a;  // in A's index order
  std::vector<std::size_t> only_b;  // in B's index order
};

// Objects pair by class and name, the name as text; several of one class and
// name pair in index order. Pairs whose bytes and keys are the same are only
// counted out, so that comparing two pages costs about one pass over their
// bytes. An object whose bytes lie outside its page has none.
ObjectPairs pair_objects(const PrpPage& a, const PrpPage& b);

}  // namespace lumivex
