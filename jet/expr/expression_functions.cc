// The built-in functions of the expression service that defaults and validation rules use.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "jet/base/decimal_convert.h"
#include "jet/expr/expression_dates.h"
#include "jet/expr/expression_node.h"
#include "jet/text/text_codec.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

using Args = std::vector<Value>;

// Calendar names under German regional settings.
constexpr const char* kMonthNames[] = {"Januar",    "Februar", "März",     "April",
                                       "Mai",       "Juni",    "Juli",     "August",
                                       "September", "Oktober", "November", "Dezember"};
constexpr const char* kMonthShort[] = {"Jan", "Feb", "Mrz", "Apr", "Mai", "Jun",
                                       "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
constexpr const char* kDayNames[] = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                                     "Donnerstag", "Freitag", "Samstag"};
constexpr const char* kDayShort[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};

Status BadArgument(const std::string& function) {
  return ExprError(ErrorCode::kInvalidArgument,
                   "Ungültiger Prozeduraufruf oder ungültiges Argument bei " + function);
}

struct DateParts {
  long long year;
  unsigned month, day;
  int hour, minute, second;
  int weekday;  // 1 Sunday .. 7 Saturday
  long long day_number;
};

DateParts Split(double stored) {
  const double lin = LinearDays(stored);
  double day = std::floor(lin);
  long long secs = std::llround((lin - day) * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    day += 1;
  }
  const auto n = static_cast<long long>(day);
  const CivilDate c = CivilFromJetDay(n);
  // Day 0 (1899-12-30) was a Saturday.
  const int weekday = static_cast<int>(((n % 7) + 7 + 6) % 7) + 1;
  return {c.year,
          c.month,
          c.day,
          static_cast<int>(secs / 3600),
          static_cast<int>(secs / 60 % 60),
          static_cast<int>(secs % 60),
          weekday,
          n};
}

// A date from year, month and day that may run over (month 13, day 0), as DateSerial builds it.
Result<double> SerialDate(long long y, long long m, long long d) {
  if (y >= 0 && y < 30) y += 2000;
  if (y >= 30 && y < 100) y += 1900;
  y += (m - 1) / 12;
  m = (m - 1) % 12;
  if (m < 0) {
    m += 12;
    y -= 1;
  }
  if (y < 100 || y > 9999) return ExprError(ErrorCode::kOverflow);
  const double day = static_cast<double>(JetDayFromCivil(y, static_cast<unsigned>(m + 1), 1)) +
                     static_cast<double>(d - 1);
  if (!(day >= -657434.0 && day < 2958466.0)) return ExprError(ErrorCode::kOverflow);
  return day;
}

unsigned DaysInMonth(long long y, unsigned m) {
  const long long first = JetDayFromCivil(y, m, 1);
  const long long next = m == 12 ? JetDayFromCivil(y + 1, 1, 1) : JetDayFromCivil(y, m + 1, 1);
  return static_cast<unsigned>(next - first);
}

Result<long long> WholeArg(const Value& v) {
  JET_ASSIGN_OR_RETURN(std::int64_t n, RoundToLong(v));
  return static_cast<long long>(n);
}

std::string Interval(const Value& v) { return FoldCase(ExprText(v).value_or("")); }

// The week of the year: weeks start on `first_day` (1 Sunday); week 1 holds January 1.
int WeekOfYear(const DateParts& p, int first_day) {
  const long long jan1 = JetDayFromCivil(p.year, 1, 1);
  const int jan1_weekday = static_cast<int>(((jan1 % 7) + 7 + 6) % 7) + 1;
  const int offset = (jan1_weekday - first_day + 7) % 7;
  return static_cast<int>((p.day_number - jan1 + offset) / 7) + 1;
}

Result<Value> DatePartOf(const std::string& interval, double stored, int first_day) {
  const DateParts p = Split(stored);
  int r = 0;
  if (interval == "yyyy")
    r = static_cast<int>(p.year);
  else if (interval == "q")
    r = static_cast<int>((p.month - 1) / 3 + 1);
  else if (interval == "m")
    r = static_cast<int>(p.month);
  else if (interval == "y")
    r = static_cast<int>(p.day_number - JetDayFromCivil(p.year, 1, 1) + 1);
  else if (interval == "d")
    r = static_cast<int>(p.day);
  else if (interval == "w")
    r = (p.weekday - first_day + 7) % 7 + 1;
  else if (interval == "ww")
    r = WeekOfYear(p, first_day);
  else if (interval == "h")
    r = p.hour;
  else if (interval == "n")
    r = p.minute;
  else if (interval == "s")
    r = p.second;
  else
    return BadArgument("DatePart");
  return Value(static_cast<std::int32_t>(r));
}

Result<Value> DateAdd(const std::string& interval, long long n, double stored) {
  const DateParts p = Split(stored);
  const double lin = LinearDays(stored);
  const double time = lin - std::floor(lin);
  double result = 0;
  long long months = 0;
  if (interval == "yyyy")
    months = 12 * n;
  else if (interval == "q")
    months = 3 * n;
  else if (interval == "m")
    months = n;
  if (interval == "yyyy" || interval == "q" || interval == "m") {
    long long y = p.year + (static_cast<long long>(p.month) - 1 + months) / 12;
    long long m = (static_cast<long long>(p.month) - 1 + months) % 12;
    if (m < 0) {
      m += 12;
      y -= 1;
    }
    if (y < 100 || y > 9999) return ExprError(ErrorCode::kInvalidArgument);
    const unsigned day = std::min(p.day, DaysInMonth(y, static_cast<unsigned>(m + 1)));
    result = static_cast<double>(JetDayFromCivil(y, static_cast<unsigned>(m + 1), day)) + time;
  } else if (interval == "y" || interval == "d" || interval == "w") {
    result = lin + static_cast<double>(n);
  } else if (interval == "ww") {
    result = lin + 7.0 * static_cast<double>(n);
  } else if (interval == "h" || interval == "n" || interval == "s") {
    const double unit = interval == "h" ? 1.0 / 24 : interval == "n" ? 1.0 / 1440 : 1.0 / 86400;
    const double secs =
        std::round(lin * 86400.0) + std::round(static_cast<double>(n) * unit * 86400);
    result = secs / 86400.0;
  } else {
    return BadArgument("DateAdd");
  }
  if (!(result >= -657434.0 && result < 2958466.0)) {
    return ExprError(ErrorCode::kInvalidArgument);
  }
  return Value(DateTime{StoredDays(result)});
}

