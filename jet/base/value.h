// Column types and cell values of Jet tables.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace jet {

// Column type codes as stored in a column descriptor.
enum class ColumnType : std::uint8_t {
  kBoolean = 0x01,     // Yes/No: no data bytes, the row's null mask bit is the value
  kByte = 0x02,        // 1 byte, unsigned
  kInteger = 0x03,     // 2 bytes, signed
  kLong = 0x04,        // 4 bytes, signed
  kCurrency = 0x05,    // 8 bytes, signed, value * 10000
  kSingle = 0x06,      // 4 bytes IEEE float
  kDouble = 0x07,      // 8 bytes IEEE double
  kDateTime = 0x08,    // 8 bytes double: days since 1899-12-30, time as the fraction
  kBinary = 0x09,      // up to 255 bytes, variable
  kText = 0x0A,        // up to 255 characters, variable
  kOle = 0x0B,         // long value (OLE object)
  kMemo = 0x0C,        // long value (text)
  kGuid = 0x0F,        // 16 bytes (Replication ID)
  kDecimal = 0x10,     // 17 bytes: sign byte and a 128-bit magnitude
  kBinaryData = 0x11,  // raw bytes of the column's length; Access uses it in its own system tables
  kComplex = 0x12,     // ACE attachment/multi-value columns; not in Jet 3/4 files
};

// Human-readable name of a column type ("Long", "Text", ...).
const char* ColumnTypeName(ColumnType type);

struct Currency {
  std::int64_t scaled = 0;  // value * 10000
  bool operator==(const Currency&) const = default;
};

struct DateTime {
  double days = 0;  // OLE automation date
  bool operator==(const DateTime&) const = default;
};

struct Guid {
  std::array<std::uint8_t, 16> bytes{};  // as stored: first three groups little-endian
  bool operator==(const Guid&) const = default;
};
// A new random GUID (version 4), as Replication ID columns and GenGUID() receive.
Guid NewGuid();

struct Decimal {
  bool negative = false;
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;
  std::uint64_t high = 0;  // magnitude = high * 2^64 + low
  std::uint64_t low = 0;
  bool operator==(const Decimal&) const = default;
};

using ByteString = std::vector<std::uint8_t>;

// One cell: Null or a value of the column's kind. Text is UTF-8.
class Value {
 public:
  using Storage =
      std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, Currency, float,
                   double, DateTime, std::string, ByteString, Guid, Decimal>;

  Value() = default;
  template <typename T>
  Value(T v) : data_(std::move(v)) {}  // NOLINT(google-explicit-constructor)

  static Value Null() { return Value(); }

  bool is_null() const { return std::holds_alternative<std::monostate>(data_); }
  template <typename T>
  bool is() const {
    return std::holds_alternative<T>(data_);
  }
  template <typename T>
  const T& as() const {
    return std::get<T>(data_);
  }
  const Storage& storage() const { return data_; }

  bool operator==(const Value&) const = default;

 private:
  Storage data_;
};

// Calendar dates of Jet's day numbers: whole days since 1899-12-30, proleptic Gregorian.
struct CivilDate {
  long long year = 1899;
  unsigned month = 12;
  unsigned day = 30;
};
CivilDate CivilFromJetDay(long long jet_day);
long long JetDayFromCivil(long long year, unsigned month, unsigned day);

// Text forms shared by the inspector and the record layer.
std::string FormatGuid(const Guid& g);          // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
std::string FormatDecimal(const Decimal& d);    // plain digits with `scale` decimals
std::string FormatCurrency(const Currency& c);  // e.g. "12.3400" (4 decimals)

}  // namespace jet
