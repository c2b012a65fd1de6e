#include "jet/table/row_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/base/byte_writer.h"
#include "jet/table/row_reader.h"
#include "jet/text/text_codec.h"

namespace jet {
namespace {

constexpr std::uint8_t kDecimalNegative = 0x80;

Status Mismatch(const Column& c, const char* why) {
  return Status(ErrorCode::kInvalidValue,
                "Der Wert passt nicht in die Spalte '" + c.name + "': " + why + ".");
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

// Writes a number of the column's own kind little-endian at `at` in `row` (inside its fixed
// part). False, writing nothing, for any other column or value: the caller takes the general
// path, which also names a mismatch.
bool PutFixedNumber(const Column& c, const Value& v, ByteString& row, std::size_t at) {
  ByteWriter out(row);
  switch (c.type()) {
    case ColumnType::kByte:
      if (!v.is<std::uint8_t>()) return false;
      out.Put8(at, v.as<std::uint8_t>());
      break;
    case ColumnType::kInteger:
      if (!v.is<std::int16_t>()) return false;
      out.Put16(at, static_cast<std::uint16_t>(v.as<std::int16_t>()));
      break;
    case ColumnType::kLong:
      if (!v.is<std::int32_t>()) return false;
      out.Put32(at, static_cast<std::uint32_t>(v.as<std::int32_t>()));
      break;
    case ColumnType::kCurrency:
      if (!v.is<Currency>()) return false;
      out.Put64(at, static_cast<std::uint64_t>(v.as<Currency>().scaled));
      break;
    case ColumnType::kSingle:
      if (!v.is<float>()) return false;
      out.Put32(at, static_cast<std::uint32_t>(Bits(v.as<float>())));
      break;
    case ColumnType::kDouble:
      if (!v.is<double>()) return false;
      out.Put64(at, Bits(v.as<double>()));
      break;
    case ColumnType::kDateTime:
      if (!v.is<DateTime>()) return false;
      out.Put64(at, Bits(v.as<DateTime>().days));
      break;
    default:
      return false;
  }
  return out.ok();
}

}  // namespace

Status AppendColumnData(const Column& c, const Value& v, ByteString& out) {
  const std::size_t start = out.size();
  switch (c.type()) {
    case ColumnType::kByte:
      if (!v.is<std::uint8_t>()) return Mismatch(c, "Byte erwartet");
      ByteWriter(out).Append8(v.as<std::uint8_t>());
      break;
    case ColumnType::kInteger:
      if (!v.is<std::int16_t>()) return Mismatch(c, "Integer erwartet");
      ByteWriter(out).Append16(static_cast<std::uint16_t>(v.as<std::int16_t>()));
      break;
    case ColumnType::kLong:
      if (!v.is<std::int32_t>()) return Mismatch(c, "Long erwartet");
      ByteWriter(out).Append32(static_cast<std::uint32_t>(v.as<std::int32_t>()));
      break;
    case ColumnType::kCurrency:
      if (!v.is<Currency>()) return Mismatch(c, "Currency erwartet");
      ByteWriter(out).Append64(static_cast<std::uint64_t>(v.as<Currency>().scaled));
      break;
    case ColumnType::kSingle:
      if (!v.is<float>()) return Mismatch(c, "Single erwartet");
      ByteWriter(out).Append32(static_cast<std::uint32_t>(Bits(v.as<float>())));
      break;
    case ColumnType::kDouble:
      if (!v.is<double>()) return Mismatch(c, "Double erwartet");
      ByteWriter(out).Append64(Bits(v.as<double>()));
      break;
    case ColumnType::kDateTime:
      if (!v.is<DateTime>()) return Mismatch(c, "Datum/Zeit erwartet");
      ByteWriter(out).Append64(Bits(v.as<DateTime>().days));
      break;
    case ColumnType::kGuid:
      if (!v.is<Guid>()) return Mismatch(c, "GUID erwartet");
      out.insert(out.end(), v.as<Guid>().bytes.begin(), v.as<Guid>().bytes.end());
      break;
    case ColumnType::kDecimal: {
      if (!v.is<Decimal>()) return Mismatch(c, "Dezimalzahl erwartet");
      const Decimal& d = v.as<Decimal>();
      out.push_back(d.negative ? kDecimalNegative : 0);
      ByteWriter words(out);
      words.Append32(static_cast<std::uint32_t>(d.high >> 32));
      words.Append32(static_cast<std::uint32_t>(d.high));
      words.Append32(static_cast<std::uint32_t>(d.low >> 32));
      words.Append32(static_cast<std::uint32_t>(d.low));
      break;
    }
    case ColumnType::kText:
      if (!v.is<std::string>()) return Mismatch(c, "Text erwartet");
      AppendJet4Text(v.as<std::string>(), c.compressed_unicode(), out);
      break;
    case ColumnType::kBinary:
    case ColumnType::kBinaryData:
      if (!v.is<ByteString>()) return Mismatch(c, "Binärdaten erwartet");
      out.insert(out.end(), v.as<ByteString>().begin(), v.as<ByteString>().end());
      break;
    default:
      return Mismatch(c, "Spaltentyp ohne eigene Daten in der Zeile");
  }
  const std::size_t written = out.size() - start;
  if (c.fixed()) {
    const std::size_t size = FixedSize(c);
    if (written > size) return Mismatch(c, "zu lang");
    out.resize(start + size, 0);
  } else if (written > c.length) {
    return Mismatch(c, "zu lang");
  }
  return Status::Ok();
}

Result<std::vector<std::uint8_t>> EncodeColumnData(const Column& c, const Value& v) {
  ByteString out;
  JET_RETURN_IF_ERROR(AppendColumnData(c, v, out));
  return out;
}

Result<std::vector<std::uint8_t>> EncodeRow(const Format& f, const TableDef& t,
                                            const std::vector<Value>& values,
                                            const std::vector<ByteString>& long_fields) {
  RowEncoder encoder;
  std::vector<std::uint8_t> row;
  JET_RETURN_IF_ERROR(encoder.Encode(f, t, values, long_fields, row));
  return row;
}

const RowEncoder::Layout& RowEncoder::LayoutOf(const TableDef& t) {
  if (layout_.table == &t && layout_.columns == t.columns.size()) return layout_;
  Layout layout;
  layout.table = &t;
  layout.columns = t.columns.size();
  for (const Column& c : t.columns) {
    layout.row_columns = std::max<std::size_t>(layout.row_columns, std::size_t{c.number} + 1);
    if (c.type() == ColumnType::kBoolean) continue;
    if (c.fixed()) {
      layout.fixed_size = std::max(layout.fixed_size, std::size_t{c.fixed_offset} + FixedSize(c));
    } else {
      layout.var_count = std::max<std::size_t>(layout.var_count, std::size_t{c.var_index} + 1);
    }
  }
  layout.row_columns = std::max<std::size_t>(layout.row_columns, t.max_cols);
  layout.numbers_only = t.var_cols == 0 && layout.var_count == 0 &&
                        std::all_of(t.columns.begin(), t.columns.end(), [](const Column& c) {
                          return c.type() == ColumnType::kBoolean || IsFixedNumber(c);
                        });
  layout_ = layout;
  return layout_;
}

bool RowEncoder::EncodeNumbers(const Format& f, const TableDef& t, const Layout& layout,
                               const std::vector<Value>& values, std::vector<std::uint8_t>& row) {
  // count (row_count_size bytes), the fixed part, the null mask
  const std::size_t mask_size = (layout.row_columns + 7) / 8;
  const std::size_t mask_at = f.row_count_size + layout.fixed_size;
  row.assign(mask_at + mask_size, 0);
  if (row.size() > f.page_size - f.data_row_table_offset - 2) return false;
  ByteWriter(row).Put16(0, static_cast<std::uint16_t>(layout.row_columns));
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    const Value& v = values[i];
    if (v.is_null()) continue;
    if (c.type() == ColumnType::kBoolean) {
      if (!v.is<bool>()) return false;
      if (!v.as<bool>()) continue;
    } else if (!PutFixedNumber(c, v, row, f.row_count_size + c.fixed_offset)) {
      return false;
    }
    row[mask_at + c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
  }
  return true;
}

Status RowEncoder::Encode(const Format& f, const TableDef& t, const std::vector<Value>& values,
                          const std::vector<ByteString>& long_fields,
                          std::vector<std::uint8_t>& row) {
  if (f.version != JetVersion::kJet4) {
    return Status(ErrorCode::kNotSupported, "Jet-3-Datenbanken können nicht geschrieben werden.");
  }
  if (values.size() != t.columns.size() || long_fields.size() != t.columns.size()) {
    return Status(ErrorCode::kInvalidValue,
                  "Die Zeile hat nicht so viele Werte wie die Tabelle '" + t.name + "' Spalten.");
  }
  const Layout& layout = LayoutOf(t);
  if (layout.numbers_only && EncodeNumbers(f, t, layout, values, row)) return Status::Ok();
  const std::size_t row_columns = layout.row_columns;
  const std::size_t var_count = layout.var_count;

  row.assign(f.row_count_size + layout.fixed_size, 0);
  ByteWriter(row).Put16(0, static_cast<std::uint16_t>(row_columns));
  mask_.assign((row_columns + 7) / 8, 0);
  // Variable columns' bytes in column order, placed in the row in the order of their slots.
  var_bytes_.clear();
  var_ranges_.assign(var_count, {0, 0});
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    const Value& v = values[i];
    if (c.type() == ColumnType::kBoolean) {
      if (!v.is_null() && !v.is<bool>()) return Mismatch(c, "Ja/Nein erwartet");
      if (!v.is_null() && v.as<bool>())
        mask_[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
      continue;
    }
    if (v.is_null()) continue;
    mask_[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    // Numbers go straight to their place in the fixed part.
    if (c.fixed() && PutFixedNumber(c, v, row, f.row_count_size + c.fixed_offset)) continue;
    ByteString& out = c.fixed() ? fixed_ : var_bytes_;
    const std::size_t start = out.size();
    if (c.long_value()) {
      out.insert(out.end(), long_fields[i].begin(), long_fields[i].end());
    } else {
      JET_RETURN_IF_ERROR(AppendColumnData(c, v, out));
    }
    if (c.fixed()) {
      std::copy(fixed_.begin(), fixed_.end(),
                row.begin() + static_cast<std::ptrdiff_t>(f.row_count_size + c.fixed_offset));
      fixed_.clear();
    } else {
      var_ranges_[c.var_index] = {start, out.size()};
    }
  }
  if (t.var_cols > 0) {
    offsets_.clear();
    row.reserve(row.size() + var_bytes_.size() + 2 * var_count + 4 + mask_.size());
    for (std::size_t k = 0; k < var_count; ++k) {
      offsets_.push_back(row.size());
      const auto [begin, end] = var_ranges_[k];
      row.insert(row.end(), var_bytes_.begin() + static_cast<std::ptrdiff_t>(begin),
                 var_bytes_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    offsets_.push_back(row.size());
    ByteWriter tail(row);
    for (std::size_t k = offsets_.size(); k-- > 0;) {
      tail.Append16(static_cast<std::uint16_t>(offsets_[k]));
    }
    tail.Append16(static_cast<std::uint16_t>(var_count));
  }
  row.insert(row.end(), mask_.begin(), mask_.end());
  if (row.size() > f.page_size - f.data_row_table_offset - 2) {
    return Status(ErrorCode::kInvalidValue,
                  "Die Zeile ist zu groß für eine Seite der Tabelle '" + t.name + "'.");
  }
  return Status::Ok();
}

}  // namespace jet
