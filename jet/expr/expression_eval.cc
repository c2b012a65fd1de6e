// Evaluation of parsed Jet expressions: Variant arithmetic, comparison, Like, logic.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "jet/base/decimal_convert.h"
#include "jet/expr/expression.h"
#include "jet/expr/expression_dates.h"
#include "jet/expr/expression_node.h"
#include "jet/text/text_compare.h"
#include "jet/text/unicode.h"

namespace jet {

namespace {

// Numeric kinds in the order in which an operation widens to the wider operand.
enum class Num { kByte, kInteger, kLong, kSingle, kDouble, kCurrency, kDecimal };

Num NumKindOf(const Value& v) {
  if (v.is<std::uint8_t>()) return Num::kByte;
  if (v.is<std::int16_t>() || v.is<bool>()) return Num::kInteger;
  if (v.is<std::int32_t>()) return Num::kLong;
  if (v.is<float>()) return Num::kSingle;
  if (v.is<Currency>()) return Num::kCurrency;
  if (v.is<Decimal>()) return Num::kDecimal;
  return Num::kDouble;  // Double, Date, numeric text
}

Value IntegerValue(long long r, Num kind) {
  if (kind == Num::kByte && r >= 0 && r <= 255) return Value(static_cast<std::uint8_t>(r));
  if (kind <= Num::kInteger && r >= -32768 && r <= 32767) {
    return Value(static_cast<std::int16_t>(r));
  }
  if (r >= std::numeric_limits<std::int32_t>::min() &&
      r <= std::numeric_limits<std::int32_t>::max()) {
    return Value(static_cast<std::int32_t>(r));
  }
  return Value(static_cast<double>(r));  // Long overflow: the result becomes a Double
}

Result<Value> DoubleValue(double d) {
  if (!std::isfinite(d)) return ExprError(ErrorCode::kOverflow);
  return Value(d);
}

Result<Value> DecimalResult(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  // The scale the digits need, up to 28.
  std::string s = buf;
  int scale = 0;
  if (auto dot = s.find('.'); dot != std::string::npos && s.find('e') == std::string::npos) {
    scale = static_cast<int>(s.size() - dot - 1);
  } else if (s.find('e') != std::string::npos) {
    scale = 15;
  }
  auto dec = DecimalFromText(s, 28, std::min(scale, 28));
  if (!dec.ok()) return ExprError(ErrorCode::kOverflow);
  return Value(*dec);
}

bool IsDate(const Value& v) { return v.is<DateTime>(); }

// Both operands as numbers of the kind the operation works in, or a type mismatch.
struct Operands {
  Num kind;
  double a = 0, b = 0;
};

Result<Operands> NumericOperands(const Value& a, const Value& b) {
  JET_ASSIGN_OR_RETURN(double x, ExprNumber(a));
  JET_ASSIGN_OR_RETURN(double y, ExprNumber(b));
  Num ka = IsText(a) ? Num::kDouble : NumKindOf(a);
  Num kb = IsText(b) ? Num::kDouble : NumKindOf(b);
  Num kind = std::max(ka, kb);
  if ((ka == Num::kSingle && kb == Num::kLong) || (ka == Num::kLong && kb == Num::kSingle)) {
    kind = Num::kDouble;
  }
  return Operands{kind, x, y};
}

Result<Value> Arithmetic(ExprOp op, const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value();
  if (op == ExprOp::kAdd && IsText(a) && IsText(b)) {
    return Value(a.as<std::string>() + b.as<std::string>());
  }
  JET_ASSIGN_OR_RETURN(Operands o, NumericOperands(a, b));
  double r = 0;
  switch (op) {
    case ExprOp::kAdd:
      r = o.a + o.b;
      break;
    case ExprOp::kSubtract:
      r = o.a - o.b;
      break;
    default:
      r = o.a * o.b;
      break;
  }
  // Dates: a date plus or minus a number stays a date; the difference of two dates is a number.
  if (op != ExprOp::kMultiply && (IsDate(a) || IsDate(b)) && !(IsDate(a) && IsDate(b))) {
    const double la = IsDate(a) ? LinearDays(o.a) : o.a;
    const double lb = IsDate(b) ? LinearDays(o.b) : o.b;
    const double lin = op == ExprOp::kAdd ? la + lb : la - lb;
    if (!(lin >= -657434.0 && lin < 2958466.0)) return ExprError(ErrorCode::kOverflow);
    return Value(DateTime{StoredDays(lin)});
  }
  if (IsDate(a) && IsDate(b) && op == ExprOp::kSubtract) {
    return DoubleValue(LinearDays(o.a) - LinearDays(o.b));
  }
  switch (o.kind) {
    case Num::kByte:
    case Num::kInteger:
    case Num::kLong: {
      const long long x = static_cast<long long>(o.a), y = static_cast<long long>(o.b);
      const long long n = op == ExprOp::kAdd ? x + y : op == ExprOp::kSubtract ? x - y : x * y;
      return IntegerValue(n, o.kind);
    }
    case Num::kSingle: {
      const float f = static_cast<float>(r);
      if (std::isfinite(f)) return Value(f);
      return DoubleValue(r);
    }
    case Num::kCurrency: {
      if (op != ExprOp::kMultiply && a.is<Currency>() && b.is<Currency>()) {
        const std::int64_t x = a.as<Currency>().scaled, y = b.as<Currency>().scaled;
        std::int64_t n = 0;
        if (op == ExprOp::kAdd ? __builtin_add_overflow(x, y, &n)
                               : __builtin_sub_overflow(x, y, &n)) {
          return ExprError(ErrorCode::kOverflow);
        }
        return Value(Currency{n});
      }
      return CurrencyFromDouble(r);
    }
    case Num::kDecimal:
      return DecimalResult(r);
    case Num::kDouble:
      break;
  }
  return DoubleValue(r);
}

Result<Value> Divide(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value();
  JET_ASSIGN_OR_RETURN(Operands o, NumericOperands(a, b));
  if (o.b == 0) {
    return ExprError(o.a == 0 ? ErrorCode::kOverflow : ErrorCode::kDivisionByZero);
  }
  if (o.kind == Num::kDecimal) return DecimalResult(o.a / o.b);
  return DoubleValue(o.a / o.b);
}

// "\" and Mod: both operands rounded to whole numbers first.
Result<Value> IntegerDivide(ExprOp op, const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value();
  JET_ASSIGN_OR_RETURN(std::int64_t x, RoundToLong(a));
  JET_ASSIGN_OR_RETURN(std::int64_t y, RoundToLong(b));
  if (y == 0) return ExprError(ErrorCode::kDivisionByZero);
  const long long r = op == ExprOp::kIntDivide ? x / y : x % y;
  const Num ka = IsText(a) ? Num::kLong : NumKindOf(a), kb = IsText(b) ? Num::kLong : NumKindOf(b);
  const Num kind = std::max(ka, kb) <= Num::kInteger ? std::max(ka, kb) : Num::kLong;
  return IntegerValue(r, kind);
}

Result<Value> Power(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value();
  JET_ASSIGN_OR_RETURN(double x, ExprNumber(a));
  JET_ASSIGN_OR_RETURN(double y, ExprNumber(b));
  if ((x == 0 && y < 0) || (x < 0 && y != std::floor(y))) {
    return ExprError(ErrorCode::kInvalidArgument,
                     "Ungültiger Prozeduraufruf oder ungültiges "
                     "Argument");
  }
  return DoubleValue(std::pow(x, y));
}

Result<Value> Negate(const Value& v) {
  if (v.is_null()) return Value();
  if (v.is<Currency>()) {
    if (v.as<Currency>().scaled == std::numeric_limits<std::int64_t>::min()) {
      return ExprError(ErrorCode::kOverflow);
    }
    return Value(Currency{-v.as<Currency>().scaled});
  }
  if (v.is<Decimal>()) {
    Decimal d = v.as<Decimal>();
    if (d.high != 0 || d.low != 0) d.negative = !d.negative;
    return Value(d);
  }
  if (v.is<float>()) return Value(-v.as<float>());
  if (IsDate(v)) return Value(DateTime{StoredDays(-LinearDays(v.as<DateTime>().days))});
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
  if (IsText(v) || v.is<double>()) return DoubleValue(-d);
  return IntegerValue(-static_cast<long long>(d),
                      NumKindOf(v) == Num::kByte ? Num::kInteger : NumKindOf(v));
}

// Comparison: -1, 0, 1; Null when an operand is Null. Two texts by Jet's text rule
// (text_compare.h), the one the record layer's statements follow.
Result<std::optional<int>> Compare(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return std::optional<int>();
  auto sign = [](double x, double y) { return x < y ? -1 : x > y ? 1 : 0; };
  if (IsText(a) && IsText(b)) {
    const int c = CompareTexts(a.as<std::string>(), b.as<std::string>());
    return std::optional<int>(c < 0 ? -1 : c > 0 ? 1 : 0);
  }
  if (IsText(a) || IsText(b)) {
    // A text against a date is read as a date, against a number as a number.
    const Value& other = IsText(a) ? b : a;
    const Value& text = IsText(a) ? a : b;
    double t = 0;
    if (IsDate(other)) {
      auto d = ParseDateText(text.as<std::string>());
      if (!d) return ExprError(ErrorCode::kTypeMismatch);
      t = LinearDays(*d);
    } else {
      JET_ASSIGN_OR_RETURN(t, ExprNumber(text));
    }
    JET_ASSIGN_OR_RETURN(double o, ExprNumber(other));
    if (IsDate(other)) o = LinearDays(o);
    return std::optional<int>(IsText(a) ? sign(t, o) : sign(o, t));
  }
  if (a.is<Guid>() || b.is<Guid>() || a.is<ByteString>() || b.is<ByteString>()) {
    if (a == b) return std::optional<int>(0);
    return ExprError(ErrorCode::kTypeMismatch);
  }
  JET_ASSIGN_OR_RETURN(double x, ExprNumber(a));
  JET_ASSIGN_OR_RETURN(double y, ExprNumber(b));
  if (IsDate(a)) x = LinearDays(x);
  if (IsDate(b)) y = LinearDays(y);
  return std::optional<int>(sign(x, y));
}

Value Truth(std::optional<bool> b) { return b ? Value(*b) : Value(); }

// Jet's Like: * any run, ? one character, # one digit, [abc] [a-z] [!abc] one of / none of;
// letter case ignored.
bool LikeMatch(const std::u32string& s, std::size_t si, const std::u32string& p, std::size_t pi) {
  while (pi < p.size()) {
    const char32_t c = p[pi];
    if (c == U'*') {
      while (pi < p.size() && p[pi] == U'*') ++pi;
      if (pi == p.size()) return true;
      for (std::size_t k = si; k <= s.size(); ++k) {
        if (LikeMatch(s, k, p, pi)) return true;
      }
      return false;
    }
    if (si >= s.size()) return false;
    if (c == U'?') {
      ++si, ++pi;
    } else if (c == U'#') {
      if (s[si] < U'0' || s[si] > U'9') return false;
      ++si, ++pi;
    } else if (c == U'[') {
      const std::size_t close = p.find(U']', pi + 1);
      if (close == std::u32string::npos) return false;  // an unclosed set matches nothing
      std::size_t k = pi + 1;
      const bool negate = k < close && p[k] == U'!';
      if (negate) ++k;
      bool in = false;
      if (k == close) {
        in = false;  // "[]" is the empty text: it matches no character
      }
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == U'-') {
          if (s[si] >= p[k] && s[si] <= p[k + 2]) in = true;
          k += 2;
        } else if (s[si] == p[k]) {
          in = true;
        }
      }
      if (in == negate) return false;
      ++si;
      pi = close + 1;
    } else {
      if (s[si] != c) return false;
      ++si, ++pi;
    }
  }
  return si == s.size();
}

