// How Jet compares two texts: one rule for statements (criteria, GROUP BY, Max and Min in the
// record layer's SQL) and for expressions (defaults and validation rules).
//
//   - "=" ignores letter case and trailing blanks, but not accents and not leading blanks:
//     "Salate" = "SALATE " = "salate", but not "Saláte" or " Salate". Jet matches a criterion
//     without the blanks a stored text ends with, and a criterion ending in blanks matches the
//     text without them (observed in Access 97 and 2000: Allen Browne, "Flaws in Microsoft
//     Access: Trailing spaces give inconsistent query results").
//   - The order ("<", ">", Between, GROUP BY, Max, Min) is the General sort order of the index
//     keys (text_sort_key.h) as Access 2000-2007 built them, the order of the source and target
//     databases: letters without regard to accents and case first, then accents,
//     so "Apfel" < "äpfel" < "Birne". Trailing blanks are cut here as for "=", so that of two
//     texts exactly one of a < b, a = b, a > b holds: "abc" < "abc " is False, "abc" <= "abc "
//     True, and texts equal under "=" fall into one group.
//   - An empty text is a text like any other: it equals "" and "   ", and comes before every
//     other text. (Null is not a text; callers decide about it.)
//
// Like is not this rule (its pattern meets every character, trailing blanks included), nor are
// the VBA functions' Option Compare modes of StrComp, InStr and the like
// (jet/expr/expression_functions.cc).
#pragma once

#include <string>
#include <string_view>

namespace jet {

// Folded letter case, trailing blanks (U+0020) cut: two texts are equal under "=" exactly when
// their keys are equal. A key for hash maps and grouping.
std::string TextEqualityKey(std::string_view text);

// Whether two texts are equal under "=": their equality keys are equal. Cheaper than
// CompareTexts(), which builds sort keys for texts that differ.
bool TextsEqual(std::string_view a, std::string_view b);

// The order of two texts (UTF-8): <0, 0 or >0; 0 exactly when their equality keys are equal.
int CompareTexts(std::string_view a, std::string_view b);

}  // namespace jet
