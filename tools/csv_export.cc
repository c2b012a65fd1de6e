#include "tools/csv_export.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

#include "jet/table/table_scan.h"

namespace inspect {
namespace {

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// mdb-export's date form in the C locale: "%m/%d/%y %H:%M:%S"; values outside [0, 1e6] print as
// an all-zero struct tm, and the rounded seconds never carry into the day.
std::string FormatDate(double value) {
  char buf[64];
  if (!(value >= 0.0 && value <= 1e6)) return "01/00/00 00:00:00";
  const long day = static_cast<long>(value);
  // Rounded as mdb-export rounds, which the output has to match.
  // NOLINTNEXTLINE(bugprone-incorrect-roundings)
  const long secs = static_cast<long>((value - static_cast<double>(day)) * 86400.0 + 0.5);
  const jet::CivilDate date = jet::CivilFromJetDay(day);
  std::snprintf(buf, sizeof buf, "%02u/%02u/%02lld %02ld:%02ld:%02ld", date.month, date.day,
                date.year % 100, secs / 3600, secs / 60 % 60, secs % 60);
  return buf;
}

}  // namespace

std::string CsvField(const jet::Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        char buf[64];
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "1" : "0";
        } else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                             std::is_same_v<T, std::int32_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, jet::Currency>) {
          return jet::FormatCurrency(v);
        } else if constexpr (std::is_same_v<T, float>) {
          std::snprintf(buf, sizeof buf, "%.8g", static_cast<double>(v));
          return buf;
        } else if constexpr (std::is_same_v<T, double>) {
          std::snprintf(buf, sizeof buf, "%.16g", v);
          return buf;
        } else if constexpr (std::is_same_v<T, jet::DateTime>) {
          return Quote(FormatDate(v.days));
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v.empty() ? std::string() : Quote(v);
        } else if constexpr (std::is_same_v<T, jet::ByteString>) {
          if (v.empty()) return "";
          return Quote(std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
        } else if constexpr (std::is_same_v<T, jet::Guid>) {
          std::string g = jet::FormatGuid(v);
          g.erase(24, 1);  // mdb-export prints the last two groups without a hyphen
          return Quote(g);
        } else if constexpr (std::is_same_v<T, jet::Decimal>) {
          return jet::FormatDecimal(v);
        }
      },
      value.storage());
}

namespace {

// mdb-export prints the five bytes Windows-1252 leaves unmapped (read from Jet 3 text as the C1
// controls U+0081, U+008D, U+008F, U+0090, U+009D) as '?'; so does the export of Jet 3 files.
void MaskUnmappedBytes(std::string& field) {
  std::string masked;
  masked.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto lead = static_cast<unsigned char>(field[i]);
    const auto next = i + 1 < field.size() ? static_cast<unsigned char>(field[i + 1]) : 0;
    if (lead == 0xC2 &&
        (next == 0x81 || next == 0x8D || next == 0x8F || next == 0x90 || next == 0x9D)) {
      masked.push_back('?');
      ++i;
    } else {
      masked.push_back(field[i]);
    }
  }
  field = std::move(masked);
}

}  // namespace

jet::Status ExportCsv(const jet::Database& db, const std::string& name, std::ostream& out) {
  JET_ASSIGN_OR_RETURN(auto table, db.GetTable(name));
  for (std::size_t i = 0; i < table->columns.size(); ++i) {
    if (i > 0) out << ',';
    out << table->columns[i].name;
  }
  out << '\n';
  jet::TableScan scan(db, *table);
  const bool jet3 = db.version() == jet::JetVersion::kJet3;
  std::string line;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next());
    if (!more) break;
    line.clear();
    const auto& values = scan.values();
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) line.push_back(',');
      std::string field = CsvField(values[i]);
      if (jet3) MaskUnmappedBytes(field);
      line += field;
    }
    line.push_back('\n');
    out << line;
  }
  return jet::Status::Ok();
}

}  // namespace inspect
