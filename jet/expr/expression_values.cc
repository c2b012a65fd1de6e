// The Variant conversions of the expression service, shared by the evaluator and the functions:
// errors, kinds, numbers, dates, texts and logic values as Jet converts them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "jet/base/decimal_convert.h"
#include "jet/expr/expression.h"
#include "jet/expr/expression_dates.h"
#include "jet/expr/expression_node.h"
#include "jet/text/unicode.h"

namespace jet {

namespace {

// Number text in German or plain form: "1,5", "-3", "1.234,5", " 2e3 ", "&HFF".
std::optional<double> ParseNumberText(std::string_view text) {
  std::string s(text);
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty()) return std::nullopt;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str() + 2, &end, 16);
    if (*end != 0) return std::nullopt;
    return static_cast<double>(v);
  }
  if (s.find(',') != std::string::npos) {
    std::string plain;
    for (char c : s) {
      if (c == '.') continue;  // thousands
      plain.push_back(c == ',' ? '.' : c);
    }
    s = plain;
  }
  for (char c : s) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
          c == 'e' || c == 'E')) {
      return std::nullopt;
    }
  }
  char* end = nullptr;
  const double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return std::nullopt;
  return d;
}

}  // namespace

Status ExprError(ErrorCode code, const std::string& what) { return Status(code, what + "."); }
Status ExprError(ErrorCode code) { return ExprError(code, std::string(StandardText(code))); }

bool IsNumeric(const Value& v) {
  return !v.is_null() && !v.is<std::string>() && !v.is<ByteString>() && !v.is<Guid>();
}

bool IsText(const Value& v) { return v.is<std::string>(); }

double NowDays(const ExpressionContext& context) {
  if (context.now) return *context.now;
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return static_cast<double>(JetDayFromCivil(local.tm_year + 1900,
                                             static_cast<unsigned>(local.tm_mon + 1),
                                             static_cast<unsigned>(local.tm_mday))) +
         (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}

std::string FormatGeneral(double d, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, d);
  std::string s = buf;
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

std::optional<std::string> ExprText(const Value& v) {
  if (v.is_null()) return std::nullopt;
  if (v.is<std::string>()) return v.as<std::string>();
  if (v.is<bool>()) return std::string(v.as<bool>() ? "Wahr" : "Falsch");
  if (v.is<std::uint8_t>()) return std::to_string(v.as<std::uint8_t>());
  if (v.is<std::int16_t>()) return std::to_string(v.as<std::int16_t>());
  if (v.is<std::int32_t>()) return std::to_string(v.as<std::int32_t>());
  if (v.is<float>()) return FormatGeneral(v.as<float>(), 7);
  if (v.is<double>()) return FormatGeneral(v.as<double>(), 15);
  if (v.is<Currency>() || v.is<Decimal>()) {
    std::string s =
        v.is<Currency>() ? FormatCurrency(v.as<Currency>()) : FormatDecimal(v.as<Decimal>());
    if (s.find('.') != std::string::npos) {
      while (s.back() == '0') s.pop_back();
      if (s.back() == '.') s.pop_back();
    }
    for (char& c : s) {
      if (c == '.') c = ',';
    }
    return s;
  }
  if (v.is<DateTime>()) {
    const double lin = LinearDays(v.as<DateTime>().days);
    const double day = std::floor(lin);
    const long long secs = std::llround((lin - day) * 86400.0);
    char buf[64];
    std::string out;
    const auto day_number = static_cast<long long>(day) + (secs >= 86400 ? 1 : 0);
    const long long s = secs % 86400;
    if (day_number != 0 || s == 0) {
      const CivilDate c = CivilFromJetDay(day_number);
      std::snprintf(buf, sizeof buf, "%02u.%02u.%04lld", c.day, c.month, c.year);
      out = buf;
    }
    if (s != 0) {
      std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
      if (!out.empty()) out += ' ';
      out += buf;
    }
    return out;
  }
  if (v.is<Guid>()) return FormatGuid(v.as<Guid>());
  const ByteString& b = v.as<ByteString>();
  return std::string(b.begin(), b.end());
}

Result<double> ExprNumber(const Value& v) {
  if (v.is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
  if (v.is<bool>()) return v.as<bool>() ? -1.0 : 0.0;
  if (v.is<std::uint8_t>()) return static_cast<double>(v.as<std::uint8_t>());
  if (v.is<std::int16_t>()) return static_cast<double>(v.as<std::int16_t>());
  if (v.is<std::int32_t>()) return static_cast<double>(v.as<std::int32_t>());
  if (v.is<float>()) return double{v.as<float>()};
  if (v.is<double>()) return v.as<double>();
  if (v.is<Currency>()) return static_cast<double>(v.as<Currency>().scaled) / 10000.0;
  if (v.is<Decimal>()) return DecimalToDouble(v.as<Decimal>());
  if (v.is<DateTime>()) return v.as<DateTime>().days;
  if (v.is<std::string>()) {
    if (auto d = ParseNumberText(v.as<std::string>())) return *d;
    const std::string f = FoldCase(v.as<std::string>());
    if (f == "wahr" || f == "true") return -1.0;
    if (f == "falsch" || f == "false") return 0.0;
  }
  return ExprError(ErrorCode::kTypeMismatch);
}

Result<double> ToDateDays(const Value& v) {
  if (v.is<DateTime>()) return v.as<DateTime>().days;
  if (v.is<std::string>()) {
    if (auto d = ParseDateText(v.as<std::string>())) return *d;
    if (auto n = ParseNumberText(v.as<std::string>())) return *n;
    return ExprError(ErrorCode::kTypeMismatch);
  }
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
  if (!(d >= -657434.0 && d < 2958466.0)) return ExprError(ErrorCode::kOverflow);
  return d;
}

Result<std::int64_t> RoundToLong(const Value& v) {
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
  const double r = std::nearbyint(d);  // half to even in the default rounding mode
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return ExprError(ErrorCode::kOverflow);
  return static_cast<std::int64_t>(r);
}

Result<Value> ToCurrencyValue(const Value& v) {
  if (v.is<Currency>()) return v;
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
  return CurrencyFromDouble(d);
}

Result<Value> ToBoolean(const Value& v) {
  JET_ASSIGN_OR_RETURN(Logic l, LogicOperand(v));
  if (!l.n) return ExprError(ErrorCode::kInvalidUseOfNull);
  return Value(*l.n != 0);
}

Result<Value> CurrencyFromDouble(double d) {
  const double scaled = std::nearbyint(d * 10000.0);
  if (!(std::fabs(scaled) < 9.2233720368547e18)) return ExprError(ErrorCode::kOverflow);
  return Value(Currency{static_cast<std::int64_t>(scaled)});
}

Result<Logic> LogicOperand(const Value& v) {
  if (v.is_null()) return Logic{};
  if (v.is<bool>()) return Logic{v.as<bool>() ? -1 : 0, true};
  if (IsText(v)) {
    const std::string f = FoldCase(v.as<std::string>());
    if (f == "true" || f == "wahr") return Logic{-1, true};
    if (f == "false" || f == "falsch") return Logic{0, true};
  }
  JET_ASSIGN_OR_RETURN(std::int64_t n, RoundToLong(v));
  return Logic{n, false};
}

}  // namespace jet
