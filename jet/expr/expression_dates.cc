#include "jet/expr/expression_dates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/expr/expression.h"
#include "jet/text/unicode.h"

namespace jet {

double LinearDays(double stored) {
  if (stored >= 0) return stored;
  const double whole = std::trunc(stored);
  return whole + std::fabs(stored - whole);
}

double StoredDays(double linear) {
  if (linear >= 0) return linear;
  const double whole = std::floor(linear);
  const double time = linear - whole;
  return time == 0 ? whole : whole - time;
}

// A date literal as Access stores it: #m/d/yyyy#, #m/d/yyyy h:nn:ss#, with AM/PM, #yyyy-mm-dd#
// forms, or a time alone. Two-digit years: 00-29 are 20xx, 30-99 19xx.
std::optional<double> ParseDateLiteralText(std::string_view text) {
  std::string s(text);
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  int a = 0, b = 0, y = 0;
  int h = 0, mi = 0, se = 0;
  int pos = 0;
  double days = 0;
  bool have_date = false;
  const char* p = s.c_str();
  if (std::sscanf(p, "%d-%d-%d%n", &y, &a, &b, &pos) == 3 && y >= 100) {
    have_date = true;  // y-m-d: a is the month, b the day
    if (a < 1 || a > 12 || b < 1 || b > 31) return std::nullopt;
    days =
        static_cast<double>(JetDayFromCivil(y, static_cast<unsigned>(a), static_cast<unsigned>(b)));
  } else if (std::sscanf(p, "%d/%d/%d%n", &a, &b, &y, &pos) == 3) {
    have_date = true;
    if (y < 100) y += y < 30 ? 2000 : 1900;
    if (a < 1 || a > 12 || b < 1 || b > 31) return std::nullopt;
    days =
        static_cast<double>(JetDayFromCivil(y, static_cast<unsigned>(a), static_cast<unsigned>(b)));
  } else {
    pos = 0;
  }
  std::string rest = s.substr(static_cast<std::size_t>(pos));
  while (!rest.empty() && rest.front() == ' ') rest.erase(rest.begin());
  if (rest.empty()) return have_date ? std::optional<double>(days) : std::nullopt;
  int consumed = 0;
  const int n = std::sscanf(rest.c_str(), "%d:%d%n:%d%n", &h, &mi, &consumed, &se, &consumed);
  if (n < 2) return std::nullopt;
  std::string ampm = rest.substr(static_cast<std::size_t>(consumed));
  while (!ampm.empty() && ampm.front() == ' ') ampm.erase(ampm.begin());
  const std::string folded = FoldCase(ampm);
  if (folded == "pm" || folded == "am") {
    if (h < 1 || h > 12) return std::nullopt;
    h = h % 12 + (folded == "pm" ? 12 : 0);
  } else if (!folded.empty()) {
    return std::nullopt;
  }
  if (h > 23 || mi > 59 || se > 59 || h < 0 || mi < 0 || se < 0) return std::nullopt;
  const double time = (h * 3600 + mi * 60 + se) / 86400.0;
  return StoredDays(LinearDays(days) + time);
}

namespace {

// A month's number from its German or English name, full or cut to three letters ("Mrz" too).
int MonthOfName(const std::string& word) {
  static const char* const kNames[][3] = {{"januar", "january", "jan"},
                                          {"februar", "february", "feb"},
                                          {"märz", "march", "mrz"},
                                          {"april", "april", "apr"},
                                          {"mai", "may", "mai"},
                                          {"juni", "june", "jun"},
                                          {"juli", "july", "jul"},
                                          {"august", "august", "aug"},
                                          {"september", "september", "sep"},
                                          {"oktober", "october", "okt"},
                                          {"november", "november", "nov"},
                                          {"dezember", "december", "dez"}};
  const std::string w = FoldCase(word);
  for (int m = 0; m < 12; ++m) {
    for (const char* name : kNames[m]) {
      if (w == name || (w.size() == 3 && std::string_view(name).substr(0, 3) == w)) return m + 1;
    }
  }
  return 0;
}

// "28. April 2014", "28 Apr 2014" or "April 28, 2014" (a time may follow): the date with the
// month named; nullopt for any other text.
std::optional<double> NamedMonthDate(const std::string& s) {
  std::vector<std::string> words;
  std::string cur;
  std::size_t i = 0;
  for (; i < s.size() && words.size() < 3; ++i) {
    const char c = s[i];
    if (c == ' ' || c == ',' || c == '.') {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty() && words.size() < 3) words.push_back(cur), cur.clear();
  if (words.size() != 3) return std::nullopt;
  const auto number = [](const std::string& w) {
    int n = 0;
    for (char c : w) {
      if (c < '0' || c > '9' || n > 100000) return -1;
      n = n * 10 + (c - '0');
    }
    return w.empty() ? -1 : n;
  };
  int day = number(words[0]), month = MonthOfName(words[1]);
  if (month == 0) {
    month = MonthOfName(words[0]);
    day = number(words[1]);
  }
  int year = number(words[2]);
  if (month == 0 || day < 1 || day > 31 || year < 0) return std::nullopt;
  if (year < 100) year += year < 30 ? 2000 : 1900;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", month, day, year);
  return ParseDateLiteralText(std::string(buf) + " " + s.substr(std::min(i, s.size())));
}

}  // namespace

std::optional<double> ParseDateText(std::string_view text) {
  std::string s(text);
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  int d = 0, m = 0, y = 0, pos = 0;
  if (std::sscanf(s.c_str(), "%d.%d.%d%n", &d, &m, &y, &pos) == 3) {
    if (static_cast<std::size_t>(pos) == s.size() && (m < 1 || m > 12) && d >= 0 && d < 24 &&
        m >= 0 && m < 60 && y >= 0 && y < 60 && s.find(' ') == std::string::npos) {
      return (d * 3600 + m * 60 + y) / 86400.0;  // no date: a time written h.nn.ss
    }
    if (y < 100) y += y < 30 ? 2000 : 1900;
    if (m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    // The rest is a time, in the stored form's syntax.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d/%d", m, d, y);
    return ParseDateLiteralText(std::string(buf) + s.substr(static_cast<std::size_t>(pos)));
  }
  if (auto named = NamedMonthDate(s)) return named;
  return ParseDateLiteralText(s);
}

}  // namespace jet
