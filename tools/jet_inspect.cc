// jet-inspect: looks into a Jet database.
//
//   jet-inspect tables FILE              user tables, one per line
//   jet-inspect schema FILE TABLE        columns, properties and indexes of a table
//   jet-inspect export FILE TABLE        the table as CSV (mdb-export's default layout)
//   --password PW                        the database password of a protected file
#include <iostream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "tools/csv_export.h"
#include "tools/schema_print.h"

namespace {

int Usage() {
  std::cerr << "Aufruf: jet-inspect [--password PW] tables DATEI\n"
               "       jet-inspect [--password PW] schema DATEI TABELLE\n"
               "       jet-inspect [--password PW] export DATEI TABELLE\n";
  return 2;
}

int Fail(const jet::Status& s) {
  std::cerr << "jet-inspect: " << s.ToString() << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  jet::OpenOptions options;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--password") {
      if (++i >= argc) return Usage();
      options.password = argv[i];
    } else if (a.rfind("--password=", 0) == 0) {
      options.password = a.substr(11);
    } else {
      args.push_back(a);
    }
  }
  if (args.size() < 2) return Usage();
  const std::string& command = args[0];
  const bool needs_table = command == "schema" || command == "export";
  if (command != "tables" && !needs_table) return Usage();
  if (needs_table != (args.size() == 3) || args.size() > 3) return Usage();

  auto db = jet::Database::Open(args[1], options);
  if (!db.ok()) return Fail(db.status());

  if (command == "tables") {
    for (const std::string& name : (*db)->TableNames()) std::cout << name << "\n";
    return 0;
  }
  jet::Status status = command == "schema" ? inspect::PrintSchema(**db, args[2], std::cout)
                                           : inspect::ExportCsv(**db, args[2], std::cout);
  std::cout.flush();
  if (!status.ok()) return Fail(status);
  return 0;
}