Result<Value> DateDiff(const std::string& interval, double a, double b, int first_day) {
  const DateParts p = Split(a), q = Split(b);
  const double la = LinearDays(a), lb = LinearDays(b);
  long long r = 0;
  if (interval == "yyyy") {
    r = q.year - p.year;
  } else if (interval == "q") {
    r = (q.year * 4 + (q.month - 1) / 3) - (p.year * 4 + (p.month - 1) / 3);
  } else if (interval == "m") {
    r = (q.year * 12 + q.month) - (p.year * 12 + p.month);
  } else if (interval == "y" || interval == "d") {
    r = q.day_number - p.day_number;
  } else if (interval == "w") {
    r = (q.day_number - p.day_number) / 7;
  } else if (interval == "ww") {
    // Weeks begun between the two dates: the first days of week counted.
    auto week_start = [&](long long day) {
      const int wd = static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;
      return day - (wd - first_day + 7) % 7;
    };
    r = (week_start(q.day_number) - week_start(p.day_number)) / 7;
  } else if (interval == "h" || interval == "n" || interval == "s") {
    const double per_day = interval == "h" ? 24 : interval == "n" ? 1440 : 86400;
    const double sa = std::round(la * 86400.0), sb = std::round(lb * 86400.0);
    const double unit = 86400.0 / per_day;
    r = static_cast<long long>(std::floor(sb / unit) - std::floor(sa / unit));
  } else {
    return BadArgument("DateDiff");
  }
  if (r < std::numeric_limits<std::int32_t>::min() ||
      r > std::numeric_limits<std::int32_t>::max()) {
    return ExprError(ErrorCode::kOverflow);
  }
  return Value(static_cast<std::int32_t>(r));
}

std::u32string CodePoints(const std::string& s) {
  std::u32string out;
  std::size_t pos = 0;
  while (pos < s.size()) out.push_back(NextCodePoint(s, pos));
  return out;
}

std::string Utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) AppendUtf8(out, c);
  return out;
}

// Val: the number at the start of a text, read with "." as decimal point, blanks skipped.
double Val(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s.push_back(c);
  }
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    const long v = std::strtol(s.c_str() + 2, nullptr, base);
    return static_cast<double>(static_cast<std::int32_t>(v));
  }
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t k = i + 1;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
    if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
      s[i] = 'e';
      i = k;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    }
  }
  return std::strtod(s.substr(0, i).c_str(), nullptr);
}

// Digits of a non-negative number with `decimals` places, German separators, optional grouping.
std::string FixedDigits(double d, int decimals, bool group, int min_int_digits) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, d);
  std::string s = buf;
  std::string whole = s.substr(0, s.find('.'));
  std::string frac = s.find('.') == std::string::npos ? "" : s.substr(s.find('.') + 1);
  if (whole == "0" && min_int_digits == 0) whole.clear();
  while (static_cast<int>(whole.size()) < min_int_digits) whole.insert(whole.begin(), '0');
  if (group) {
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) {
      whole.insert(static_cast<std::size_t>(i), ".");
    }
  }
  return frac.empty() ? whole : whole + "," + frac;
}

// A numeric format of placeholders: 0 # , . % and literal text; sections "pos;neg;zero;null".
Result<std::string> FormatNumber(double d, const std::string& format) {
  std::vector<std::string> sections;
  std::string cur;
  bool quoted = false;
  for (char c : format) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      sections.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  sections.push_back(cur);
  std::string section = sections[0];
  bool add_minus = d < 0;
  if (d < 0 && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    add_minus = false;
    d = -d;
  } else if (d == 0 && sections.size() > 2 && !sections[2].empty()) {
    section = sections[2];
  }
  if (d < 0) d = -d;
  // The placeholders' shape.
  int int_zeros = 0, decimals = 0;
  bool group = false, percent = false, point = false, scientific = false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') {
      const std::size_t end = section.find('"', i + 1);
      i = end == std::string::npos ? section.size() : end;
    } else if (c == '\\') {
      ++i;
    } else if (c == '0' && !point) {
      ++int_zeros;
    } else if ((c == '0' || c == '#') && point) {
      ++decimals;
    } else if (c == '.') {
      point = true;
    } else if (c == ',') {
      group = true;
    } else if (c == '%') {
      percent = true;
    } else if (c == 'E' || c == 'e') {
      scientific = true;
    }
  }
  if (scientific) return BadArgument("Format");
  if (percent) d *= 100;
  const std::string digits = FixedDigits(d, decimals, group, int_zeros);
  // Literal text before the first placeholder and after the last stays where it is.
  std::string out;
  bool placed = false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') {
      const std::size_t end = section.find('"', i + 1);
      out += section.substr(i + 1, (end == std::string::npos ? section.size() : end) - i - 1);
      i = end == std::string::npos ? section.size() : end;
    } else if (c == '\\' && i + 1 < section.size()) {
      out.push_back(section[++i]);
    } else if (c == '0' || c == '#' || c == '.' || c == ',') {
      if (!placed) {
        out += digits;
        placed = true;
      }
    } else {
      out.push_back(c);
    }
  }
  if (!placed) out += digits;
  return (add_minus ? "-" : "") + out;
}

// A date format of d dd ddd dddd m mm mmm mmmm yy yyyy y q w ww h hh n nn s ss AM/PM, "/" and
// ":" as the German separators, quoted and escaped text.
Result<std::string> FormatDate(double stored, const std::string& format) {
  const DateParts p = Split(stored);
  std::string out;
  const std::string& f = format;
  bool after_hour = false;  // "m" right after "h" means minutes
  auto two = [](long long v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02lld", v);
    return std::string(buf);
  };
  for (std::size_t i = 0; i < f.size();) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    std::size_t run = 1;
    while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == c) ++run;
    if (f[i] == '"') {
      const std::size_t end = f.find('"', i + 1);
      out += f.substr(i + 1, (end == std::string::npos ? f.size() : end) - i - 1);
      i = end == std::string::npos ? f.size() : end + 1;
      continue;
    }
    if (f[i] == '\\' && i + 1 < f.size()) {
      out.push_back(f[i + 1]);
      i += 2;
      continue;
    }
    if (FoldCase(f.substr(i, 5)) == "am/pm") {
      out += p.hour < 12 ? "AM" : "PM";
      i += 5;
      continue;
    }
    switch (c) {
      case 'd':
        if (run == 1)
          out += std::to_string(p.day);
        else if (run == 2)
          out += two(p.day);
        else if (run == 3)
          out += kDayShort[p.weekday - 1];
        else
          out += kDayNames[p.weekday - 1];
        break;
      case 'm':
        if (after_hour && run <= 2) {
          out += run == 1 ? std::to_string(p.minute) : two(p.minute);
        } else if (run == 1) {
          out += std::to_string(p.month);
        } else if (run == 2) {
          out += two(p.month);
        } else if (run == 3) {
          out += kMonthShort[p.month - 1];
        } else {
          out += kMonthNames[p.month - 1];
        }
        break;
      case 'y':
        if (run >= 3)
          out += std::to_string(p.year);
        else if (run == 2)
          out += two(p.year % 100);
        else
          out += std::to_string(p.day_number - JetDayFromCivil(p.year, 1, 1) + 1);
        break;
      case 'q':
        out += std::to_string((p.month - 1) / 3 + 1);
        break;
      case 'w':
        out += std::to_string(run == 1 ? p.weekday : WeekOfYear(p, 1));
        break;
      case 'h':
        out += run == 1 ? std::to_string(p.hour) : two(p.hour);
        break;
      case 'n':
        out += run == 1 ? std::to_string(p.minute) : two(p.minute);
        break;
      case 's':
        out += run == 1 ? std::to_string(p.second) : two(p.second);
        break;
      case '/':
        out.append(run, '.');
        break;
      default:
        out.append(f, i, run);
        break;
    }
    if (c != ' ' && c != ':') after_hour = c == 'h';
    i += run;
  }
  return out;
}

