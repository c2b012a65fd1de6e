#include "jet/index/index_key.h"

#include <bit>
#include <cstring>
#include <string>

#include "jet/base/byte_writer.h"
#include "jet/table/row_reader.h"

namespace jet {
namespace {

constexpr std::uint8_t kSortVersionLegacy = 0;
constexpr std::uint8_t kSortVersion2010 = 1;
constexpr std::size_t kGuidGroup = 8;
constexpr std::uint8_t kGuidMoreFollows = 0x09;
constexpr std::uint8_t kDecimalKeyPositive = 0xFF;
constexpr std::uint8_t kDecimalKeyNegative = 0x00;

Status NotSupported(const Column& column, const std::string& why) {
  return Status(ErrorCode::kNotSupported,
                "Der Indexschlüssel der Spalte '" + column.name + "' " + why + ".");
}

// Two's complement with the sign bit flipped sorts as unsigned bytes.
void AppendSigned(ByteString& key, std::int64_t value, std::size_t size) {
  const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
  ByteWriter(key).AppendBigEndian(static_cast<std::uint64_t>(value) ^ sign, size);
}

// IEEE 754 bits that sort as unsigned bytes: positives get the sign bit, negatives are inverted.
void AppendFloatBits(ByteString& key, std::uint64_t bits, std::size_t size) {
  const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
  const std::uint64_t all = size == 8 ? ~std::uint64_t{0} : (sign << 1) - 1;
  ByteWriter(key).AppendBigEndian((bits & sign) ? (~bits & all) : (bits | sign), size);
}

void AppendGuid(ByteString& key, const Guid& g) {
  // Stored order: Data1 (4) and Data2, Data3 (2 each) little-endian, then 8 bytes as written.
  std::uint8_t text_order[16];
  const int swap[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) text_order[i] = g.bytes[swap[i]];
  key.insert(key.end(), text_order, text_order + kGuidGroup);
  key.push_back(kGuidMoreFollows);
  key.insert(key.end(), text_order + kGuidGroup, text_order + 2 * kGuidGroup);
  key.push_back(static_cast<std::uint8_t>(kGuidGroup));
}

const Column* ColumnByNumber(const TableDef& table, std::uint16_t number, std::size_t& slot) {
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    if (table.columns[i].number == number) {
      slot = i;
      return &table.columns[i];
    }
  }
  return nullptr;
}

// The value as the kind the column's type decodes to; any other kind is kInvalidValue.
template <typename T>
Result<T> Get(const Column& column, const Value& value) {
  if (!value.is<T>()) {
    return Status(ErrorCode::kInvalidValue, "Der Wert passt nicht zum Typ " +
                                                std::string(ColumnTypeName(column.type())) +
                                                " der Spalte '" + column.name + "'.");
  }
  return value.as<T>();
}

}  // namespace

Result<TextSortOrder> TextSortOrderOf(const Column& column, const Header& header) {
  std::uint16_t id = column.sort_order;
  std::uint8_t version = column.sort_version;
  if (id == 0) {
    id = header.sort_order.id;
    version = header.sort_order.version;
  }
  if (id == kGeneralSortOrder) {
    if (header.version == JetVersion::kJet3) return TextSortOrder::kGeneral97;
    if (version == kSortVersionLegacy) return TextSortOrder::kGeneralLegacy;
    if (version == kSortVersion2010) return TextSortOrder::kGeneral;
  }
  return NotSupported(column, "verwendet die Sortierfolge " + std::to_string(id) + " (Version " +
                                  std::to_string(version) + "), die nicht unterstützt wird");
}

