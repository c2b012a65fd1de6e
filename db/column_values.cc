#include "db/column_values.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

#include "db/error.h"
#include "jet/unicode.h"

namespace db {
namespace {

std::string Where(const jet::TableDef& t, const jet::Column& c) { return t.name + "." + c.name; }

[[noreturn]] void ConversionError(const jet::TableDef& t, const jet::Column& c) {
  throw DbError(kErrConversion, "Datentypkonvertierungsfehler: Der Wert passt nicht in das Feld '" +
                                    Where(t, c) + "' (" + jet::ColumnTypeName(c.type()) + ").");
}

bool GetBoolProperty(const jet::Column& c, const char* name) {
  auto it = c.properties.find(name);
  return it != c.properties.end() && it->second.value.is<bool>() && it->second.value.as<bool>();
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]", "HH:MM[:SS]" or "DD.MM.YYYY[ HH:MM[:SS]]".
bool ParseDate(std::string_view s, double& days) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  char tail = 0;
  const std::string text(s);
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) >=
          3 ||
      std::sscanf(text.c_str(), "%2d.%2d.%4d %2d:%2d:%2d%c", &d, &mo, &y, &h, &mi, &se, &tail) >=
          3) {
    if (tail != 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59)
      return false;
    days = static_cast<double>(
               jet::JetDayFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d))) +
           (h * 3600 + mi * 60 + se) / 86400.0;
    return true;
  }
  if (std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &h, &mi, &se, &tail) >= 2) {
    if (tail != 0 || h > 23 || mi > 59 || se > 59) return false;
    days = (h * 3600 + mi * 60 + se) / 86400.0;
    return true;
  }
  return false;
}

double NowDays() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return static_cast<double>(jet::JetDayFromCivil(local.tm_year + 1900,
                                                  static_cast<unsigned>(local.tm_mon + 1),
                                                  static_cast<unsigned>(local.tm_mday))) +
         (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}

std::size_t Utf16Length(std::string_view s) {
  std::size_t n = 0, pos = 0;
  while (pos < s.size()) n += jet::NextCodePoint(s, pos) >= 0x10000 ? 2 : 1;
  return n;
}

}  // namespace

Value ConvertForColumn(const jet::TableDef& t, const jet::Column& c, const Value& v) {
  if (v.is_null()) return v;
  try {
    switch (c.type()) {
      case jet::ColumnType::kBoolean:
        if (v.is<bool>()) return v;
        if (v.is<std::string>()) {
          const std::string s = jet::FoldCase(v.as<std::string>());
          if (s == "true" || s == "yes" || s == "on" || s == "wahr" || s == "ja")
            return Value(true);
          if (s == "false" || s == "no" || s == "off" || s == "falsch" || s == "nein")
            return Value(false);
        }
        return Value(ToDouble(v) != 0);
      case jet::ColumnType::kByte: {
        const std::int32_t n = ToInt32(v);
        if (n < 0 || n > 255) ConversionError(t, c);
        return Value(static_cast<std::uint8_t>(n));
      }
      case jet::ColumnType::kInteger: {
        const std::int32_t n = ToInt32(v);
        if (n < std::numeric_limits<std::int16_t>::min() ||
            n > std::numeric_limits<std::int16_t>::max()) {
          ConversionError(t, c);
        }
        return Value(static_cast<std::int16_t>(n));
      }
      case jet::ColumnType::kLong:
        return Value(ToInt32(v));
      case jet::ColumnType::kDouble:
        return Value(ToDouble(v));
      case jet::ColumnType::kSingle:
        return Value(ToSingle(v));
      case jet::ColumnType::kCurrency: {
        if (v.is<jet::Currency>()) return v;
        const double d = std::nearbyint(ToDouble(v) * 10000.0);
        if (!(std::fabs(d) < 9.2e18)) ConversionError(t, c);
        return Value(jet::Currency{static_cast<std::int64_t>(d)});
      }
      case jet::ColumnType::kDateTime: {
        if (v.is<jet::DateTime>()) return v;
        if (v.is<std::string>()) {
          double days = 0;
          if (!ParseDate(v.as<std::string>(), days)) ConversionError(t, c);
          return Value(jet::DateTime{days});
        }
        return Value(jet::DateTime{ToDouble(v)});
      }
      case jet::ColumnType::kText:
      case jet::ColumnType::kMemo:
        return Value(ToText(v));
      case jet::ColumnType::kBinary:
      case jet::ColumnType::kOle:
        if (v.is<jet::ByteString>()) return v;
        ConversionError(t, c);
      case jet::ColumnType::kGuid:
        if (v.is<jet::Guid>()) return v;
        ConversionError(t, c);
      case jet::ColumnType::kDecimal:
        if (v.is<jet::Decimal>()) return v;
        ConversionError(t, c);
      default:
        ConversionError(t, c);
    }
  } catch (const DbError& e) {
    if (e.number() == kErrConversion) throw;
    ConversionError(t, c);
  }
}