Result<Value> Format(const Args& a) {
  if (a.empty() || a.size() > 4) return BadArgument("Format");
  const Value& v = a[0];
  if (v.is_null()) return Value();
  if (a.size() == 1 || a[1].is_null()) return Value(*ExprText(v));
  const std::string format = *ExprText(a[1]);
  const std::string named = FoldCase(format);
  static const std::map<std::string, std::string> kNamedDate = {
      {"general date", ""},           {"long date", "dddd, d. mmmm yyyy"},
      {"medium date", "dd. mmm. yy"}, {"short date", "dd/mm/yyyy"},
      {"long time", "hh:nn:ss"},      {"medium time", "hh:nn AM/PM"},
      {"short time", "hh:nn"}};
  if (auto it = kNamedDate.find(named); it != kNamedDate.end()) {
    JET_ASSIGN_OR_RETURN(double days, ToDateDays(v));
    if (it->second.empty()) return Value(*ExprText(Value(DateTime{days})));
    JET_ASSIGN_OR_RETURN(std::string s, FormatDate(days, it->second));
    return Value(s);
  }
  if (named == "yes/no" || named == "true/false" || named == "on/off") {
    JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
    const bool yes = d != 0;
    if (named == "yes/no") return Value(std::string(yes ? "Ja" : "Nein"));
    if (named == "true/false") return Value(std::string(yes ? "Wahr" : "Falsch"));
    return Value(std::string(yes ? "Ein" : "Aus"));
  }
  if (named == ">" || named == "<") {
    const std::string text = *ExprText(v);
    return Value(named == ">" ? UpperCase(text) : FoldCase(text));
  }
  const bool date_format = format.find_first_of("dDyYhHnNsSqQwW/:") != std::string::npos ||
                           ((format.find_first_of("mM") != std::string::npos) &&
                            format.find_first_of("0#") == std::string::npos);
  if (v.is<DateTime>() || (date_format && IsText(v) && ParseDateText(v.as<std::string>()))) {
    JET_ASSIGN_OR_RETURN(double days, ToDateDays(v));
    JET_ASSIGN_OR_RETURN(std::string s, FormatDate(days, format));
    return Value(s);
  }
  auto number = ExprNumber(v);
  if (!number.ok()) return Value(*ExprText(v));  // text stays as it is
  const double d = *number;
  if (named == "general number") return Value(FormatGeneral(d, 15));
  if (named == "currency") {
    return Value((d < 0 ? "-" : "") + FixedDigits(std::fabs(d), 2, true, 1) + " €");
  }
  if (named == "fixed") return Value((d < 0 ? "-" : "") + FixedDigits(std::fabs(d), 2, false, 1));
  if (named == "standard") {
    return Value((d < 0 ? "-" : "") + FixedDigits(std::fabs(d), 2, true, 1));
  }
  if (named == "percent") {
    return Value((d < 0 ? "-" : "") + FixedDigits(std::fabs(d) * 100, 2, false, 1) + "%");
  }
  if (date_format) {
    JET_ASSIGN_OR_RETURN(std::string s, FormatDate(d, format));
    return Value(s);
  }
  JET_ASSIGN_OR_RETURN(std::string s, FormatNumber(d, format));
  return Value(s);
}

Result<Value> TextFunction(const std::string& f, const Args& a) {
  if (a[0].is_null()) return Value();
  const std::string text = *ExprText(a[0]);
  if (f == "len") return Value(static_cast<std::int32_t>(CodePoints(text).size()));
  if (f == "ucase") return Value(UpperCase(text));
  if (f == "lcase") return Value(FoldCase(text));
  std::u32string s = CodePoints(text);
  if (f == "trim" || f == "ltrim" || f == "rtrim") {
    std::size_t b = 0, e = s.size();
    if (f != "rtrim") {
      while (b < e && s[b] == U' ') ++b;
    }
    if (f != "ltrim") {
      while (e > b && s[e - 1] == U' ') --e;
    }
    return Value(Utf8(s.substr(b, e - b)));
  }
  if (f == "left" || f == "right") {
    if (a[1].is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
    JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[1]));
    if (n < 0) return BadArgument(f);
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), s.size());
    return Value(Utf8(f == "left" ? s.substr(0, k) : s.substr(s.size() - k)));
  }
  // Mid
  JET_ASSIGN_OR_RETURN(long long start, WholeArg(a[1]));
  if (start < 1) return BadArgument("Mid");
  long long length = static_cast<long long>(s.size());
  if (a.size() > 2) {
    JET_ASSIGN_OR_RETURN(length, WholeArg(a[2]));
    if (length < 0) return BadArgument("Mid");
  }
  if (static_cast<std::size_t>(start) > s.size()) return Value(std::string());
  return Value(
      Utf8(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length))));
}

Result<Value> Convert(const std::string& f, const Value& v) {
  if (v.is_null()) {
    return ExprError(ErrorCode::kInvalidUseOfNull);
  }
  if (f == "cstr") return Value(*ExprText(v));
  if (f == "cbool") return ToBoolean(v);
  if (f == "ccur") return ToCurrencyValue(v);
  if (f == "cdate" || f == "datevalue" || f == "timevalue") {
    JET_ASSIGN_OR_RETURN(double d, ToDateDays(v));
    if (f == "datevalue") d = StoredDays(std::floor(LinearDays(d)));
    if (f == "timevalue") {
      const double lin = LinearDays(d);
      d = lin - std::floor(lin);
    }
    return Value(DateTime{d});
  }
  if (f == "cdec") {
    JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
    auto dec =
        v.is<Decimal>() ? Result<Decimal>(v.as<Decimal>()) : DecimalFromValue(Value(d), 28, 12);
    if (!dec.ok()) return ExprError(ErrorCode::kOverflow);
    return Value(*dec);
  }
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
  if (f == "cdbl") return Value(d);
  if (f == "csng") {
    if (std::fabs(d) > 3.402823466e38) return ExprError(ErrorCode::kOverflow);
    return Value(static_cast<float>(d));
  }
  const double r = std::nearbyint(d);  // half to even
  if (f == "clng") {
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return ExprError(ErrorCode::kOverflow);
    return Value(static_cast<std::int32_t>(r));
  }
  if (f == "cint") {
    if (!(r >= -32768.0 && r <= 32767.0)) return ExprError(ErrorCode::kOverflow);
    return Value(static_cast<std::int16_t>(r));
  }
  // cbyte
  if (!(r >= 0 && r <= 255)) return ExprError(ErrorCode::kOverflow);
  return Value(static_cast<std::uint8_t>(r));
}