Status AppendKeyColumn(const Column& column, bool ascending, const Value& value,
                       const Header& header, ByteString& key) {
  const ColumnType type = column.type();
  if (value.is_null() && type != ColumnType::kBoolean) {
    key.push_back(ascending ? kKeyNullAscending : kKeyNullDescending);
    return Status::Ok();
  }
  key.push_back(ascending ? kKeyPresentAscending : kKeyPresentDescending);
  // The value bytes follow the flag byte, at `start`.
  const std::size_t start = key.size();
  bool invert = !ascending;  // the value bytes, after the switch
  switch (type) {
    case ColumnType::kBoolean: {
      // A Yes/No column is never Null; a missing value (a column added after the row) is No.
      const bool yes = value.is<bool>() && value.as<bool>();
      key.push_back(yes ? kKeyYes : kKeyNo);
      break;
    }
    case ColumnType::kByte: {
      JET_ASSIGN_OR_RETURN(std::uint8_t v, Get<std::uint8_t>(column, value));
      key.push_back(v);
      break;
    }
    case ColumnType::kInteger: {
      JET_ASSIGN_OR_RETURN(std::int16_t v, Get<std::int16_t>(column, value));
      AppendSigned(key, v, 2);
      break;
    }
    case ColumnType::kLong: {
      JET_ASSIGN_OR_RETURN(std::int32_t v, Get<std::int32_t>(column, value));
      AppendSigned(key, v, 4);
      break;
    }
    case ColumnType::kCurrency: {
      JET_ASSIGN_OR_RETURN(Currency v, Get<Currency>(column, value));
      AppendSigned(key, v.scaled, 8);
      break;
    }
    case ColumnType::kSingle: {
      JET_ASSIGN_OR_RETURN(float v, Get<float>(column, value));
      AppendFloatBits(key, std::bit_cast<std::uint32_t>(v), 4);
      break;
    }
    case ColumnType::kDouble: {
      JET_ASSIGN_OR_RETURN(double v, Get<double>(column, value));
      AppendFloatBits(key, std::bit_cast<std::uint64_t>(v), 8);
      break;
    }
    case ColumnType::kDateTime: {
      JET_ASSIGN_OR_RETURN(DateTime v, Get<DateTime>(column, value));
      AppendFloatBits(key, std::bit_cast<std::uint64_t>(v.days), 8);
      break;
    }
    case ColumnType::kGuid: {
      JET_ASSIGN_OR_RETURN(Guid v, Get<Guid>(column, value));
      AppendGuid(key, v);
      if (invert) {
        // Inverted, but for the "more follows" marker between the groups.
        for (std::size_t i = start; i < key.size(); ++i) {
          if (i - start != kGuidGroup) key[i] = static_cast<std::uint8_t>(~key[i]);
        }
        invert = false;
      }
      break;
    }
    case ColumnType::kDecimal: {
      JET_ASSIGN_OR_RETURN(Decimal v, Get<Decimal>(column, value));
      // Jet 4 key of a Decimal (its older order, which Access 2000-2003 files keep):
      //   0x00 1   0xFF for zero and positive values, 0x00 for negative ones
      //   0x01 16  the magnitude at the column's scale, big-endian
      // The magnitude's bytes are inverted when the value is negative in an ascending index or
      // not negative in a descending one.
      const bool negative = v.negative && (v.high != 0 || v.low != 0);
      const std::size_t at = key.size();
      key.push_back(0);
      ByteWriter(key).AppendBigEndian(v.high, 8);
      ByteWriter(key).AppendBigEndian(v.low, 8);
      if (negative == ascending) {
        for (std::size_t i = at; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(~key[i]);
      }
      key[at] = negative ? kDecimalKeyNegative : kDecimalKeyPositive;
      invert = false;
      break;
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      if (!value.is<std::string>()) return Get<std::string>(column, value).status();
      JET_ASSIGN_OR_RETURN(TextSortOrder order, TextSortOrderOf(column, header));
      JET_RETURN_IF_ERROR(AppendTextKey(value.as<std::string>(), order, ascending, key));
      invert = false;  // AppendTextKey inverts what a descending column needs inverted
      break;
    }
    default:
      return NotSupported(
          column, std::string("vom Typ ") + ColumnTypeName(type) + " wird nicht unterstützt");
  }
  if (invert) {
    for (std::size_t i = start; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(~key[i]);
  }
  return Status::Ok();
}

bool StoredNumberKey(const Column& column, bool ascending, Bytes stored, std::uint64_t& value,
                     std::size_t& size) {
  bool floating = false;
  switch (column.type()) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
      break;
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      floating = true;
      break;
    default:
      return false;
  }
  size = FixedSize(column);
  if (stored.size() != size) return false;
  // The stored bytes are little-endian.
  std::uint64_t bits = 0;
  for (std::size_t i = size; i > 0; --i) bits = (bits << 8) | stored[i - 1];
  // The same bytes AppendKeyColumn gives the decoded value: a byte as it is, floating-point bits
  // made to sort as unsigned, integers with the sign bit flipped; all inverted for descending.
  const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
  const std::uint64_t all = size == 8 ? ~std::uint64_t{0} : (sign << 1) - 1;
  if (column.type() == ColumnType::kByte) {
    value = bits;
  } else if (floating) {
    value = (bits & sign) ? (~bits & all) : (bits | sign);
  } else {
    value = bits ^ sign;
  }
  if (!ascending) value = ~value;
  value &= all;
  return true;
}

bool AppendStoredNumberKey(const Column& column, bool ascending, Bytes stored, ByteString& key) {
  std::uint64_t value = 0;
  std::size_t size = 0;
  if (!StoredNumberKey(column, ascending, stored, value, size)) return false;
  // Most significant byte first: the value moved to the top of 64 bits, then byte-swapped.
  std::uint64_t top = value << (8 * (sizeof(std::uint64_t) - size));
  if constexpr (std::endian::native == std::endian::little) top = __builtin_bswap64(top);
  const std::size_t at = key.size();
  key.resize(at + 1 + size);
  key[at] = ascending ? kKeyPresentAscending : kKeyPresentDescending;
  std::memcpy(key.data() + at + 1, &top, size);
  return true;
}

Status AppendIndexKey(const TableDef& table, const RealIndex& index, const std::vector<Value>& row,
                      const Header& header, ByteString& key) {
  for (const IndexColumn& ic : index.columns) {
    std::size_t slot = 0;
    const Column* column = ColumnByNumber(table, ic.column_number, slot);
    if (column == nullptr || slot >= row.size()) {
      return Status::Corrupt("Beschädigte Tabellendefinition von '" + table.name + "': Index " +
                             std::to_string(index.number) + " nennt die unbekannte Spalte " +
                             std::to_string(ic.column_number) + ".");
    }
    JET_RETURN_IF_ERROR(AppendKeyColumn(*column, ic.ascending, row[slot], header, key));
  }
  return Status::Ok();
}

Result<ByteString> EncodeIndexKey(const TableDef& table, const RealIndex& index,
                                  const std::vector<Value>& row, const Header& header) {
  ByteString key;
  JET_RETURN_IF_ERROR(AppendIndexKey(table, index, row, header, key));
  return key;
}

bool AllKeyColumnsNull(const TableDef& table, const RealIndex& index,
                       const std::vector<Value>& row) {
  for (const IndexColumn& ic : index.columns) {
    std::size_t slot = 0;
    const Column* column = ColumnByNumber(table, ic.column_number, slot);
    if (column == nullptr || slot >= row.size()) return false;
    if (column->type() == ColumnType::kBoolean || !row[slot].is_null()) return false;
  }
  return true;
}

}  // namespace jet
