#include "db/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

namespace db {
namespace {

[[noreturn]] void ThrowNull() { throw DbError(ErrorCode::kInvalidUseOfNull); }
[[noreturn]] void ThrowOverflow() { throw DbError(ErrorCode::kOverflow); }
[[noreturn]] void ThrowMismatch() { throw DbError(ErrorCode::kTypeMismatch); }

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

// A numeric text ("1", " -12 ", "3.5", "1e3"); decimal point or comma.
double ParseNumber(const std::string& text) {
  std::string t = Trim(text);
  for (char& c : t) {
    if (c == ',') c = '.';
  }
  if (t.empty()) ThrowMismatch();
  double d = 0;
  const char* begin = t.data();
  if (*begin == '+') ++begin;
  auto [ptr, ec] = std::from_chars(begin, t.data() + t.size(), d);
  if (ec == std::errc::result_out_of_range) ThrowOverflow();
  if (ec != std::errc() || ptr != t.data() + t.size()) ThrowMismatch();
  return d;
}

std::string DateText(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3e6) ThrowOverflow();
  // Jet counts negative dates as "days before 1899-12-30, plus a positive time fraction".
  const double whole = std::trunc(days);
  const double frac = std::fabs(days - whole);
  long long secs = std::llround(frac * 86400.0);
  long long day = static_cast<long long>(whole);
  if (secs >= 86400) {
    secs -= 86400;
    day += days < 0 ? -1 : 1;
  }
  char buf[64];
  const int hh = static_cast<int>(secs / 3600), mm = static_cast<int>(secs / 60 % 60),
            ss = static_cast<int>(secs % 60);
  if (day == 0 && secs != 0) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hh, mm, ss);
    return buf;
  }
  const jet::CivilDate date = jet::CivilFromJetDay(day);
  const long long y = date.year;
  const unsigned m = date.month, d = date.day;
  if (secs == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", y, m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d", y, m, d, hh, mm, ss);
  }
  return buf;
}

std::string FloatText(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

std::int32_t RoundToInt32(double d) {
  if (std::isnan(d)) ThrowOverflow();
  const double r = std::nearbyint(d);  // default rounding mode: half to even
  if (r < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    ThrowOverflow();
  }
  return static_cast<std::int32_t>(r);
}

}  // namespace

std::string ToText(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          ThrowNull();
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_integral_v<T>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, float>) {
          return FloatText(v, 7);
        } else if constexpr (std::is_same_v<T, double>) {
          return FloatText(v, 15);
        } else if constexpr (std::is_same_v<T, jet::Currency>) {
          std::string s = jet::FormatCurrency(v);
          while (s.back() == '0') s.pop_back();
          if (s.back() == '.') s.pop_back();
          return s;
        } else if constexpr (std::is_same_v<T, jet::DateTime>) {
          return DateText(v.days);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, jet::ByteString>) {
          return std::string(v.begin(), v.end());
        } else if constexpr (std::is_same_v<T, jet::Guid>) {
          return jet::FormatGuid(v);
        } else if constexpr (std::is_same_v<T, jet::Decimal>) {
          return jet::FormatDecimal(v);
        }
      },
      value.storage());
}

double ToDouble(const Value& value) {
  return std::visit(
      [](const auto& v) -> double {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          ThrowNull();
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? -1.0 : 0.0;
        } else if constexpr (std::is_integral_v<T> || std::is_floating_point_v<T>) {
          return static_cast<double>(v);
        } else if constexpr (std::is_same_v<T, jet::Currency>) {
          return static_cast<double>(v.scaled) / 10000.0;
        } else if constexpr (std::is_same_v<T, jet::DateTime>) {
          return v.days;
        } else if constexpr (std::is_same_v<T, std::string>) {
          return ParseNumber(v);
        } else if constexpr (std::is_same_v<T, jet::Decimal>) {
          return ParseNumber(jet::FormatDecimal(v));
        } else {
          ThrowMismatch();
        }
      },
      value.storage());
}

std::int32_t ToInt32(const Value& value) {
  if (value.is<std::int32_t>()) return value.as<std::int32_t>();
  if (value.is<std::int16_t>()) return value.as<std::int16_t>();
  if (value.is<std::uint8_t>()) return value.as<std::uint8_t>();
  if (value.is<jet::Currency>()) {
    // Exact: currency holds four decimals; round half to even on the scaled integer.
    const std::int64_t s = value.as<jet::Currency>().scaled;
    std::int64_t q = s / 10000, r = s % 10000;
    if (r > 5000 || (r == 5000 && q % 2 != 0)) ++q;
    if (r < -5000 || (r == -5000 && q % 2 != 0)) --q;
    if (q < std::numeric_limits<std::int32_t>::min() ||
        q > std::numeric_limits<std::int32_t>::max()) {
      ThrowOverflow();
    }
    return static_cast<std::int32_t>(q);
  }
  return RoundToInt32(ToDouble(value));
}

float ToSingle(const Value& value) {
  const double d = ToDouble(value);
  if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) {
    ThrowOverflow();
  }
  return static_cast<float>(d);
}

}  // namespace db
