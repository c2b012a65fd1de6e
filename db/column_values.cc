#include "db/column_values.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

#include "db/error.h"
#include "jet/base/decimal_convert.h"
#include "jet/text/unicode.h"

namespace db {
namespace {

std::string Where(const jet::TableDef& t, const jet::Column& c) { return t.name + "." + c.name; }

[[noreturn]] void ConversionError(const jet::TableDef& t, const jet::Column& c) {
  throw DbError(ErrorCode::kInvalidValue,
                "Datentypkonvertierungsfehler: Der Wert passt nicht in das Feld '" + Where(t, c) +
                    "' (" + jet::ColumnTypeName(c.type()) + ").");
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
      case jet::ColumnType::kDecimal: {
        auto d = jet::DecimalFromValue(v, c.precision, c.scale);
        if (d.ok()) return Value(*d);
        if (d.status().code() == jet::ErrorCode::kNumericOverflow) {
          throw DbError(ErrorCode::kNumericOverflow,
                        "Numerischer Feldüberlauf: Der Wert passt nicht in "
                        "das Feld '" +
                            Where(t, c) + "' (Dezimal(" + std::to_string(c.precision) + "," +
                            std::to_string(c.scale) + ")).");
        }
        ConversionError(t, c);
      }
      default:
        ConversionError(t, c);
    }
  } catch (const DbError& e) {
    if (e.code() == ErrorCode::kInvalidValue || e.code() == ErrorCode::kNumericOverflow) throw;
    ConversionError(t, c);
  }
}

