// Letter case pairs from Unicode's character database (generated: tools/make_case_tables.py).
#pragma once

#include <cstddef>

namespace jet {

// An upper-case letter and its lower-case partner, both in the Basic Multilingual Plane. Each
// letter belongs to one pair at most; the pairs are sorted by `upper`.
struct CasePair {
  char16_t upper;
  char16_t lower;
};

extern const CasePair kCasePairs[];
extern const std::size_t kCasePairCount;

}  // namespace jet
