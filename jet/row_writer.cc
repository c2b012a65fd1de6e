#include "jet/row_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/row_reader.h"
#include "jet/unicode.h"

namespace jet {
namespace {

constexpr std::uint8_t kCompressedMarker[] = {0xFF, 0xFE};
constexpr std::uint8_t kDecimalNegative = 0x80;

Status Mismatch(const Column& c, const char* why) {
  return Status(ErrorCode::kInvalidValue,
                "Der Wert passt nicht in die Spalte '" + c.name + "': " + why + ".");
}

void Put(std::vector<std::uint8_t>& out, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

template <typename T>
std::uint64_t Bits(T v) {
  if constexpr (sizeof(T) == 4) {
    std::uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
  } else {
    std::uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
  }
}

std::vector<char16_t> Utf16(std::string_view utf8) {
  std::vector<char16_t> units;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = NextCodePoint(utf8, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  return units;
}

}  // namespace

std::vector<std::uint8_t> EncodeJet4Text(std::string_view utf8, bool compress) {
  const std::vector<char16_t> units = Utf16(utf8);
  std::vector<std::uint8_t> out;
  // Compression must save space: the two marker bytes pay off from three characters on.
  const bool compressible =
      compress && units.size() > sizeof kCompressedMarker &&
      std::all_of(units.begin(), units.end(), [](char16_t u) { return u >= 1 && u <= 0xFF; });
  if (compressible) {
    out.assign(std::begin(kCompressedMarker), std::end(kCompressedMarker));
    for (char16_t u : units) out.push_back(static_cast<std::uint8_t>(u));
    return out;
  }
  out.reserve(units.size() * 2);
  for (char16_t u : units) Put(out, u, 2);
  return out;
}

Result<std::vector<std::uint8_t>> EncodeColumnData(const Column& c, const Value& v) {
  std::vector<std::uint8_t> out;
  switch (c.type()) {
    case ColumnType::kByte:
      if (!v.is<std::uint8_t>()) return Mismatch(c, "Byte erwartet");
      Put(out, v.as<std::uint8_t>(), 1);
      break;
    case ColumnType::kInteger:
      if (!v.is<std::int16_t>()) return Mismatch(c, "Integer erwartet");
      Put(out, static_cast<std::uint16_t>(v.as<std::int16_t>()), 2);
      break;
    case ColumnType::kLong:
      if (!v.is<std::int32_t>()) return Mismatch(c, "Long erwartet");
      Put(out, static_cast<std::uint32_t>(v.as<std::int32_t>()), 4);
      break;
    case ColumnType::kCurrency:
      if (!v.is<Currency>()) return Mismatch(c, "Currency erwartet");
      Put(out, static_cast<std::uint64_t>(v.as<Currency>().scaled), 8);
      break;
    case ColumnType::kSingle:
      if (!v.is<float>()) return Mismatch(c, "Single erwartet");
      Put(out, Bits(v.as<float>()), 4);
      break;
    case ColumnType::kDouble:
      if (!v.is<double>()) return Mismatch(c, "Double erwartet");
      Put(out, Bits(v.as<double>()), 8);
      break;
    case ColumnType::kDateTime:
      if (!v.is<DateTime>()) return Mismatch(c, "Datum/Zeit erwartet");
      Put(out, Bits(v.as<DateTime>().days), 8);
      break;
    case ColumnType::kGuid:
      if (!v.is<Guid>()) return Mismatch(c, "GUID erwartet");
      out.assign(v.as<Guid>().bytes.begin(), v.as<Guid>().bytes.end());
      break;
    case ColumnType::kDecimal: {
      if (!v.is<Decimal>()) return Mismatch(c, "Dezimalzahl erwartet");
      const Decimal& d = v.as<Decimal>();
      out.push_back(d.negative ? kDecimalNegative : 0);
      Put(out, static_cast<std::uint32_t>(d.high >> 32), 4);
      Put(out, static_cast<std::uint32_t>(d.high), 4);
      Put(out, static_cast<std::uint32_t>(d.low >> 32), 4);
      Put(out, static_cast<std::uint32_t>(d.low), 4);
      break;
    }
    case ColumnType::kText:
      if (!v.is<std::string>()) return Mismatch(c, "Text erwartet");
      out = EncodeJet4Text(v.as<std::string>(), c.compressed_unicode());
      break;
    case ColumnType::kBinary:
    case ColumnType::kBinaryData:
      if (!v.is<ByteString>()) return Mismatch(c, "Binärdaten erwartet");
      out = v.as<ByteString>();
      break;
    default:
      return Mismatch(c, "Spaltentyp ohne eigene Daten in der Zeile");
  }
  if (c.fixed()) {
    const std::size_t size = FixedSize(c);
    if (out.size() > size) return Mismatch(c, "zu lang");
    out.resize(size, 0);
  } else if (out.size() > c.length) {
    return Mismatch(c, "zu lang");
  }
  return out;
}

Result<std::vector<std::uint8_t>> EncodeRow(const Format& f, const TableDef& t,
                                            const std::vector<Value>& values,
                                            const std::vector<ByteString>& long_fields) {
  if (f.version != JetVersion::kJet4) {
    return Status(ErrorCode::kNotSupported, "Jet-3-Datenbanken können nicht geschrieben werden.");
  }
  if (values.size() != t.columns.size() || long_fields.size() != t.columns.size()) {
    return Status(ErrorCode::kInvalidValue,
                  "Die Zeile hat nicht so viele Werte wie die Tabelle '" + t.name + "' Spalten.");
  }
  std::size_t row_columns = 0;
  std::size_t fixed_size = 0;
  std::size_t var_count = 0;
  for (const Column& c : t.columns) {
    row_columns = std::max<std::size_t>(row_columns, std::size_t{c.number} + 1);
    if (c.type() == ColumnType::kBoolean) continue;
    if (c.fixed()) {
      fixed_size = std::max(fixed_size, std::size_t{c.fixed_offset} + FixedSize(c));
    } else {
      var_count = std::max<std::size_t>(var_count, std::size_t{c.var_index} + 1);
    }
  }
  row_columns = std::max<std::size_t>(row_columns, t.max_cols);

  std::vector<std::uint8_t> row(f.row_count_size + fixed_size, 0);
  row[0] = static_cast<std::uint8_t>(row_columns);
  row[1] = static_cast<std::uint8_t>(row_columns >> 8);
  std::vector<std::uint8_t> mask((row_columns + 7) / 8, 0);
  std::vector<const std::vector<std::uint8_t>*> var_data(var_count, nullptr);
  std::vector<std::vector<std::uint8_t>> encoded(t.columns.size());

  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    const Value& v = values[i];
    if (c.type() == ColumnType::kBoolean) {
      if (!v.is_null() && !v.is<bool>()) return Mismatch(c, "Ja/Nein erwartet");
      if (!v.is_null() && v.as<bool>())
        mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
      continue;
    }
    if (v.is_null()) continue;
    mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    if (c.long_value()) {
      encoded[i] = long_fields[i];
    } else {
      JET_ASSIGN_OR_RETURN(encoded[i], EncodeColumnData(c, v));
    }
    if (c.fixed()) {
      std::copy(encoded[i].begin(), encoded[i].end(),
                row.begin() + static_cast<std::ptrdiff_t>(f.row_count_size + c.fixed_offset));
    } else {
      var_data[c.var_index] = &encoded[i];
    }
  }

  if (t.var_cols > 0) {
    std::vector<std::size_t> offsets;
    offsets.reserve(var_count + 1);
    for (std::size_t k = 0; k < var_count; ++k) {
      offsets.push_back(row.size());
      if (var_data[k] != nullptr) row.insert(row.end(), var_data[k]->begin(), var_data[k]->end());
    }
    offsets.push_back(row.size());
    for (std::size_t k = offsets.size(); k-- > 0;) Put(row, offsets[k], 2);
    Put(row, var_count, 2);
  }
  row.insert(row.end(), mask.begin(), mask.end());
  if (row.size() > f.page_size - f.data_row_table_offset - 2) {
    return Status(ErrorCode::kInvalidValue,
                  "Die Zeile ist zu groß für eine Seite der Tabelle '" + t.name + "'.");
  }
  return row;
}

}  // namespace jet