Result<Value> MathFunction(const std::string& f, const Args& a) {
  const Value& v = a[0];
  if (v.is_null()) return Value();
  if (f == "round") {
    int places = 0;
    if (a.size() > 1) {
      JET_ASSIGN_OR_RETURN(long long p, WholeArg(a[1]));
      if (p < 0 || p > 22) return BadArgument("Round");
      places = static_cast<int>(p);
    }
    JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
    const double scale = std::pow(10.0, places);
    const double r = std::nearbyint(d * scale) / scale;  // half to even, as Jet rounds
    if (v.is<Currency>()) return ToCurrencyValue(Value(r));
    if (v.is<std::int16_t>() || v.is<std::int32_t>() || v.is<std::uint8_t>()) return v;
    return Value(r);
  }
  if (v.is<std::int16_t>() || v.is<std::int32_t>() || v.is<std::uint8_t>() || v.is<bool>()) {
    JET_ASSIGN_OR_RETURN(double n, ExprNumber(v));
    if (f == "sgn") return Value(static_cast<std::int16_t>(n > 0 ? 1 : n < 0 ? -1 : 0));
    if (f == "abs") {
      if (v.is<std::int32_t>() && n < -2147483647.0) return Value(-n);
      if (v.is<std::int16_t>() && n < -32767.0) return Value(static_cast<std::int32_t>(-n));
      if (v.is<std::int32_t>()) return Value(static_cast<std::int32_t>(std::fabs(n)));
      if (v.is<std::uint8_t>()) return v;
      return Value(static_cast<std::int16_t>(std::fabs(n)));
    }
    return v.is<bool>() ? Value(static_cast<std::int16_t>(n)) : v;  // Int, Fix
  }
  if (v.is<Currency>() && f != "sgn") {
    const std::int64_t s = v.as<Currency>().scaled;
    std::int64_t r = s;
    if (f == "abs") r = s < 0 ? -s : s;
    if (f == "fix") r = s / 10000 * 10000;
    if (f == "int") r = (s >= 0 || s % 10000 == 0) ? s / 10000 * 10000 : (s / 10000 - 1) * 10000;
    return Value(Currency{r});
  }
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(v));
  if (IsText(v) || v.is<DateTime>()) {
    // Texts become numbers; a date keeps its kind under Int and Fix.
  }
  double r = 0;
  if (f == "abs")
    r = std::fabs(d);
  else if (f == "int")
    r = std::floor(d);
  else if (f == "fix")
    r = std::trunc(d);
  else
    return Value(static_cast<std::int16_t>(d > 0 ? 1 : d < 0 ? -1 : 0));  // sgn
  if (v.is<DateTime>()) return Value(DateTime{r});
  if (v.is<float>()) return Value(static_cast<float>(r));
  return Value(r);
}

// The ANSI code page of Chr and Asc. VBA's Chr and Asc convert through the system's ANSI code
// page; a German (as every Western European) Windows has Windows-1252, so Chr(128) is "€" and
// Asc("€") is 128. jet/text/text_codec.h holds the code page's table, which Jet 3 texts use as
// well. A character the code page lacks gives Asc the code of "?", as Windows' conversion gives it.
constexpr int kAnsiUnmappable = '?';

std::string AnsiChar(int code) {
  const auto byte = static_cast<std::uint8_t>(code);
  return DecodeCodePage(Bytes(&byte, 1));
}

// The comparison mode of InStr, StrComp, InStrRev and Replace: 0 compares the characters, 1
// compares without letter case, -1 (the Option Compare setting) and 2 (the database's) compare
// as Jet compares texts, without letter case. Omitted, InStr and StrComp follow the Option
// Compare setting, which in Jet's expressions is the database's; InStrRev and Replace compare
// the characters, as VBA's reference gives their default.
Result<bool> BinaryCompareMode(const Args& a, std::size_t at, bool binary_when_omitted) {
  if (a.size() <= at) return binary_when_omitted;
  if (a[at].is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
  JET_ASSIGN_OR_RETURN(long long mode, WholeArg(a[at]));
  if (mode < -1 || mode > 2) return BadArgument("Vergleichsmodus");
  return mode == 0;
}

// The form in which InStr, InStrRev, Replace and StrComp meet a text. These are VBA's functions
// with VBA's comparison modes, not Jet's text comparison (jet/text/text_compare.h), and differ
// from it by design: they match and compare character by character, so trailing blanks count
// ("a " is found in "xa b", StrComp("a","a ") is -1 while "a" = "a " is True), and the text
// mode folds letter case only, without the General sort order's weights.
std::u32string CompareForm(const std::string& s, bool binary) {
  return CodePoints(binary ? s : FoldCase(s));
}

// Tristate arguments of the Format... functions: -1 True, 0 False, -2 (or omitted) the
// regional setting.
Result<bool> Tristate(const Args& a, std::size_t at, bool regional) {
  if (a.size() <= at) return regional;
  JET_ASSIGN_OR_RETURN(long long t, WholeArg(a[at]));
  if (t == -2) return regional;
  if (t != 0 && t != -1) return BadArgument("Format");
  return t == -1;
}

// FormatNumber, FormatCurrency and FormatPercent under German regional settings: two decimals,
// a leading zero, "." grouping, "-" before negative numbers, the euro sign after the number.
Result<Value> FormatNumeric(const std::string& f, const Args& a) {
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(a[0]));
  int digits = 2;
  if (a.size() > 1) {
    JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[1]));
    if (n < -1 || n > 99) return BadArgument(f);
    if (n >= 0) digits = static_cast<int>(n);
  }
  JET_ASSIGN_OR_RETURN(bool leading, Tristate(a, 2, true));
  JET_ASSIGN_OR_RETURN(bool parens, Tristate(a, 3, false));
  JET_ASSIGN_OR_RETURN(bool group, Tristate(a, 4, true));
  if (f == "formatpercent") d *= 100;
  const double scale = std::pow(10.0, digits);
  const double rounded = std::round(std::fabs(d) * scale) / scale;  // half away from zero
  std::string text = FixedDigits(rounded, digits, group, leading ? 1 : 0);
  if (text.empty() || text.front() == ',') {
    if (leading) text.insert(text.begin(), '0');
  }
  if (f == "formatcurrency") text += " €";
  if (f == "formatpercent") text += "%";
  if (d < 0 && rounded != 0) text = parens ? "(" + text + ")" : "-" + text;
  return Value(text);
}

// FormatDateTime's named formats under German regional settings.
Result<Value> FormatDateTimeOf(const Args& a) {
  JET_ASSIGN_OR_RETURN(double days, ToDateDays(a[0]));
  long long named = 0;
  if (a.size() > 1) {
    JET_ASSIGN_OR_RETURN(named, WholeArg(a[1]));
  }
  const char* format = nullptr;
  switch (named) {
    case 0:
      return Value(*ExprText(Value(DateTime{days})));  // the short date and the long time
    case 1:
      format = "dddd, d. mmmm yyyy";
      break;
    case 2:
      format = "dd/mm/yyyy";
      break;
    case 3:
      format = "hh:nn:ss";
      break;
    case 4:
      format = "hh:nn";
      break;
    default:
      return BadArgument("FormatDateTime");
  }
  JET_ASSIGN_OR_RETURN(std::string s, FormatDate(days, format));
  return Value(s);
}

// Hex and Oct: whole numbers in base 16 or 8; negative numbers in two's complement of 16 bits for
// Byte, Integer and Boolean values, of 32 bits for the others.
Result<Value> InBase(const Args& a, int base) {
  JET_ASSIGN_OR_RETURN(std::int64_t n, RoundToLong(a[0]));
  const bool narrow = a[0].is<std::uint8_t>() || a[0].is<std::int16_t>() || a[0].is<bool>();
  std::uint32_t bits = narrow ? static_cast<std::uint16_t>(n) : static_cast<std::uint32_t>(n);
  std::string out;
  do {
    out.insert(out.begin(), "0123456789ABCDEF"[bits % static_cast<unsigned>(base)]);
    bits /= static_cast<unsigned>(base);
  } while (bits != 0);
  return Value(out);
}

