// The database header: page 0 of every Jet file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/byte_reader.h"
#include "jet/base/format.h"
#include "jet/base/status.h"

namespace jet {

struct SortOrder {
  std::uint16_t id = 0;      // 1033: "General"
  std::uint8_t version = 0;  // Jet 4: 0 for the order of Access 2000-2007, 1 for Access 2010+
};

struct Header {
  JetVersion version = JetVersion::kJet4;
  std::uint16_t code_page = 0;
  std::uint32_t database_key = 0;  // non-zero: pages after page 0 are RC4-encrypted
  SortOrder sort_order;
  double creation_date = 0;  // Jet 4 only (days since 1899-12-30)
  std::string password;      // UTF-8, empty when the database has none

  const Format& format() const { return FormatFor(version); }
};

// Parses and unmasks page 0 (at least the first page_size bytes of the file; only the part up to
// the end of the masked area is needed). Fails for files that are not Jet 3 or Jet 4 databases.
Result<Header> ParseHeader(Bytes page0);

// Undoes (or applies: the same operation) the RC4 mask over the header's masked area in place.
void MaskHeader(std::vector<std::uint8_t>& page0, JetVersion version);

// True when `given` opens a database whose stored password is `stored`: any password opens a
// database without one; otherwise Jet compares exactly.
bool PasswordMatches(const std::string& stored, const std::string& given);

}  // namespace jet
