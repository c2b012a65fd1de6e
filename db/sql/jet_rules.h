// How Jet compares and orders values in statements, as Microsoft Access applies it.
//
//   - Texts compare by the engine's one rule for statements and expressions
//     (jet/text/text_compare.h): "=" ignores letter case and trailing blanks but not accents,
//     'salate' = "Salate" = "Salate ", but not "Saláte"  (tests: JetRules.TextEquality,
//     TextRule.StatementsAndExpressionsAgree).
//   - Null equals nothing, not even Null or the empty text; every comparison with Null is
//     unknown and selects no row  (test: JetRules.NullComparesToNothing).
//   - Numbers compare by value across kinds: Integer, Long, Double, Currency, Yes/No (-1/0)
//     and Date/Time (days)  (test: JetRules.NumbersCompareByValue).
//   - A text compared with a number is a type mismatch in the criteria (error 3464), as in Jet
//     (test: JetRules.TextAgainstNumberIsAMismatch).
//   - BETWEEN takes its bounds in either order, as Jet's expressions do (one rule for both:
//     jet::BetweenBounds)  (test: SourceQueries.BetweenTakesItsBoundsInEitherOrder).
//   - Ordering (GROUP BY, Max, Min, < and >): Null first, then numbers by value; texts in the
//     "General" sort order: letters without regard to accents and case first, then accents,
//     trailing blanks cut as for "="  (test: JetRules.TextOrdering).
#pragma once

#include <optional>
#include <string>

#include "db/sql/ast.h"
#include "db/value.h"

namespace db::sql {

bool IsText(const Value& v);
bool IsNumeric(const Value& v);

// Hash key for equality look-ups: equal keys exactly when Compare(..., kEq, ...) is true.
// Empty for Null (which equals nothing). Throws DbError 3464 for binary values.
std::string EqualityKey(const Value& v);

// Evaluates `a op b`: nullopt when either side is Null (unknown). Throws DbError 3464 when a
// text meets a number or a value that is neither.
std::optional<bool> Compare(const Value& a, CompareOp op, const Value& b);

// Total order for sorting groups and for Max/Min: Null first, numbers, then texts.
int OrderValues(const Value& a, const Value& b);

}  // namespace db::sql