// Partition: the range of `interval` numbers from `start` in which a number falls, as
// "lower:upper", each side padded with blanks to the digits of `stop` plus one.
Result<Value> PartitionOf(const Args& a) {
  JET_ASSIGN_OR_RETURN(long long number, WholeArg(a[0]));
  JET_ASSIGN_OR_RETURN(long long start, WholeArg(a[1]));
  JET_ASSIGN_OR_RETURN(long long stop, WholeArg(a[2]));
  JET_ASSIGN_OR_RETURN(long long interval, WholeArg(a[3]));
  if (start < 0 || stop <= start || interval < 1) return BadArgument("Partition");
  const std::size_t width = std::to_string(stop).size() + 1;
  const auto pad = [&](const std::string& s) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
  };
  std::string lower, upper;
  if (number < start) {
    upper = std::to_string(start - 1);
  } else if (number > stop) {
    lower = std::to_string(stop + 1);
  } else if (interval == 1) {
    lower = upper = std::to_string(number);
  } else {
    const long long low = start + (number - start) / interval * interval;
    lower = std::to_string(low);
    upper = std::to_string(std::min(low + interval - 1, stop));
  }
  return Value(pad(lower) + ":" + pad(upper));
}

// Proper case (StrConv mode 3): the first letter of every word capital, the others small; words
// are separated by Chr(0), tab, line feed, vertical tab, form feed, carriage return and blank.
std::string ProperCase(const std::string& s) {
  std::string out;
  bool word_start = true;
  std::size_t pos = 0;
  while (pos < s.size()) {
    const char32_t c = NextCodePoint(s, pos);
    std::string one;
    AppendUtf8(one, c);
    out += word_start ? UpperCase(one) : FoldCase(one);
    word_start = c == 0 || (c >= 9 && c <= 13) || c == U' ';
  }
  return out;
}

// VBA's type names and VarType numbers of the values the service knows. A GUID is given as the
// text it is read as; binary data as an array of bytes.
const char* TypeNameOf(const Value& v) {
  if (v.is_null()) return "Null";
  if (v.is<bool>()) return "Boolean";
  if (v.is<std::uint8_t>()) return "Byte";
  if (v.is<std::int16_t>()) return "Integer";
  if (v.is<std::int32_t>()) return "Long";
  if (v.is<float>()) return "Single";
  if (v.is<double>()) return "Double";
  if (v.is<Currency>()) return "Currency";
  if (v.is<Decimal>()) return "Decimal";
  if (v.is<DateTime>()) return "Date";
  if (v.is<ByteString>()) return "Byte()";
  return "String";
}

std::int16_t VarTypeOf(const Value& v) {
  constexpr std::int16_t kArray = 8192;
  if (v.is_null()) return 1;
  if (v.is<bool>()) return 11;
  if (v.is<std::uint8_t>()) return 17;
  if (v.is<std::int16_t>()) return 2;
  if (v.is<std::int32_t>()) return 3;
  if (v.is<float>()) return 4;
  if (v.is<double>()) return 5;
  if (v.is<Currency>()) return 6;
  if (v.is<Decimal>()) return 14;
  if (v.is<DateTime>()) return 7;
  if (v.is<ByteString>()) return kArray + 17;
  return 8;
}

// The text of an argument that VBA declares As String: Null there is error 94.
Result<std::string> TextArg(const Value& v) {
  if (v.is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
  return *ExprText(v);
}

Result<Value> Replace(const Args& a) {
  JET_ASSIGN_OR_RETURN(std::string text, TextArg(a[0]));
  JET_ASSIGN_OR_RETURN(std::string find, TextArg(a[1]));
  JET_ASSIGN_OR_RETURN(std::string with, TextArg(a[2]));
  long long start = 1, count = -1;
  if (a.size() > 3) {
    JET_ASSIGN_OR_RETURN(start, WholeArg(a[3]));
    if (start < 1) return BadArgument("Replace");
  }
  if (a.size() > 4) {
    JET_ASSIGN_OR_RETURN(count, WholeArg(a[4]));
    if (count < -1) return BadArgument("Replace");
  }
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompareMode(a, 5, true));
  const std::u32string s = CodePoints(text);
  if (static_cast<std::size_t>(start) > s.size()) return Value(std::string());
  // The result begins at `start`: what lies before it is not returned.
  const std::u32string rest = s.substr(static_cast<std::size_t>(start - 1));
  const std::u32string sought = CodePoints(find), replacement = CodePoints(with);
  if (sought.empty() || count == 0) return Value(Utf8(rest));
  const std::u32string look = CompareForm(Utf8(rest), binary);
  const std::u32string key = CompareForm(find, binary);
  std::u32string out;
  std::size_t at = 0;
  long long done = 0;
  while (count < 0 || done < count) {
    const std::size_t hit = look.find(key, at);
    if (hit == std::u32string::npos) break;
    out += rest.substr(at, hit - at);
    out += replacement;
    at = hit + key.size();
    ++done;
  }
  out += rest.substr(at);
  return Value(Utf8(out));
}

Result<Value> InStrRev(const Args& a) {
  if (a.size() > 2 && a[2].is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
  if (a[0].is_null() || a[1].is_null()) return Value();
  long long start = -1;
  if (a.size() > 2) {
    JET_ASSIGN_OR_RETURN(start, WholeArg(a[2]));
    if (start == 0 || start < -1) return BadArgument("InStrRev");
  }
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompareMode(a, 3, true));
  const std::u32string h = CompareForm(*ExprText(a[0]), binary);
  const std::u32string n = CompareForm(*ExprText(a[1]), binary);
  if (start == -1) start = static_cast<long long>(h.size());
  if (static_cast<std::size_t>(start) > h.size()) return Value(std::int32_t{0});
  if (n.empty()) return Value(static_cast<std::int32_t>(start));
  // A match counts only when its last character lies at or before `start`.
  if (n.size() > static_cast<std::size_t>(start)) return Value(std::int32_t{0});
  const std::size_t at = h.rfind(n, static_cast<std::size_t>(start) - n.size());
  return Value(static_cast<std::int32_t>(at == std::u32string::npos ? 0 : at + 1));
}

// What a function does with Null arguments before it runs; anything else is its own rule.
enum class NullRule {
  kOwn,         // takes Null as a value or decides itself
  kFirstNull,   // Null in the first argument gives Null
  kAnyNull,     // Null in any argument gives Null
  kFirstError,  // Null in the first argument is error 94 (VBA declares it As String or Long)
};

using Impl = Result<Value> (*)(const std::string& f, const Args& a, const ExpressionContext& c);

struct FunctionDef {
  const char* name;  // folded; a trailing "$" is dropped before the look-up
  int min, max;      // argument counts
  NullRule nulls;
  bool varies;  // the value may change between calls with the same arguments
  Impl impl;
};

