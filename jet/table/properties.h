// Properties of tables and columns, stored by Access in the catalog's LvProp blobs.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

struct Property {
  std::uint8_t type_code = 0;  // a column type code (1 Yes/No, 4 Long, 10 Text, ...)
  bool ddl = false;            // a property set through DDL rather than the designer
  Value value;
};

// Property name -> property. Names keep their stored spelling.
using PropertyMap = std::map<std::string, Property>;

// All property sets of one catalog object, keyed by the object they belong to: "" (or the table's
// own name) for the table, the column name for a column.
using PropertySets = std::map<std::string, PropertyMap>;

// Parses an LvProp blob:
//   0x00 4  magic "MR2\0" (Jet 4) or "KKD\0" (Jet 3)
//   then chunks, each: length 4 (including these 6 bytes), chunk type 2, body
//   chunk type 0x80: the property names, each a 2-byte length and the name (UCS-2 in Jet 4)
//   chunk type 0x00 / 0x01: one property set: length 4 of the set's name record (including
//     itself), name length 2, name; then values, each: length 2 (including the 8-byte head),
//     DDL flag 1, type 1, name index 2, data length 2, data
Result<PropertySets> ParseProperties(Bytes blob, const Format& format);

// Decodes a property's data bytes (numbers, Yes/No, text, GUID; binary kept as bytes).
Value DecodePropertyValue(std::uint8_t type_code, Bytes data, const Format& format);

}  // namespace jet