std::u32string FoldedCodePoints(const std::string& s) {
  const std::string folded = FoldCase(s);
  std::u32string out;
  std::size_t pos = 0;
  while (pos < folded.size()) out.push_back(NextCodePoint(folded, pos));
  return out;
}

Result<Value> LogicOp(ExprOp op, const Value& a, const Value& b) {
  JET_ASSIGN_OR_RETURN(Logic x, LogicOperand(a));
  JET_ASSIGN_OR_RETURN(Logic y, LogicOperand(b));
  // Booleans (and Null beside them) give a Boolean; numbers combine bit by bit.
  const bool boolean = (x.boolean || !x.n) && (y.boolean || !y.n);
  auto result = [&](std::int64_t n) -> Value {
    if (boolean) return Value(n != 0);
    return IntegerValue(n, Num::kLong);
  };
  if (x.n && y.n) {
    const std::int64_t p = *x.n, q = *y.n;
    switch (op) {
      case ExprOp::kAnd:
        return result(p & q);
      case ExprOp::kOr:
        return result(p | q);
      case ExprOp::kXor:
        return result(p ^ q);
      case ExprOp::kEqv:
        return result(~(p ^ q));
      default:
        return result(~p | q);  // Imp
    }
  }
  // With Null: only an operand that decides the result alone gives a value.
  const std::optional<std::int64_t>& known = x.n ? x.n : y.n;
  switch (op) {
    case ExprOp::kAnd:
      if (known && *known == 0) return result(0);
      return Value();
    case ExprOp::kOr:
      if (known && *known == -1) return result(-1);
      return Value();
    case ExprOp::kImp:
      if (x.n && *x.n == 0) return result(-1);   // False Imp anything
      if (y.n && *y.n == -1) return result(-1);  // anything Imp True
      return Value();
    default:
      return Value();
  }
}