Result<Value> TextFn(const std::string& f, const Args& a, const ExpressionContext&) {
  return TextFunction(f, a);
}
Result<Value> ConvertFn(const std::string& f, const Args& a, const ExpressionContext&) {
  return Convert(f == "cvdate" ? "cdate" : f, a[0]);
}
Result<Value> MathFn(const std::string& f, const Args& a, const ExpressionContext&) {
  return MathFunction(f, a);
}
Result<Value> ClockFn(const std::string& f, const Args&, const ExpressionContext& c) {
  const double now = NowDays(c);
  const double lin = LinearDays(now);
  const double day = std::floor(lin);
  if (f == "now") return Value(DateTime{now});
  return Value(DateTime{f == "date" ? StoredDays(day) : lin - day});
}
Result<Value> DatePartsFn(const std::string& f, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(double d, ToDateDays(a[0]));
  const DateParts p = Split(d);
  int first_day = 1;
  if (a.size() > 1 && !a[1].is_null()) {
    JET_ASSIGN_OR_RETURN(long long fd, WholeArg(a[1]));
    first_day = fd == 0 ? 2 : static_cast<int>(fd);  // 0: the system's first day, Monday here
    if (first_day < 1 || first_day > 7) return BadArgument("Weekday");
  }
  const long long r = f == "year"     ? p.year
                      : f == "month"  ? p.month
                      : f == "day"    ? p.day
                      : f == "hour"   ? p.hour
                      : f == "minute" ? p.minute
                      : f == "second" ? p.second
                                      : (p.weekday - first_day + 7) % 7 + 1;
  return Value(static_cast<std::int16_t>(r));
}
Result<Value> DateArithmeticFn(const std::string& f, const Args& a, const ExpressionContext&) {
  const std::string interval = Interval(a[0]);
  if (f == "dateadd") {
    if (a[1].is_null() || a[2].is_null()) return Value();
    JET_ASSIGN_OR_RETURN(double n, ExprNumber(a[1]));
    JET_ASSIGN_OR_RETURN(double d, ToDateDays(a[2]));
    return DateAdd(interval, static_cast<long long>(std::trunc(n)), d);
  }
  const std::size_t first_day_at = f == "datepart" ? 2 : 3;
  int first_day = 1;
  if (a.size() > first_day_at && !a[first_day_at].is_null()) {
    JET_ASSIGN_OR_RETURN(long long fd, WholeArg(a[first_day_at]));
    first_day = fd == 0 ? 2 : static_cast<int>(fd);
    if (first_day < 1 || first_day > 7) return BadArgument(f);
  }
  if (f == "datepart") {
    if (a[1].is_null()) return Value();
    JET_ASSIGN_OR_RETURN(double d, ToDateDays(a[1]));
    return DatePartOf(interval, d, first_day);
  }
  if (a[1].is_null() || a[2].is_null()) return Value();
  JET_ASSIGN_OR_RETURN(double d1, ToDateDays(a[1]));
  JET_ASSIGN_OR_RETURN(double d2, ToDateDays(a[2]));
  return DateDiff(interval, d1, d2, first_day);
}
Result<Value> SerialFn(const std::string& f, const Args& a, const ExpressionContext&) {
  for (const Value& v : a) {
    if (v.is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
  }
  JET_ASSIGN_OR_RETURN(long long x, WholeArg(a[0]));
  JET_ASSIGN_OR_RETURN(long long y, WholeArg(a[1]));
  JET_ASSIGN_OR_RETURN(long long z, WholeArg(a[2]));
  if (f == "dateserial") {
    JET_ASSIGN_OR_RETURN(double d, SerialDate(x, y, z));
    return Value(DateTime{StoredDays(d)});
  }
  const double secs = static_cast<double>(x * 3600 + y * 60 + z);
  return Value(DateTime{StoredDays(secs / 86400.0)});
}
Result<Value> InStrFn(const std::string&, const Args& a, const ExpressionContext&) {
  // InStr([start,] text, sought[, compare]); texts compared ignoring letter case.
  std::size_t first = 0;
  long long start = 1;
  if (a.size() >= 3 && !IsText(a[0]) && IsNumeric(a[0])) {
    JET_ASSIGN_OR_RETURN(start, WholeArg(a[0]));
    if (start < 1) return BadArgument("InStr");
    first = 1;
  }
  const Value& hay = a[first];
  const Value& needle = a[first + 1];
  if (hay.is_null() || needle.is_null()) return Value();
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompareMode(a, first + 2, false));
  const std::u32string h = CompareForm(*ExprText(hay), binary);
  const std::u32string n = CompareForm(*ExprText(needle), binary);
  if (static_cast<std::size_t>(start) > h.size() + (n.empty() ? 1 : 0)) {
    return Value(std::int32_t{0});
  }
  const std::size_t at = h.find(n, static_cast<std::size_t>(start - 1));
  return Value(static_cast<std::int32_t>(at == std::u32string::npos ? 0 : at + 1));
}
Result<Value> StrFn(const std::string&, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(double d, ExprNumber(a[0]));
  std::string s = *ExprText(a[0]);
  if (IsText(a[0]) || a[0].is<bool>()) s = FormatGeneral(d, 15);
  for (char& ch : s) {
    if (ch == ',') ch = '.';  // Str always writes a decimal point
  }
  return Value(d >= 0 ? " " + s : s);
}
Result<Value> ChrFn(const std::string& f, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[0]));
  if (f == "chr") {
    if (n < 0 || n > 255) return BadArgument("Chr");
    return Value(AnsiChar(static_cast<int>(n)));
  }
  if (n < -32768 || n > 0xFFFF) return BadArgument("ChrW");
  if (n < 0) n += 0x10000;
  std::string s;
  AppendUtf8(s, static_cast<char32_t>(n));
  return Value(s);
}
Result<Value> AscFn(const std::string& f, const Args& a, const ExpressionContext&) {
  const std::u32string s = CodePoints(*ExprText(a[0]));
  if (s.empty()) return BadArgument(f == "asc" ? "Asc" : "AscW");
  if (f == "asc") {
    const int byte = CodePageByte(s[0]);
    return Value(static_cast<std::int16_t>(byte < 0 ? kAnsiUnmappable : byte));
  }
  // The first UTF-16 unit, as an Integer: units above 32767 are negative.
  const char32_t unit = s[0] > 0xFFFF ? 0xD800 + ((s[0] - 0x10000) >> 10) : s[0];
  return Value(static_cast<std::int16_t>(static_cast<std::uint16_t>(unit)));
}
Result<Value> StringFn(const std::string&, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[0]));
  if (n < 0) return BadArgument("String");
  std::string one;
  if (IsText(a[1])) {
    const std::u32string s = CodePoints(a[1].as<std::string>());
    if (s.empty()) return BadArgument("String");
    AppendUtf8(one, s[0]);
  } else {
    JET_ASSIGN_OR_RETURN(long long code, WholeArg(a[1]));
    one = AnsiChar(static_cast<int>(((code % 256) + 256) % 256));
  }
  std::string out;
  for (long long i = 0; i < n; ++i) out += one;
  return Value(out);
}
Result<Value> ChooseFn(const std::string&, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(long long index, WholeArg(a[0]));
  if (index < 1 || index >= static_cast<long long>(a.size())) return Value();
  return a[static_cast<std::size_t>(index)];
}
Result<Value> SwitchFn(const std::string&, const Args& a, const ExpressionContext&) {
  if (a.size() % 2 != 0) return BadArgument("Switch");
  for (std::size_t i = 0; i + 1 < a.size(); i += 2) {
    if (a[i].is_null()) continue;
    JET_ASSIGN_OR_RETURN(Value yes, ToBoolean(a[i]));
    if (yes.as<bool>()) return a[i + 1];
  }
  return Value();
}
Result<Value> StrCompFn(const std::string&, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompareMode(a, 2, false));
  if (a[0].is_null() || a[1].is_null()) return Value();
  const std::u32string x = CompareForm(*ExprText(a[0]), binary);
  const std::u32string y = CompareForm(*ExprText(a[1]), binary);
  const int c = x.compare(y);
  return Value(static_cast<std::int16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
}
Result<Value> StrConvFn(const std::string&, const Args& a, const ExpressionContext&) {
  if (a[1].is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
  JET_ASSIGN_OR_RETURN(long long mode, WholeArg(a[1]));
  const std::string text = *ExprText(a[0]);
  // The case modes; the East Asian and byte conversions have no meaning for these texts.
  if (mode == 1) return Value(UpperCase(text));
  if (mode == 2) return Value(FoldCase(text));
  if (mode == 3) return Value(ProperCase(text));
  return BadArgument("StrConv");
}
Result<Value> StrReverseFn(const std::string&, const Args& a, const ExpressionContext&) {
  std::u32string s = CodePoints(*ExprText(a[0]));
  std::reverse(s.begin(), s.end());
  return Value(Utf8(s));
}
Result<Value> NamesFn(const std::string& f, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[0]));
  bool abbreviate = false;
  if (a.size() > 1) {
    JET_ASSIGN_OR_RETURN(Value b, ToBoolean(a[1]));
    abbreviate = b.as<bool>();
  }
  if (f == "monthname") {
    if (n < 1 || n > 12) return BadArgument("MonthName");
    return Value(std::string((abbreviate ? kMonthShort : kMonthNames)[n - 1]));
  }
  // WeekdayName counts from the first day of the week, by default the system's: Monday.
  int first_day = 2;
  if (a.size() > 2) {
    JET_ASSIGN_OR_RETURN(long long fd, WholeArg(a[2]));
    if (fd < 0 || fd > 7) return BadArgument("WeekdayName");
    if (fd != 0) first_day = static_cast<int>(fd);
  }
  if (n < 1 || n > 7) return BadArgument("WeekdayName");
  const auto day = static_cast<std::size_t>((n - 1 + first_day - 1) % 7);  // 0 Sunday
  return Value(std::string((abbreviate ? kDayShort : kDayNames)[day]));
}
Result<Value> IsFn(const std::string& f, const Args& a, const ExpressionContext&) {
  const Value& v = a[0];
  if (f == "isnull") return Value(v.is_null());
  if (f == "isempty") return Value(false);  // no value of a row or an expression is Empty
  if (f == "isnumeric") {
    if (v.is_null() || v.is<DateTime>() || v.is<ByteString>() || v.is<Guid>()) return Value(false);
    if (!IsText(v)) return Value(true);
    // A number's text; the words True and False, which arithmetic takes, are not numbers here.
    const std::string word = FoldCase(v.as<std::string>());
    if (word == "wahr" || word == "true" || word == "falsch" || word == "false") {
      return Value(false);
    }
    return Value(ExprNumber(v).ok());
  }
  // isdate
  if (v.is<DateTime>()) return Value(true);
  if (!IsText(v)) return Value(false);
  return Value(ParseDateText(v.as<std::string>()).has_value());
}
Result<Value> ScienceFn(const std::string& f, const Args& a, const ExpressionContext&) {
  JET_ASSIGN_OR_RETURN(double x, ExprNumber(a[0]));
  double r = 0;
  if (f == "sqr") {
    if (x < 0) return BadArgument("Sqr");
    r = std::sqrt(x);
  } else if (f == "exp") {
    r = std::exp(x);
    if (!std::isfinite(r)) return ExprError(ErrorCode::kOverflow);
  } else if (f == "log") {
    if (x <= 0) return BadArgument("Log");
    r = std::log(x);
  } else if (f == "sin") {
    r = std::sin(x);
  } else if (f == "cos") {
    r = std::cos(x);
  } else if (f == "tan") {
    r = std::tan(x);
  } else {
    r = std::atan(x);
  }
  return Value(r);
}

