// Dates of the expression service: the stored day numbers and the texts read as dates, shared by
// the parser (date literals), the evaluator and the functions.
#pragma once

#include <optional>
#include <string_view>

namespace jet {

// Days as Jet stores them <-> a line on which times add: Jet keeps the time of days before
// 1899-12-30 as a positive fraction after a negative day number.
double LinearDays(double stored);
double StoredDays(double linear);

// A date literal's text as Access stores it (m/d/yyyy or yyyy-mm-dd, each with an optional time
// h:nn[:ss] [AM|PM], or a time alone), as stored days.
std::optional<double> ParseDateLiteralText(std::string_view text);

// ParseDateText(), which reads a text the way CDate does, is declared in expression.h.

}  // namespace jet
