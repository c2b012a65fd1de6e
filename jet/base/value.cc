#include "jet/base/value.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace jet {

Guid NewGuid() {
  static std::random_device device;
  Guid g;
  for (auto& b : g.bytes) b = static_cast<std::uint8_t>(device());
  g.bytes[7] = static_cast<std::uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // version 4
  g.bytes[8] = static_cast<std::uint8_t>((g.bytes[8] & 0x3F) | 0x80);  // variant
  return g;
}

const char* ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
      return "Yes/No";
    case ColumnType::kByte:
      return "Byte";
    case ColumnType::kInteger:
      return "Integer";
    case ColumnType::kLong:
      return "Long";
    case ColumnType::kCurrency:
      return "Currency";
    case ColumnType::kSingle:
      return "Single";
    case ColumnType::kDouble:
      return "Double";
    case ColumnType::kDateTime:
      return "Date/Time";
    case ColumnType::kBinary:
      return "Binary";
    case ColumnType::kText:
      return "Text";
    case ColumnType::kOle:
      return "OLE";
    case ColumnType::kMemo:
      return "Memo";
    case ColumnType::kGuid:
      return "Replication ID";
    case ColumnType::kDecimal:
      return "Decimal";
    case ColumnType::kBinaryData:
      return "Binary data";
    case ColumnType::kComplex:
      return "Complex";
  }
  return "Unknown";
}

namespace {
// Days from 1970-01-01 to 1899-12-30 (Jet's day 0).
constexpr long long kJetDayOfUnixEpoch = 25569;
}  // namespace

CivilDate CivilFromJetDay(long long jet_day) {
  long long z = jet_day - kJetDayOfUnixEpoch + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilDate date;
  date.day = doy - (153 * mp + 2) / 5 + 1;
  date.month = mp < 10 ? mp + 3 : mp - 9;
  date.year = static_cast<long long>(yoe) + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

long long JetDayFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kJetDayOfUnixEpoch;
}

std::string FormatGuid(const Guid& g) {
  const auto& b = g.bytes;
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buf;
}

std::string FormatDecimal(const Decimal& d) {
  // Long division of the 128-bit magnitude by 10, in 32-bit limbs.
  std::uint32_t limbs[4] = {
      static_cast<std::uint32_t>(d.high >> 32), static_cast<std::uint32_t>(d.high),
      static_cast<std::uint32_t>(d.low >> 32), static_cast<std::uint32_t>(d.low)};
  std::string digits;
  auto is_zero = [&] { return !(limbs[0] | limbs[1] | limbs[2] | limbs[3]); };
  do {
    std::uint64_t rem = 0;
    for (auto& limb : limbs) {
      std::uint64_t cur = (rem << 32) | limb;
      limb = static_cast<std::uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.push_back(static_cast<char>('0' + rem));
  } while (!is_zero());
  while (digits.size() <= d.scale) digits.push_back('0');
  std::reverse(digits.begin(), digits.end());
  if (d.scale > 0) digits.insert(digits.end() - d.scale, '.');
  if (d.negative) digits.insert(digits.begin(), '-');
  return digits;
}

std::string FormatCurrency(const Currency& c) {
  const bool negative = c.scaled < 0;
  const std::uint64_t mag =
      negative ? ~static_cast<std::uint64_t>(c.scaled) + 1 : static_cast<std::uint64_t>(c.scaled);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "",
                static_cast<unsigned long long>(mag / 10000),
                static_cast<unsigned long long>(mag % 10000));
  return buf;
}

}  // namespace jet