class Evaluator {
 public:
  explicit Evaluator(const ExpressionContext& c) : c_(c) {}

  Result<Value> Eval(const ExpressionNode& n) {
    switch (n.op) {
      case ExprOp::kLiteral:
        return n.value;
      case ExprOp::kColumn: {
        std::optional<Value> v;
        if (c_.column) v = c_.column(n.name);
        if (!v) {
          return Status(ErrorCode::kItemNotFound,
                        "Das Feld '" + n.name + "' ist in diesem Ausdruck unbekannt.");
        }
        return *v;
      }
      case ExprOp::kField:
        if (!c_.field) {
          return Status(ErrorCode::kItemNotFound,
                        "Der Ausdruck vergleicht ohne Feld, auf das er sich bezieht.");
        }
        return *c_.field;
      case ExprOp::kCall:
        return Call(n);
      case ExprOp::kNegate: {
        JET_ASSIGN_OR_RETURN(Value v, Eval(*n.args[0]));
        return Negate(v);
      }
      case ExprOp::kNot: {
        JET_ASSIGN_OR_RETURN(Value v, Eval(*n.args[0]));
        JET_ASSIGN_OR_RETURN(Logic l, LogicOperand(v));
        if (!l.n) return Value();
        if (l.boolean) return Value(*l.n == 0);
        return IntegerValue(~*l.n, Num::kLong);
      }
      case ExprOp::kIsNull: {
        JET_ASSIGN_OR_RETURN(Value v, Eval(*n.args[0]));
        return Value(v.is_null() != n.negated);
      }
      default:
        break;
    }
    JET_ASSIGN_OR_RETURN(Value a, Eval(*n.args[0]));
    if (n.op == ExprOp::kBetween || n.op == ExprOp::kIn) return Range(n, a);
    JET_ASSIGN_OR_RETURN(Value b, Eval(*n.args[1]));
    switch (n.op) {
      case ExprOp::kAdd:
      case ExprOp::kSubtract:
      case ExprOp::kMultiply:
        return Arithmetic(n.op, a, b);
      case ExprOp::kDivide:
        return Divide(a, b);
      case ExprOp::kIntDivide:
      case ExprOp::kModulo:
        return IntegerDivide(n.op, a, b);
      case ExprOp::kPower:
        return Power(a, b);
      case ExprOp::kConcat: {
        if (a.is_null() && b.is_null()) return Value();
        return Value(ExprText(a).value_or("") + ExprText(b).value_or(""));
      }
      case ExprOp::kLike: {
        if (a.is_null() || b.is_null()) return Value();
        const bool m =
            LikeMatch(FoldedCodePoints(*ExprText(a)), 0, FoldedCodePoints(*ExprText(b)), 0);
        return Value(m != n.negated);
      }
      case ExprOp::kAnd:
      case ExprOp::kOr:
      case ExprOp::kXor:
      case ExprOp::kEqv:
      case ExprOp::kImp:
        return LogicOp(n.op, a, b);
      default:
        break;
    }
    JET_ASSIGN_OR_RETURN(std::optional<int> c, Compare(a, b));
    if (!c) return Value();
    switch (n.op) {
      case ExprOp::kEqual:
        return Value(*c == 0);
      case ExprOp::kNotEqual:
        return Value(*c != 0);
      case ExprOp::kLess:
        return Value(*c < 0);
      case ExprOp::kLessEqual:
        return Value(*c <= 0);
      case ExprOp::kGreater:
        return Value(*c > 0);
      default:
        return Value(*c >= 0);
    }
  }