namespace {

std::string DefaultText(const jet::Column& c) {
  auto it = c.properties.find("DefaultValue");
  if (it == c.properties.end() || !it->second.value.is<std::string>()) return std::string();
  return it->second.value.as<std::string>();
}

std::string StringProperty(const jet::PropertyMap& properties, const char* name) {
  auto it = properties.find(name);
  if (it == properties.end() || !it->second.value.is<std::string>()) return std::string();
  return it->second.value.as<std::string>();
}

[[noreturn]] void BadDefault(const jet::TableDef& t, const jet::Column& c, ErrorCode code,
                             const std::string& why) {
  throw DbError(code, "Der Standardwert '" + DefaultText(c) + "' des Feldes '" + Where(t, c) +
                          "' kann nicht verwendet werden: " + why);
}

// A number that does not fit the column: Jet's numeric overflow.
bool IsOverflow(const jet::Column& c, const Value& v) {
  if (v.is<std::string>() || v.is<bool>() || v.is_null()) return false;
  switch (c.type()) {
    case jet::ColumnType::kByte:
    case jet::ColumnType::kInteger:
    case jet::ColumnType::kLong:
    case jet::ColumnType::kCurrency:
    case jet::ColumnType::kSingle:
    case jet::ColumnType::kDecimal:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::shared_ptr<const jet::Expression> ParseDefault(const jet::TableDef& t, const jet::Column& c) {
  const std::string text = DefaultText(c);
  if (text.find_first_not_of(" \t") == std::string::npos) return nullptr;
  auto e = jet::Expression::Parse(text);
  if (!e.ok()) BadDefault(t, c, ErrorCode::kBadDefault, e.status().message());
  return std::make_shared<const jet::Expression>(std::move(*e));
}

Value EvaluateDefault(const jet::TableDef& t, const jet::Column& c, const jet::Expression& e) {
  auto v = e.Evaluate({});
  if (!v.ok()) BadDefault(t, c, ErrorCode::kBadDefault, v.status().ToString());
  if (v->is_null()) return Value();
  if (c.type() == jet::ColumnType::kText || c.type() == jet::ColumnType::kMemo) {
    return Value(*jet::ExprText(*v));  // the text form the expression service gives
  }
  try {
    return ConvertForColumn(t, c, *v);
  } catch (const DbError& err) {
    if (err.code() == ErrorCode::kNumericOverflow || IsOverflow(c, *v)) {
      BadDefault(t, c, ErrorCode::kNumericOverflow, "Numerischer Feldüberlauf.");
    }
    BadDefault(t, c, ErrorCode::kInvalidValue, "Datentypkonvertierungsfehler.");
  }
}

Value DefaultFor(const jet::TableDef& t, const jet::Column& c, bool* varies) {
  if (varies != nullptr) *varies = false;
  auto e = ParseDefault(t, c);
  if (!e) return Value();
  if (varies != nullptr) *varies = e->varies();
  return EvaluateDefault(t, c, *e);
}

RowRules RulesOf(const jet::TableDef& t) {
  RowRules row_rules;
  std::vector<ColumnRule>& rules = row_rules.columns;
  rules.resize(t.columns.size());
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const jet::Column& c = t.columns[i];
    rules[i].required = GetBoolProperty(c, "Required") && !c.autonumber();
    const bool text = c.type() == jet::ColumnType::kText || c.type() == jet::ColumnType::kMemo;
    auto azl = c.properties.find("AllowZeroLength");
    rules[i].allow_zero_length = !text || azl == c.properties.end() ||
                                 !azl->second.value.is<bool>() || azl->second.value.as<bool>();
    if (c.type() == jet::ColumnType::kText) rules[i].max_units = c.length / 2;
    const std::string rule = StringProperty(c.properties, "ValidationRule");
    if (rule.find_first_not_of(" \t") != std::string::npos) {
      auto e = jet::Expression::Parse(rule, /*field_rule=*/true);
      if (!e.ok()) {
        throw DbError(ErrorCode::kBadDefault,
                      "Die Gültigkeitsregel '" + rule + "' des Feldes '" + Where(t, c) +
                          "' kann nicht ausgewertet werden: " + e.status().message());
      }
      rules[i].validation = std::make_shared<const jet::Expression>(std::move(*e));
      rules[i].validation_text = StringProperty(c.properties, "ValidationText");
    }
  }
  const std::string rule = StringProperty(t.properties, "ValidationRule");
  if (rule.find_first_not_of(" \t") != std::string::npos) {
    auto e = jet::Expression::Parse(rule);
    if (!e.ok()) {
      throw DbError(ErrorCode::kBadDefault,
                    "Die Gültigkeitsregel '" + rule + "' der Tabelle '" + t.name +
                        "' kann nicht ausgewertet werden: " + e.status().message());
    }
    row_rules.validation = std::make_shared<const jet::Expression>(std::move(*e));
    row_rules.validation_text = StringProperty(t.properties, "ValidationText");
  }
  row_rules.any_validation = row_rules.validation != nullptr;
  for (const ColumnRule& r : rules) {
    row_rules.any_validation = row_rules.any_validation || r.validation != nullptr;
  }
  return row_rules;
}

namespace {

// Evaluates a validation rule; throws 3316/3317 when the row breaks it.
void CheckRule(const jet::Expression& rule, const std::string& text, const std::string& where,
               const jet::ExpressionContext& context) {
  auto result = rule.Evaluate(context);
  if (!result.ok()) {
    throw DbError(result.status().code(),
                  "Die Gültigkeitsregel '" + rule.text() + "' für '" + where +
                      "' kann nicht ausgewertet werden: " + result.status().message());
  }
  if (jet::RulePasses(*result)) return;
  if (!text.empty()) throw DbError(ErrorCode::kRuleText, text);
  throw DbError(ErrorCode::kRuleBroken,
                "Ein oder mehrere Werte werden durch die Gültigkeitsregel '" + rule.text() +
                    "' für '" + where +
                    "' nicht zugelassen. Geben Sie einen Wert ein, den der "
                    "Ausdruck für dieses Feld akzeptiert.");
}

}  // namespace

void CheckRow(const jet::TableDef& t, const RowRules& row_rules, const std::vector<Value>& row) {
  const std::vector<ColumnRule>& rules = row_rules.columns;
  for (std::size_t i = 0; i < t.columns.size() && i < row.size() && i < rules.size(); ++i) {
    const jet::Column& c = t.columns[i];
    const Value& v = row[i];
    if (v.is_null()) {
      if (rules[i].required) {
        throw DbError(ErrorCode::kRequired,
                      "Das Feld '" + Where(t, c) +
                          "' darf keinen Nullwert enthalten, da die Eigenschaft "
                          "'Eingabe erforderlich' auf 'Ja' gesetzt ist.");
      }
      continue;
    }
    if (!v.is<std::string>()) continue;
    const std::string& s = v.as<std::string>();
    if (s.empty() && !rules[i].allow_zero_length) {
      throw DbError(ErrorCode::kZeroLength,
                    "Das Feld '" + Where(t, c) + "' darf keine leere Zeichenfolge sein.");
    }
    if (rules[i].max_units != 0 && s.size() > rules[i].max_units &&
        Utf16Length(s) > rules[i].max_units) {
      throw DbError(ErrorCode::kFieldTooSmall, "Das Feld '" + Where(t, c) +
                                                   "' ist zu klein für die Datenmenge, die Sie "
                                                   "hinzufügen wollten (höchstens " +
                                                   std::to_string(rules[i].max_units) +
                                                   " Zeichen).");
    }
  }
  if (!row_rules.any_validation) return;
  jet::ExpressionContext context;
  context.column = [&](std::string_view name) -> std::optional<Value> {
    const jet::Column* c = t.FindColumn(name);
    if (c == nullptr) return std::nullopt;
    const auto at = static_cast<std::size_t>(c - t.columns.data());
    if (at >= row.size()) return std::nullopt;
    return row[at];
  };
  for (std::size_t i = 0; i < rules.size() && i < row.size(); ++i) {
    if (!rules[i].validation) continue;
    context.field = row[i];
    CheckRule(*rules[i].validation, rules[i].validation_text, Where(t, t.columns[i]), context);
  }
  context.field.reset();
  if (row_rules.validation) {
    CheckRule(*row_rules.validation, row_rules.validation_text, t.name, context);
  }
}

}  // namespace db
