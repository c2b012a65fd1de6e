// Jet's expression service: the expressions Access stores in a column's DefaultValue and in the
// ValidationRule of a column or a table, parsed once and evaluated as Jet evaluates them.
//
//   auto e = jet::Expression::Parse("=DateAdd(\"m\",1,Date())");
//   auto v = e->Evaluate(context);            // a Value of Jet's Variant kinds, or a Status
//
// Grammar (loosest binding first; keywords and names ignore letter case):
//   expr       := imp
//   imp        := eqv { "Imp" eqv }          eqv := xor { "Eqv" xor }
//   xor        := or { "Xor" or }            or  := and { "Or" and }
//   and        := not { "And" not }          not := "Not" not | compare
//   compare    := concat { ("=" | "<>" | "<" | ">" | "<=" | ">=" | "Like") concat
//                        | "Is" ["Not"] "Null" | ["Not"] "Between" concat "And" concat
//                          (the bounds in either order, BetweenBounds())
//                        | ["Not"] "In" "(" expr { "," expr } ")" }
//   concat     := additive { "&" additive }
//   additive   := modulo { ("+" | "-") modulo }     modulo := intdiv { "Mod" intdiv }
//   intdiv     := mul { "\" mul }                   mul := unary { ("*" | "/") unary }
//   unary      := ("-" | "+") unary | power         power := primary { "^" unary }
//   primary    := number | string | date | "True" | "False" | "Yes" | "No" | "On" | "Off"
//               | "Null" | name "(" [expr { "," expr }] ")" | "[" column "]" | name | "(" expr ")"
// Strings are quoted with " or ', a doubled quote standing for one; dates are #m/d/yyyy
// [h:nn[:ss] [AM|PM]]#, #yyyy-mm-dd ...# or #h:nn[:ss]#. A field's validation rule may leave out
// the left side of its comparisons ("<1", "Between 0 And 10000", "Like "A*" Or Is Null"): the
// field's value stands there.
//
// Functions: the VBA function library that Jet's expression service offers (String, Choose,
// Switch, StrComp, Replace, Format..., MonthName, Partition, Sqr, TypeName, ...), each with
// VBA's argument counts and Null rule; expression_functions.cc holds them in one table. Chr and
// Asc work in Windows-1252, the ANSI code page of a German Windows.
//
// Values are jet::Value in the role of Jet's Variant: Null, Boolean, Byte, Integer, Long,
// Currency, Single, Double, Date, String, Decimal and GUID. Arithmetic widens the narrower
// operand and promotes integers that overflow; Null propagates through operators and most
// functions; "&" joins the text forms (Null as ""), "+" adds numbers and joins only two strings.
// Two texts compare ("=", "<", Between, In) by the rule the record layer's statements use too
// (jet/text/text_compare.h): letter case and trailing blanks aside, accents count, in the
// General sort order.
// Text forms, and texts read as numbers or dates, follow German regional settings: decimal
// comma, dd.mm.yyyy, "Wahr"/"Falsch".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

struct ExpressionContext {
  // The value of a column named in the expression ([Name] or Name); nullopt for an unknown name.
  std::function<std::optional<Value>(std::string_view name)> column;
  // The field whose validation rule is evaluated: the value standing for a left-out operand.
  std::optional<Value> field;
  // The local date and time that Date(), Now() and Time() return, as Jet's day number; without it
  // the machine's clock.
  std::optional<double> now;
};

struct ExpressionNode;

class Expression {
 public:
  // Parses a stored expression; a leading "=" (as Access keeps it in defaults) is allowed.
  // `field_rule`: a field's validation rule, whose comparisons may leave out their left side.
  // Fails with ErrorCode::kExpressionSyntax naming the place, or kUndefinedFunction naming a
  // function the service does not have.
  static Result<Expression> Parse(std::string_view text, bool field_rule = false);

  // Evaluates the expression. Failures carry the runtime error's number (ErrorCode::kOverflow,
  // kTypeMismatch, ...) and a German description.
  Result<Value> Evaluate(const ExpressionContext& context) const;

  // True when the value may change from one evaluation to the next (Date(), Now(), Time(),
  // GenGUID()) or depends on columns.
  bool varies() const { return varies_; }
  const std::string& text() const { return text_; }

 private:
  std::shared_ptr<const ExpressionNode> root_;
  std::string text_;
  bool varies_ = false;
};

// `x Between a And b` as Jet decides it, in expressions and in SQL alike: x lies between the two
// bounds whichever of them is the larger (unlike ANSI SQL, "Between 100 And 0" is
// "Between 0 And 100"). `vs_first` and `vs_second` are x compared with each bound (<0, 0, >0),
// nullopt where one side is Null; the result is then unknown (nullopt) too, since a Null bound
// leaves the range open on a side that is not known.
std::optional<bool> BetweenBounds(std::optional<int> vs_first, std::optional<int> vs_second);

// Whether a result of a validation rule lets the row pass: everything but False (and 0) does;
// Null passes, as in Jet.
bool RulePasses(const Value& result);

// The Variant conversions of the service, shared with the record layer.
// Text form of a value as CStr gives it (Null: nullopt).
std::optional<std::string> ExprText(const Value& v);
// A value as a Double (numbers, dates, Booleans, numeric texts); fails with
// ErrorCode::kTypeMismatch.
Result<double> ExprNumber(const Value& v);
// A text read as a date: dd.mm.yyyy, yyyy-mm-dd, m/d/yyyy, each with an optional time, or a time
// alone. nullopt when it is none of these.
std::optional<double> ParseDateText(std::string_view text);

}  // namespace jet
