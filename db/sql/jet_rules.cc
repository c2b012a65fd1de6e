#include "db/sql/jet_rules.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "db/error.h"
#include "jet/text/text_compare.h"

namespace db::sql {
namespace {

[[noreturn]] void Mismatch() {
  throw DbError(ErrorCode::kCriteriaTypeMismatch, "Datentypen im Kriterienausdruck unverträglich.");
}

double Number(const Value& v) {
  return std::visit(
      [](const auto& x) -> double {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, bool>) {
          return x ? -1.0 : 0.0;
        } else if constexpr (std::is_integral_v<T> || std::is_floating_point_v<T>) {
          return static_cast<double>(x);
        } else if constexpr (std::is_same_v<T, jet::Currency>) {
          return static_cast<double>(x.scaled) / 10000.0;
        } else if constexpr (std::is_same_v<T, jet::DateTime>) {
          return x.days;
        } else if constexpr (std::is_same_v<T, jet::Decimal>) {
          return std::stod(jet::FormatDecimal(x));
        } else {
          Mismatch();
        }
      },
      v.storage());
}

}  // namespace

bool IsText(const Value& v) { return v.is<std::string>(); }

bool IsNumeric(const Value& v) {
  return v.is<bool>() || v.is<std::uint8_t>() || v.is<std::int16_t>() || v.is<std::int32_t>() ||
         v.is<float>() || v.is<double>() || v.is<jet::Currency>() || v.is<jet::DateTime>() ||
         v.is<jet::Decimal>();
}

std::string EqualityKey(const Value& v) {
  if (v.is_null()) return {};
  if (IsText(v)) return "T" + jet::TextEqualityKey(v.as<std::string>());
  if (IsNumeric(v)) {
    double d = Number(v);
    if (d == 0) d = 0;  // -0 equals 0
    char buf[1 + sizeof d];
    buf[0] = 'N';
    std::memcpy(buf + 1, &d, sizeof d);
    return std::string(buf, sizeof buf);
  }
  Mismatch();
}

std::optional<bool> Compare(const Value& a, CompareOp op, const Value& b) {
  if (a.is_null() || b.is_null()) return std::nullopt;
  int order = 0;
  if (IsText(a) && IsText(b)) {
    // "=" and "<>" filter many rows: they need no sort keys.
    if (op == CompareOp::kEq || op == CompareOp::kNe) {
      const bool equal = jet::TextsEqual(a.as<std::string>(), b.as<std::string>());
      return op == CompareOp::kEq ? equal : !equal;
    }
    order = jet::CompareTexts(a.as<std::string>(), b.as<std::string>());
  } else if (IsNumeric(a) && IsNumeric(b)) {
    const double x = Number(a), y = Number(b);
    order = x < y ? -1 : (x > y ? 1 : 0);
  } else {
    Mismatch();
  }
  switch (op) {
    case CompareOp::kEq:
      return order == 0;
    case CompareOp::kNe:
      return order != 0;
    case CompareOp::kLt:
      return order < 0;
    case CompareOp::kLe:
      return order <= 0;
    case CompareOp::kGt:
      return order > 0;
    case CompareOp::kGe:
      return order >= 0;
  }
  return std::nullopt;
}

int OrderValues(const Value& a, const Value& b) {
  const auto rank = [](const Value& v) { return v.is_null() ? 0 : IsNumeric(v) ? 1 : 2; };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 1) {
    const double x = Number(a), y = Number(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (IsText(a) && IsText(b)) {
    const int c = jet::CompareTexts(a.as<std::string>(), b.as<std::string>());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  Mismatch();
}

}  // namespace db::sql
