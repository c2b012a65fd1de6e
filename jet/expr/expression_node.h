// Inside the expression service: the parsed tree, and the Variant rules the evaluator and the
// functions share (expression.h has the interface).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/expr/expression.h"

namespace jet {

enum class ExprOp {
  kLiteral,  // value
  kColumn,   // name
  kField,    // the field a validation rule belongs to
  kCall,     // name(args)
  kNegate,   // -a
  kNot,      // Not a
  kAdd,
  kSubtract,
  kMultiply,
  kDivide,
  kIntDivide,
  kModulo,
  kPower,
  kConcat,
  kEqual,
  kNotEqual,
  kLess,
  kLessEqual,
  kGreater,
  kGreaterEqual,
  kLike,
  kIsNull,   // a Is Null (negated: Is Not Null)
  kBetween,  // a Between args[1] And args[2]
  kIn,       // a In (args[1..])
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
};

struct ExpressionNode {
  ExprOp op = ExprOp::kLiteral;
  Value value;           // kLiteral
  std::string name;      // kColumn, kCall (folded for calls)
  bool negated = false;  // Is Not Null, Not Between, Not In
  std::vector<std::shared_ptr<const ExpressionNode>> args;
};
using NodePtr = std::shared_ptr<const ExpressionNode>;

// Whether the service has a function of this (folded) name, and whether its value changes
// between calls with the same arguments.
bool KnownFunction(const std::string& folded_name, bool* varies);

// Calls a function on evaluated arguments (IIf is evaluated by the evaluator, lazily).
Result<Value> CallFunction(const std::string& folded_name, const std::vector<Value>& args,
                           const ExpressionContext& context);

// Variant helpers shared by the evaluator and the functions.
Status ExprError(ErrorCode code, const std::string& what);
// The same with the number's standard text (jet/base/errors.h).
Status ExprError(ErrorCode code);
bool IsNumeric(const Value& v);  // a number, Date or Boolean (not text)
bool IsText(const Value& v);
Result<double> ToDateDays(const Value& v);         // Date from numbers, dates and date texts
Result<std::int64_t> RoundToLong(const Value& v);  // half to even; overflow beyond 32 bits
Result<Value> ToCurrencyValue(const Value& v);
Result<Value> ToBoolean(const Value& v);
// A Double as Currency, rounded to four places; fails with ErrorCode::kOverflow beyond its range.
Result<Value> CurrencyFromDouble(double d);
// A logic operand: Null, or a whole number (True -1, False 0), and whether it was a Boolean.
struct Logic {
  std::optional<std::int64_t> n;
  bool boolean = false;
};
Result<Logic> LogicOperand(const Value& v);
// The current local date and time (the context's or the clock's), as stored days.
double NowDays(const ExpressionContext& context);
// The number with up to `digits` significant digits, in German form ("1,5", "1E+20").
std::string FormatGeneral(double d, int digits);

}  // namespace jet