// Jet's expression service offers the VBA function library to defaults and validation rules.
// Each function once: its argument counts, what Null does to it, and its implementation. IIf is
// evaluated by the evaluator (only the branch chosen); its entry gives its argument count.
// The Null rules follow VBA: a function VBA declares to return a String (FormatNumber,
// MonthName, StrReverse, Replace, ...) cannot return Null and fails with error 94 instead.
const FunctionDef kFunctions[] = {
    // Choice.
    {"iif", 3, 3, NullRule::kOwn, false, nullptr},
    {"nz", 1, 2, NullRule::kOwn, false,
     [](const std::string&, const Args& a, const ExpressionContext&) -> Result<Value> {
       if (!a[0].is_null()) return a[0];
       return a.size() > 1 ? a[1] : Value(std::string());
     }},
    {"choose", 2, 255, NullRule::kFirstNull, false, ChooseFn},
    {"switch", 2, 255, NullRule::kOwn, false, SwitchFn},
    // Text.
    {"len", 1, 1, NullRule::kFirstNull, false, TextFn},
    {"left", 2, 2, NullRule::kFirstNull, false, TextFn},
    {"right", 2, 2, NullRule::kFirstNull, false, TextFn},
    {"mid", 2, 3, NullRule::kFirstNull, false, TextFn},
    {"ucase", 1, 1, NullRule::kFirstNull, false, TextFn},
    {"lcase", 1, 1, NullRule::kFirstNull, false, TextFn},
    {"trim", 1, 1, NullRule::kFirstNull, false, TextFn},
    {"ltrim", 1, 1, NullRule::kFirstNull, false, TextFn},
    {"rtrim", 1, 1, NullRule::kFirstNull, false, TextFn},
    {"instr", 2, 4, NullRule::kOwn, false, InStrFn},
    {"instrrev", 2, 4, NullRule::kOwn, false,
     [](const std::string&, const Args& a, const ExpressionContext&) { return InStrRev(a); }},
    {"replace", 3, 6, NullRule::kFirstError, false,
     [](const std::string&, const Args& a, const ExpressionContext&) { return Replace(a); }},
    {"space", 1, 1, NullRule::kFirstError, false,
     [](const std::string&, const Args& a, const ExpressionContext&) -> Result<Value> {
       JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[0]));
       if (n < 0) return BadArgument("Space");
       return Value(std::string(static_cast<std::size_t>(n), ' '));
     }},
    {"string", 2, 2, NullRule::kAnyNull, false, StringFn},
    {"strcomp", 2, 3, NullRule::kOwn, false, StrCompFn},
    {"strconv", 2, 3, NullRule::kFirstNull, false, StrConvFn},
    {"strreverse", 1, 1, NullRule::kFirstError, false, StrReverseFn},
    {"chr", 1, 1, NullRule::kFirstError, false, ChrFn},
    {"chrw", 1, 1, NullRule::kFirstError, false, ChrFn},
    {"asc", 1, 1, NullRule::kFirstError, false, AscFn},
    {"ascw", 1, 1, NullRule::kFirstError, false, AscFn},
    {"format", 1, 4, NullRule::kFirstNull, false,
     [](const std::string&, const Args& a, const ExpressionContext&) { return Format(a); }},
    {"formatnumber", 1, 5, NullRule::kFirstError, false,
     [](const std::string& f, const Args& a, const ExpressionContext&) {
       return FormatNumeric(f, a);
     }},
    {"formatcurrency", 1, 5, NullRule::kFirstError, false,
     [](const std::string& f, const Args& a, const ExpressionContext&) {
       return FormatNumeric(f, a);
     }},
    {"formatpercent", 1, 5, NullRule::kFirstError, false,
     [](const std::string& f, const Args& a, const ExpressionContext&) {
       return FormatNumeric(f, a);
     }},
    {"currentuser", 0, 0, NullRule::kOwn, false,
     [](const std::string&, const Args&, const ExpressionContext&) -> Result<Value> {
       return Value(std::string("Admin"));
     }},
    // Date.
    {"date", 0, 0, NullRule::kOwn, true, ClockFn},
    {"now", 0, 0, NullRule::kOwn, true, ClockFn},
    {"time", 0, 0, NullRule::kOwn, true, ClockFn},
    {"dateserial", 3, 3, NullRule::kOwn, false, SerialFn},
    {"timeserial", 3, 3, NullRule::kOwn, false, SerialFn},
    {"dateadd", 3, 3, NullRule::kOwn, false, DateArithmeticFn},
    {"datediff", 3, 5, NullRule::kOwn, false, DateArithmeticFn},
    {"datepart", 2, 4, NullRule::kOwn, false, DateArithmeticFn},
    {"year", 1, 1, NullRule::kFirstNull, false, DatePartsFn},
    {"month", 1, 1, NullRule::kFirstNull, false, DatePartsFn},
    {"day", 1, 1, NullRule::kFirstNull, false, DatePartsFn},
    {"weekday", 1, 2, NullRule::kFirstNull, false, DatePartsFn},
    {"hour", 1, 1, NullRule::kFirstNull, false, DatePartsFn},
    {"minute", 1, 1, NullRule::kFirstNull, false, DatePartsFn},
    {"second", 1, 1, NullRule::kFirstNull, false, DatePartsFn},
    {"monthname", 1, 2, NullRule::kFirstError, false, NamesFn},
    {"weekdayname", 1, 3, NullRule::kFirstError, false, NamesFn},
    {"formatdatetime", 1, 2, NullRule::kFirstError, false,
     [](const std::string&, const Args& a, const ExpressionContext&) {
       return FormatDateTimeOf(a);
     }},
    // Number.
    {"abs", 1, 1, NullRule::kFirstNull, false, MathFn},
    {"int", 1, 1, NullRule::kFirstNull, false, MathFn},
    {"fix", 1, 1, NullRule::kFirstNull, false, MathFn},
    {"round", 1, 2, NullRule::kFirstNull, false, MathFn},
    {"sgn", 1, 1, NullRule::kFirstNull, false, MathFn},
    {"sqr", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"exp", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"log", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"sin", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"cos", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"tan", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"atn", 1, 1, NullRule::kFirstNull, false, ScienceFn},
    {"hex", 1, 1, NullRule::kFirstNull, false,
     [](const std::string&, const Args& a, const ExpressionContext&) { return InBase(a, 16); }},
    {"oct", 1, 1, NullRule::kFirstNull, false,
     [](const std::string&, const Args& a, const ExpressionContext&) { return InBase(a, 8); }},
    {"partition", 4, 4, NullRule::kAnyNull, false,
     [](const std::string&, const Args& a, const ExpressionContext&) { return PartitionOf(a); }},
    {"genguid", 0, 0, NullRule::kOwn, true,
     [](const std::string&, const Args&, const ExpressionContext&) -> Result<Value> {
       return Value(NewGuid());
     }},
    // Conversion.
    {"val", 1, 1, NullRule::kFirstError, false,
     [](const std::string&, const Args& a, const ExpressionContext&) -> Result<Value> {
       return Value(Val(*ExprText(a[0])));
     }},
    {"str", 1, 1, NullRule::kFirstNull, false, StrFn},
    {"cstr", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"clng", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cint", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cdbl", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"ccur", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cdate", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cbool", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"csng", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cbyte", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cdec", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"datevalue", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"timevalue", 1, 1, NullRule::kFirstError, false, ConvertFn},
    {"cvdate", 1, 1, NullRule::kFirstNull, false, ConvertFn},
    {"cvar", 1, 1, NullRule::kOwn, false,
     [](const std::string&, const Args& a, const ExpressionContext&) -> Result<Value> {
       return a[0];
     }},
    {"isnull", 1, 1, NullRule::kOwn, false, IsFn},
    {"isempty", 1, 1, NullRule::kOwn, false, IsFn},
    {"isnumeric", 1, 1, NullRule::kOwn, false, IsFn},
    {"isdate", 1, 1, NullRule::kOwn, false, IsFn},
    {"typename", 1, 1, NullRule::kOwn, false,
     [](const std::string&, const Args& a, const ExpressionContext&) -> Result<Value> {
       return Value(std::string(TypeNameOf(a[0])));
     }},
    {"vartype", 1, 1, NullRule::kOwn, false,
     [](const std::string&, const Args& a, const ExpressionContext&) -> Result<Value> {
       return Value(VarTypeOf(a[0]));
     }},
};

