#include "jet/table/row_reader.h"

#include <cstring>
#include <string>

#include "jet/page/long_value.h"
#include "jet/text/text_codec.h"

namespace jet {
namespace {

constexpr std::uint8_t kDecimalNegative = 0x80;
constexpr std::size_t kJet3JumpSpan = 256;

Status Corrupt(const TableDef& t, const std::string& why) {
  return Status::Corrupt("Beschädigte Zeile in Tabelle '" + t.name + "': " + why + ".");
}

}  // namespace

namespace {

std::string DecodeText(const PageStore& store, Bytes data) {
  return store.format().unicode_text ? DecodeJet4Text(data) : DecodeCodePage(data);
}

}  // namespace

Result<Value> DecodeColumnData(const PageStore& store, const Column& c, Bytes data) {
  ByteReader in(data);
  const auto need = [&](std::size_t n) -> Status {
    if (data.size() < n) {
      return Status::Corrupt("Beschädigter Wert in Spalte '" + c.name +
                             "': " + std::to_string(data.size()) + " statt " + std::to_string(n) +
                             " Bytes.");
    }
    return Status::Ok();
  };
  switch (c.type()) {
    case ColumnType::kByte:
      JET_RETURN_IF_ERROR(need(1));
      return Value(in.U8(0));
    case ColumnType::kInteger:
      JET_RETURN_IF_ERROR(need(2));
      return Value(in.I16(0));
    case ColumnType::kLong:
      JET_RETURN_IF_ERROR(need(4));
      return Value(in.I32(0));
    case ColumnType::kCurrency:
      JET_RETURN_IF_ERROR(need(8));
      return Value(Currency{in.I64(0)});
    case ColumnType::kSingle:
      JET_RETURN_IF_ERROR(need(4));
      return Value(in.F32(0));
    case ColumnType::kDouble:
      JET_RETURN_IF_ERROR(need(8));
      return Value(in.F64(0));
    case ColumnType::kDateTime:
      JET_RETURN_IF_ERROR(need(8));
      return Value(DateTime{in.F64(0)});
    case ColumnType::kGuid: {
      JET_RETURN_IF_ERROR(need(kGuidSize));
      Guid g;
      std::memcpy(g.bytes.data(), data.data(), kGuidSize);
      return Value(g);
    }
    case ColumnType::kDecimal: {
      // Sign byte, then four 32-bit little-endian words, most significant first.
      JET_RETURN_IF_ERROR(need(kDecimalSize));
      Decimal d;
      d.negative = (in.U8(0) & kDecimalNegative) != 0;
      d.precision = c.precision;
      d.scale = c.scale;
      d.high = (std::uint64_t{in.U32(1)} << 32) | in.U32(5);
      d.low = (std::uint64_t{in.U32(9)} << 32) | in.U32(13);
      return Value(d);
    }
    case ColumnType::kText:
      return Value(DecodeText(store, data));
    case ColumnType::kBinary:
    case ColumnType::kBinaryData:
      return Value(ByteString(data.begin(), data.end()));
    case ColumnType::kMemo: {
      JET_ASSIGN_OR_RETURN(std::vector<std::uint8_t> bytes, ReadLongValue(store, data));
      return Value(DecodeText(store, bytes));
    }
    case ColumnType::kOle: {
      JET_ASSIGN_OR_RETURN(std::vector<std::uint8_t> bytes, ReadLongValue(store, data));
      return Value(ByteString(std::move(bytes)));
    }
    case ColumnType::kBoolean:
    case ColumnType::kComplex:
      break;
  }
  return Status(ErrorCode::kNotSupported, "Der Spaltentyp " + std::to_string(c.type_code) +
                                              " von '" + c.name + "' wird nicht unterstützt.");
}

Status SplitRow(const Format& f, const TableDef& t, Bytes row, RowFields& out,
                std::span<const std::size_t> only) {
  ByteReader in(row);
  const std::size_t len = row.size();
  const std::size_t row_cols = f.row_count_size == 2 ? in.U16(0) : in.U8(0);
  const std::size_t mask_size = (row_cols + 7) / 8;
  if (!in.ok() || len < f.row_count_size + mask_size) return Corrupt(t, "zu kurz");
  const std::size_t mask_at = len - mask_size;

  // Offsets of the variable columns, and where the variable-offset table begins.
  std::vector<std::size_t>& var_offsets = out.var_offsets;
  var_offsets.clear();
  std::size_t var_table_start = mask_at;
  if (t.var_cols > 0) {
    if (f.version == JetVersion::kJet4) {
      if (mask_at < 2) return Corrupt(t, "keine Tabelle der variablen Spalten");
      const std::size_t var_len = in.U16(mask_at - 2);
      if (mask_at < 2 + 2 * (var_len + 1)) return Corrupt(t, "zu viele variable Spalten");
      var_offsets.resize(var_len + 1);
      for (std::size_t i = 0; i <= var_len; ++i) var_offsets[i] = in.U16(mask_at - 4 - 2 * i);
      var_table_start = mask_at - 2 - 2 * (var_len + 1);
    } else {
      if (mask_at < 1) return Corrupt(t, "keine Tabelle der variablen Spalten");
      const std::size_t var_len = in.U8(mask_at - 1);
      std::size_t jumps = (len - 1) / kJet3JumpSpan;
      if (mask_at < 1 + jumps + var_len + 1) return Corrupt(t, "zu viele variable Spalten");
      // The jump table keeps its slots even when the last jump is unused (a dummy entry), so
      // the offsets start below all of them.
      const std::size_t col_ptr = mask_at - 1 - jumps - 1;
      if ((col_ptr - var_len) / kJet3JumpSpan < jumps) --jumps;
      var_offsets.resize(var_len + 1);
      std::size_t used = 0;
      for (std::size_t i = 0; i <= var_len; ++i) {
        while (used < jumps && i == in.U8(mask_at - 2 - used)) ++used;
        var_offsets[i] = in.U8(col_ptr - i) + used * kJet3JumpSpan;
      }
      var_table_start = col_ptr - var_len;
    }
  }
  if (!in.ok()) return Corrupt(t, "die Tabelle der variablen Spalten ist unvollständig");

  out.row_columns = row_cols;
  const std::size_t count = only.empty() ? t.columns.size() : only.size();
  if (only.empty()) {
    out.fields.assign(t.columns.size(), FieldSlot{});
  } else {
    out.fields.resize(t.columns.size());
  }
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t i = only.empty() ? k : only[k];
    if (i >= t.columns.size()) return Corrupt(t, "unbekannte Spalte");
    const Column& c = t.columns[i];
    FieldSlot& slot = out.fields[i];
    slot = FieldSlot{};
    slot.bit = c.number < row_cols && (row[mask_at + c.number / 8] & (1u << (c.number % 8))) != 0;
    if (c.type() == ColumnType::kBoolean || !slot.bit) continue;
    if (c.fixed()) {
      const std::size_t start = f.row_count_size + c.fixed_offset;
      const std::size_t size = FixedSize(c);
      if (start + size > var_table_start) {
        return Corrupt(t, "Spalte '" + c.name + "' liegt außerhalb der Zeile");
      }
      slot.data = row.subspan(start, size);
      slot.stored = true;
    } else {
      if (std::size_t{c.var_index} + 1 >= var_offsets.size()) continue;  // added later: Null
      const std::size_t start = var_offsets[c.var_index];
      const std::size_t end = var_offsets[c.var_index + 1];
      if (start > end || end > var_table_start) {
        return Corrupt(t, "Spalte '" + c.name + "' hat ungültige Grenzen");
      }
      slot.data = row.subspan(start, end - start);
      slot.stored = true;
    }
  }
  return Status::Ok();
}

Status DecodeRow(const PageStore& store, const TableDef& t, Bytes row, std::vector<Value>& out) {
  RowFields fields;
  JET_RETURN_IF_ERROR(SplitRow(store.format(), t, row, fields));
  out.clear();
  out.reserve(t.columns.size());
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    const FieldSlot& slot = fields.fields[i];
    if (c.type() == ColumnType::kBoolean) {
      out.emplace_back(slot.bit);
    } else if (!slot.stored) {
      out.emplace_back();
    } else {
      JET_ASSIGN_OR_RETURN(Value v, DecodeColumnData(store, c, slot.data));
      out.push_back(std::move(v));
    }
  }
  return Status::Ok();
}

}  // namespace jet
