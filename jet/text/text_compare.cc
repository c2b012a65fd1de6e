#include "jet/text/text_compare.h"

#include <algorithm>

#include "jet/base/value.h"
#include "jet/text/text_sort_key.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The key of an equality key in the General order of Access 2000-2007 (sort order 1033,
// version 0), the order of the databases the tool reads and writes. Every text has a key in it.
ByteString OrderKey(const std::string& equality_key) {
  ByteString key;
  (void)AppendTextKey(equality_key, TextSortOrder::kGeneralLegacy, /*ascending=*/true, key);
  return key;
}

}  // namespace

std::string TextEqualityKey(std::string_view text) { return FoldCase(WithoutTrailingBlanks(text)); }

bool TextsEqual(std::string_view a, std::string_view b) {
  return TextEqualityKey(a) == TextEqualityKey(b);
}

int CompareTexts(std::string_view a, std::string_view b) {
  const std::string x = TextEqualityKey(a), y = TextEqualityKey(b);
  if (x == y) return 0;
  const ByteString kx = OrderKey(x), ky = OrderKey(y);
  if (kx != ky) {
    return std::lexicographical_compare(kx.begin(), kx.end(), ky.begin(), ky.end()) ? -1 : 1;
  }
  // Keys cover 255 characters and leave some out altogether; beyond them the characters decide.
  return x < y ? -1 : 1;
}

}  // namespace jet