 private:
  Result<Value> Range(const ExpressionNode& n, const Value& a) {
    if (n.op == ExprOp::kBetween) {
      JET_ASSIGN_OR_RETURN(Value low, Eval(*n.args[1]));
      JET_ASSIGN_OR_RETURN(Value high, Eval(*n.args[2]));
      JET_ASSIGN_OR_RETURN(std::optional<int> lo, Compare(a, low));
      JET_ASSIGN_OR_RETURN(std::optional<int> hi, Compare(a, high));
      std::optional<bool> r = BetweenBounds(lo, hi);
      if (r && n.negated) r = !*r;
      return Truth(r);
    }
    bool unknown = false;
    for (std::size_t i = 1; i < n.args.size(); ++i) {
      JET_ASSIGN_OR_RETURN(Value item, Eval(*n.args[i]));
      JET_ASSIGN_OR_RETURN(std::optional<int> c, Compare(a, item));
      if (!c) {
        unknown = true;
      } else if (*c == 0) {
        return Value(!n.negated);
      }
    }
    if (unknown) return Value();
    return Value(n.negated);
  }

  Result<Value> Call(const ExpressionNode& n) {
    if (n.name == "iif") {
      if (n.args.size() != 3) {
        return ExprError(ErrorCode::kInvalidArgument, "IIf erwartet drei Argumente");
      }
      // Only the branch chosen is evaluated, as Jet does.
      JET_ASSIGN_OR_RETURN(Value cond, Eval(*n.args[0]));
      bool yes = false;
      if (!cond.is_null()) {
        JET_ASSIGN_OR_RETURN(Logic l, LogicOperand(cond));
        yes = l.n && *l.n != 0;
      }
      return Eval(*n.args[yes ? 1 : 2]);
    }
    std::vector<Value> args;
    args.reserve(n.args.size());
    for (const NodePtr& a : n.args) {
      JET_ASSIGN_OR_RETURN(Value v, Eval(*a));
      args.push_back(std::move(v));
    }
    return CallFunction(n.name, args, c_);
  }

  const ExpressionContext& c_;
};

}  // namespace

Result<Value> Expression::Evaluate(const ExpressionContext& context) const {
  if (!root_) return Value();
  Evaluator e(context);
  return e.Eval(*root_);
}

std::optional<bool> BetweenBounds(std::optional<int> vs_first, std::optional<int> vs_second) {
  if (!vs_first || !vs_second) return std::nullopt;
  return (*vs_first >= 0 && *vs_second <= 0) || (*vs_first <= 0 && *vs_second >= 0);
}

bool RulePasses(const Value& result) {
  if (result.is_null()) return true;
  if (result.is<bool>()) return result.as<bool>();
  auto n = ExprNumber(result);
  return !n.ok() || *n != 0;
}

}  // namespace jet
