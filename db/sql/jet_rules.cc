#include "db/sql/jet_rules.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "db/error.h"
#include "jet/text/text_codec.h"
#include "jet/text/unicode.h"

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

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Base letters of accented Latin letters, for the primary level of the sort order.
const char* BaseLetters(char32_t cp) {
  static const char* const kLatin1[64] = {
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
      "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "ss",
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
      "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y"};
  if (cp >= 0xC0 && cp <= 0xFF && kLatin1[cp - 0xC0][0] != '\0') return kLatin1[cp - 0xC0];
  switch (cp) {
    case 0x152:
    case 0x153:
      return "oe";
    case 0x160:
    case 0x161:
      return "s";
    case 0x17D:
    case 0x17E:
      return "z";
    case 0x178:
      return "y";
    default:
      return nullptr;
  }
}

}  // namespace

bool IsText(const Value& v) { return v.is<std::string>(); }

bool IsNumeric(const Value& v) {
  return v.is<bool>() || v.is<std::uint8_t>() || v.is<std::int16_t>() || v.is<std::int32_t>() ||
         v.is<float>() || v.is<double>() || v.is<jet::Currency>() || v.is<jet::DateTime>() ||
         v.is<jet::Decimal>();
}

std::string TextEqualityKey(std::string_view text) { return jet::FoldCase(TrimRight(text)); }

std::string TextSortKey(std::string_view text) {
  const std::string folded = TextEqualityKey(text);
  std::string primary;
  primary.reserve(folded.size());
  std::size_t pos = 0;
  while (pos < folded.size()) {
    const char32_t cp = jet::NextCodePoint(folded, pos);
    if (const char* base = BaseLetters(cp)) {
      primary += base;
    } else {
      jet::AppendUtf8(primary, cp);
    }
  }
  // Primary letters, a separator below every character, then the accented form.
  return primary + std::string(1, '\0') + folded;
}

std::string EqualityKey(const Value& v) {
  if (v.is_null()) return {};
  if (IsText(v)) return "T" + TextEqualityKey(v.as<std::string>());
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
    if (op == CompareOp::kEq || op == CompareOp::kNe) {
      const bool equal =
          TextEqualityKey(a.as<std::string>()) == TextEqualityKey(b.as<std::string>());
      return op == CompareOp::kEq ? equal : !equal;
    }
    order = TextSortKey(a.as<std::string>()).compare(TextSortKey(b.as<std::string>()));
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
    const int c = TextSortKey(a.as<std::string>()).compare(TextSortKey(b.as<std::string>()));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  Mismatch();
}

}  // namespace db::sql