Value DefaultFor(const jet::TableDef& t, const jet::Column& c, bool* varies) {
  if (varies != nullptr) *varies = false;
  auto it = c.properties.find("DefaultValue");
  if (it == c.properties.end() || !it->second.value.is<std::string>()) return Value();
  std::string text = it->second.value.as<std::string>();
  auto trim = [](std::string s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(s.begin());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
  };
  text = trim(text);
  if (!text.empty() && text.front() == '=') text = trim(text.substr(1));
  auto fail = [&]() -> Value {
    throw DbError(kErrBadDefault, "Der Standardwert '" + it->second.value.as<std::string>() +
                                      "' des Feldes '" + Where(t, c) +
                                      "' kann nicht ausgewertet werden.");
  };
  if (text.empty()) return Value();
  Value v;
  const std::string folded = jet::FoldCase(text);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    std::string inner;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      inner.push_back(text[i]);
      if (text[i] == text.front() && i + 2 < text.size() && text[i + 1] == text.front()) ++i;
    }
    v = Value(inner);
  } else if (folded == "true" || folded == "yes" || folded == "on") {
    v = Value(true);
  } else if (folded == "false" || folded == "no" || folded == "off") {
    v = Value(false);
  } else if (folded == "null") {
    return Value();
  } else if (folded == "date()" || folded == "now()" || folded == "time()") {
    if (varies != nullptr) *varies = true;
    const double now = NowDays();
    const double day = std::floor(now);
    v = Value(jet::DateTime{folded == "date()" ? day : folded == "time()" ? now - day : now});
  } else if (text.size() >= 2 && text.front() == '#' && text.back() == '#') {
    double days = 0;
    if (!ParseDate(text.substr(1, text.size() - 2), days)) return fail();
    v = Value(jet::DateTime{days});
  } else {
    double d = 0;
    std::string number = text;
    if (!number.empty() && number.front() == '+') number.erase(number.begin());
    auto [p, ec] = std::from_chars(number.data(), number.data() + number.size(), d);
    if (ec != std::errc() || p != number.data() + number.size() || number.empty()) return fail();
    const bool integral = number.find_first_of(".eE") == std::string::npos &&
                          d >= std::numeric_limits<std::int32_t>::min() &&
                          d <= std::numeric_limits<std::int32_t>::max();
    v = integral ? Value(static_cast<std::int32_t>(d)) : Value(d);
  }
  try {
    return ConvertForColumn(t, c, v);
  } catch (const DbError&) {
    return fail();
  }
}

std::vector<ColumnRule> RulesOf(const jet::TableDef& t) {
  std::vector<ColumnRule> rules(t.columns.size());
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const jet::Column& c = t.columns[i];
    rules[i].required = GetBoolProperty(c, "Required") && !c.autonumber();
    const bool text = c.type() == jet::ColumnType::kText || c.type() == jet::ColumnType::kMemo;
    auto azl = c.properties.find("AllowZeroLength");
    rules[i].allow_zero_length = !text || azl == c.properties.end() ||
                                 !azl->second.value.is<bool>() || azl->second.value.as<bool>();
    if (c.type() == jet::ColumnType::kText) rules[i].max_units = c.length / 2;
  }
  return rules;
}

void CheckRow(const jet::TableDef& t, const std::vector<ColumnRule>& rules,
              const std::vector<Value>& row) {
  for (std::size_t i = 0; i < t.columns.size() && i < row.size() && i < rules.size(); ++i) {
    const jet::Column& c = t.columns[i];
    const Value& v = row[i];
    if (v.is_null()) {
      if (rules[i].required) {
        throw DbError(kErrRequired, "Das Feld '" + Where(t, c) +
                                        "' darf keinen Nullwert enthalten, da die Eigenschaft "
                                        "'Eingabe erforderlich' auf 'Ja' gesetzt ist.");
      }
      continue;
    }
    if (!v.is<std::string>()) continue;
    const std::string& s = v.as<std::string>();
    if (s.empty() && !rules[i].allow_zero_length) {
      throw DbError(kErrZeroLength,
                    "Das Feld '" + Where(t, c) + "' darf keine leere Zeichenfolge sein.");
    }
    if (rules[i].max_units != 0 && s.size() > rules[i].max_units &&
        Utf16Length(s) > rules[i].max_units) {
      throw DbError(kErrFieldTooSmall, "Das Feld '" + Where(t, c) +
                                           "' ist zu klein für die Datenmenge, die Sie "
                                           "hinzufügen wollten (höchstens " +
                                           std::to_string(rules[i].max_units) + " Zeichen).");
    }
  }
}

}  // namespace db