const FunctionDef* FindFunction(const std::string& folded_name) {
  static const std::map<std::string, const FunctionDef*> kByName = [] {
    std::map<std::string, const FunctionDef*> m;
    for (const FunctionDef& f : kFunctions) m.emplace(f.name, &f);
    return m;
  }();
  auto it = kByName.find(folded_name);
  return it == kByName.end() ? nullptr : it->second;
}

}  // namespace

bool KnownFunction(const std::string& folded_name, bool* varies) {
  const FunctionDef* f = FindFunction(folded_name);
  if (f == nullptr) return false;
  if (varies != nullptr) *varies = f->varies;
  return true;
}

Result<Value> CallFunction(const std::string& name, const Args& a, const ExpressionContext& c) {
  const FunctionDef* f = FindFunction(name);
  if (f == nullptr || f->impl == nullptr) {
    return Status(ErrorCode::kUndefinedFunction, "Unbekannte Funktion '" + name + "'.");
  }
  if (static_cast<int>(a.size()) < f->min || static_cast<int>(a.size()) > f->max) {
    return ExprError(ErrorCode::kInvalidArgument, "Falsche Anzahl an Argumenten für " + name);
  }
  switch (f->nulls) {
    case NullRule::kOwn:
      break;
    case NullRule::kFirstNull:
      if (a[0].is_null()) return Value();
      break;
    case NullRule::kAnyNull:
      for (const Value& v : a) {
        if (v.is_null()) return Value();
      }
      break;
    case NullRule::kFirstError:
      if (a[0].is_null()) return ExprError(ErrorCode::kInvalidUseOfNull);
      break;
  }
  return f->impl(name, a, c);
}

}  // namespace jet
