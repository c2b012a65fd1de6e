// OLE DB connection strings, as the import builds them for the Jet provider:
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/pfad/DBZentavo.mdb ;Persist Security Info=False;
//   Jet OLEDB:Database Password=...;
// Pairs are "key=value" separated by ';'. Keys are matched without regard to letter case; blanks
// around keys and values are not part of them (so the blank before ';' does not belong to the
// file name); a value may be quoted with " or ' (the quote doubled inside stands for itself).
#pragma once

#include <string>
#include <string_view>

namespace db {

inline constexpr char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";

struct ConnectionSettings {
  std::string provider;
  std::string data_source;
  std::string database_password;
  std::string mode;  // as written ("Read|Write", "Read", ...), empty when absent
  bool persist_security_info = false;
  bool read_only() const;  // Mode asks for reading only
};

// Throws DbError 3706 for a provider other than the Jet provider, 3001 for malformed strings and
// unknown keys.
ConnectionSettings ParseConnectionString(std::string_view text);

}  // namespace db
