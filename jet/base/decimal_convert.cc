#include "jet/base/decimal_convert.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace jet {
namespace {

// A GCC and Clang type: 28 digits need more than 64 bits.
__extension__ using U128 = unsigned __int128;

constexpr int kMaxPrecision = 28;  // Jet's Decimal holds at most 28 digits

U128 Pow10(int n) {
  U128 p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

Status Overflow(std::string_view text, int precision, int scale) {
  return Status(ErrorCode::kNumericOverflow,
                "Numerischer Feldüberlauf: " + std::string(text) + " passt nicht in Dezimal(" +
                    std::to_string(precision) + "," + std::to_string(scale) + ").");
}

}  // namespace

Result<Decimal> DecimalFromText(std::string_view text, int precision, int scale) {
  if (precision < 1 || precision > kMaxPrecision) precision = kMaxPrecision;
  if (scale < 0 || scale > precision) scale = 0;
  std::size_t i = 0;
  auto mismatch = [&] {
    return Status(ErrorCode::kTypeMismatch,
                  "Typen unverträglich: '" + std::string(text) + "' ist keine Zahl.");
  };
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // The digits without separator, and how many of them follow it.
  std::string digits;
  int fraction = 0;
  bool separator = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
      if (separator) ++fraction;
    } else if ((c == '.' || c == ',') && !separator) {
      separator = true;
    } else {
      break;
    }
  }
  if (digits.empty()) return mismatch();
  int exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool neg_exp = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg_exp = text[i++] == '-';
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return mismatch();
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      exponent = exponent * 10 + (text[i++] - '0');
      if (exponent > 100) return Overflow(text, precision, scale);
    }
    if (neg_exp) exponent = -exponent;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return mismatch();
  // value = digits * 10^(exponent - fraction); wanted: round(value * 10^scale).
  const int shift = exponent - fraction + scale;
  while (digits.size() > 1 && digits.front() == '0') digits.erase(digits.begin());
  std::string kept = digits;
  int dropped = 0;  // digits cut off at the right
  if (shift >= 0) {
    kept.append(static_cast<std::size_t>(shift), '0');
  } else {
    dropped = -shift;
  }
  std::string tail;
  if (dropped > 0) {
    if (static_cast<std::size_t>(dropped) >= kept.size()) {
      tail = std::string(static_cast<std::size_t>(dropped) - kept.size(), '0') + kept;
      kept = "0";
    } else {
      tail = kept.substr(kept.size() - static_cast<std::size_t>(dropped));
      kept.erase(kept.size() - static_cast<std::size_t>(dropped));
    }
  }
  while (kept.size() > 1 && kept.front() == '0') kept.erase(kept.begin());
  if (kept.size() > static_cast<std::size_t>(precision) + 1) {
    return Overflow(text, precision, scale);
  }
  U128 magnitude = 0;
  for (char c : kept) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
  if (!tail.empty()) {
    // Half to even: above one half rounds up, exactly one half to the even neighbour.
    const bool above_half =
        tail[0] > '5' || (tail[0] == '5' && tail.find_first_not_of('0', 1) != std::string::npos);
    const bool half = tail[0] == '5' && !above_half;
    if (above_half || (half && (magnitude % 2) == 1)) ++magnitude;
  }
  if (magnitude >= Pow10(precision)) return Overflow(text, precision, scale);
  Decimal d;
  d.negative = negative && magnitude != 0;
  d.precision = static_cast<std::uint8_t>(precision);
  d.scale = static_cast<std::uint8_t>(scale);
  d.high = static_cast<std::uint64_t>(magnitude >> 64);
  d.low = static_cast<std::uint64_t>(magnitude);
  return d;
}

Result<Decimal> DecimalFromValue(const Value& v, int precision, int scale) {
  char buf[64];
  if (v.is<Decimal>()) return DecimalFromText(FormatDecimal(v.as<Decimal>()), precision, scale);
  if (v.is<Currency>()) return DecimalFromText(FormatCurrency(v.as<Currency>()), precision, scale);
  if (v.is<double>() || v.is<float>()) {
    const bool single = v.is<float>();
    const double d = single ? double{v.as<float>()} : v.as<double>();
    std::snprintf(buf, sizeof buf, "%.*g", single ? 7 : 15, d);
    return DecimalFromText(buf, precision, scale);
  }
  long long n = 0;
  if (v.is<bool>()) {
    n = v.as<bool>() ? -1 : 0;
  } else if (v.is<std::uint8_t>()) {
    n = v.as<std::uint8_t>();
  } else if (v.is<std::int16_t>()) {
    n = v.as<std::int16_t>();
  } else if (v.is<std::int32_t>()) {
    n = v.as<std::int32_t>();
  } else if (v.is<std::string>()) {
    return DecimalFromText(v.as<std::string>(), precision, scale);
  } else {
    return Status(ErrorCode::kTypeMismatch, "Typen unverträglich: keine Zahl für Dezimal.");
  }
  return DecimalFromText(std::to_string(n), precision, scale);
}

double DecimalToDouble(const Decimal& d) {
  const U128 magnitude = (U128{d.high} << 64) | d.low;
  long double v = static_cast<long double>(magnitude);
  for (int i = 0; i < d.scale; ++i) v /= 10;
  return static_cast<double>(d.negative ? -v : v);
}

}  // namespace jet
