// The built-in functions of the expression service that defaults and validation rules use.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "jet/decimal_convert.h"
#include "jet/expression_node.h"
#include "jet/text_codec.h"
#include "jet/unicode.h"

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
  const std::string f = format;
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

// The argument counts a function takes.
struct Arity {
  int min, max;
  bool varies;
};

const std::map<std::string, Arity>& Functions() {
  static const std::map<std::string, Arity> kFunctions = {
      {"date", {0, 0, true}},        {"now", {0, 0, true}},          {"time", {0, 0, true}},
      {"dateserial", {3, 3, false}}, {"timeserial", {3, 3, false}},  {"dateadd", {3, 3, false}},
      {"datediff", {3, 5, false}},   {"datepart", {2, 4, false}},    {"year", {1, 1, false}},
      {"month", {1, 1, false}},      {"day", {1, 1, false}},         {"weekday", {1, 2, false}},
      {"hour", {1, 1, false}},       {"minute", {1, 1, false}},      {"second", {1, 1, false}},
      {"format", {1, 4, false}},     {"len", {1, 1, false}},         {"left", {2, 2, false}},
      {"right", {2, 2, false}},      {"mid", {2, 3, false}},         {"instr", {2, 4, false}},
      {"ucase", {1, 1, false}},      {"lcase", {1, 1, false}},       {"trim", {1, 1, false}},
      {"ltrim", {1, 1, false}},      {"rtrim", {1, 1, false}},       {"nz", {1, 2, false}},
      {"iif", {3, 3, false}},        {"val", {1, 1, false}},         {"str", {1, 1, false}},
      {"cstr", {1, 1, false}},       {"clng", {1, 1, false}},        {"cint", {1, 1, false}},
      {"cdbl", {1, 1, false}},       {"ccur", {1, 1, false}},        {"cdate", {1, 1, false}},
      {"cbool", {1, 1, false}},      {"csng", {1, 1, false}},        {"cbyte", {1, 1, false}},
      {"cdec", {1, 1, false}},       {"abs", {1, 1, false}},         {"int", {1, 1, false}},
      {"fix", {1, 1, false}},        {"round", {1, 2, false}},       {"sgn", {1, 1, false}},
      {"genguid", {0, 0, true}},     {"currentuser", {0, 0, false}}, {"isnull", {1, 1, false}},
      {"space", {1, 1, false}},      {"chr", {1, 1, false}},         {"asc", {1, 1, false}},
      {"datevalue", {1, 1, false}},  {"timevalue", {1, 1, false}},
  };
  return kFunctions;
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

}  // namespace

bool KnownFunction(const std::string& folded_name, bool* varies) {
  auto it = Functions().find(folded_name);
  if (it == Functions().end()) return false;
  if (varies != nullptr) *varies = it->second.varies;
  return true;
}

Result<Value> CallFunction(const std::string& f, const Args& a, const ExpressionContext& c) {
  auto it = Functions().find(f);
  if (it == Functions().end()) {
    return Status(ErrorCode::kUndefinedFunction, "Unbekannte Funktion '" + f + "'.");
  }
  if (static_cast<int>(a.size()) < it->second.min || static_cast<int>(a.size()) > it->second.max) {
    return ExprError(ErrorCode::kInvalidArgument, "Falsche Anzahl an Argumenten für " + f);
  }
  if (f == "now" || f == "date" || f == "time") {
    const double now = NowDays(c);
    const double lin = LinearDays(now);
    const double day = std::floor(lin);
    if (f == "now") return Value(DateTime{now});
    return Value(DateTime{f == "date" ? StoredDays(day) : lin - day});
  }
  if (f == "genguid") return Value(NewGuid());
  if (f == "currentuser") return Value(std::string("Admin"));
  if (f == "nz") {
    if (!a[0].is_null()) return a[0];
    return a.size() > 1 ? a[1] : Value(std::string());
  }
  if (f == "isnull") return Value(a[0].is_null());
  if (f == "format") return Format(a);
  if (f == "len" || f == "left" || f == "right" || f == "mid" || f == "ucase" || f == "lcase" ||
      f == "trim" || f == "ltrim" || f == "rtrim") {
    return TextFunction(f, a);
  }
  if (f == "cstr" || f == "clng" || f == "cint" || f == "cdbl" || f == "ccur" || f == "cdate" ||
      f == "cbool" || f == "csng" || f == "cbyte" || f == "cdec" || f == "datevalue" ||
      f == "timevalue") {
    return Convert(f, a[0]);
  }
  if (f == "abs" || f == "int" || f == "fix" || f == "round" || f == "sgn") {
    return MathFunction(f, a);
  }
  if (f == "val") {
    if (a[0].is_null()) {
      return ExprError(ErrorCode::kInvalidUseOfNull);
    }
    return Value(Val(*ExprText(a[0])));
  }
  if (f == "str") {
    if (a[0].is_null()) return Value();
    JET_ASSIGN_OR_RETURN(double d, ExprNumber(a[0]));
    std::string s = *ExprText(a[0]);
    if (IsText(a[0]) || a[0].is<bool>()) s = FormatGeneral(d, 15);
    for (char& ch : s) {
      if (ch == ',') ch = '.';  // Str always writes a decimal point
    }
    return Value(d >= 0 ? " " + s : s);
  }
  if (f == "space") {
    JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[0]));
    if (n < 0) return BadArgument("Space");
    return Value(std::string(static_cast<std::size_t>(n), ' '));
  }
  if (f == "chr") {
    JET_ASSIGN_OR_RETURN(long long n, WholeArg(a[0]));
    if (n < 0 || n > 0xFFFF) return BadArgument("Chr");
    std::string s;
    AppendUtf8(s, static_cast<char32_t>(n));
    return Value(s);
  }
  if (f == "asc") {
    if (a[0].is_null()) {
      return ExprError(ErrorCode::kInvalidUseOfNull);
    }
    const std::u32string s = CodePoints(*ExprText(a[0]));
    if (s.empty()) return BadArgument("Asc");
    return Value(static_cast<std::int32_t>(s[0]));
  }
  if (f == "instr") {
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
    bool binary = false;
    if (a.size() > first + 2) {
      JET_ASSIGN_OR_RETURN(long long mode, WholeArg(a[first + 2]));
      binary = mode == 0;
    }
    std::u32string h = CodePoints(binary ? *ExprText(hay) : FoldCase(*ExprText(hay)));
    std::u32string n = CodePoints(binary ? *ExprText(needle) : FoldCase(*ExprText(needle)));
    if (static_cast<std::size_t>(start) > h.size() + (n.empty() ? 1 : 0)) {
      return Value(std::int32_t{0});
    }
    const std::size_t at = h.find(n, static_cast<std::size_t>(start - 1));
    return Value(static_cast<std::int32_t>(at == std::u32string::npos ? 0 : at + 1));
  }
  if (f == "dateserial" || f == "timeserial") {
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
  // Date parts and date arithmetic.
  if (f == "year" || f == "month" || f == "day" || f == "hour" || f == "minute" || f == "second" ||
      f == "weekday") {
    if (a[0].is_null()) return Value();
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
  if (f == "datepart" || f == "dateadd" || f == "datediff") {
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
  return Status(ErrorCode::kUndefinedFunction, "Unbekannte Funktion '" + f + "'.");
}

}  // namespace jet
