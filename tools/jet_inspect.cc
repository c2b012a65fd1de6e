// jet-inspect: looks into a Jet database.
//
//   jet-inspect tables FILE              user tables, one per line
//   jet-inspect schema FILE TABLE        columns, properties, indexes and relationships of a table
//   jet-inspect export FILE TABLE        the table as CSV (mdb-export's default layout)
//   jet-inspect query FILE "SELECT ..."  a query of the SQL subset, as CSV with a header line
//   jet-inspect exec FILE "DELETE ..."   a statement without a result
//   jet-inspect check FILE               checks the whole file (exit status 1 on any problem)
//   --password PW                        the database password of a protected file
#include <iostream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "db/recordset.h"
#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "tools/csv_export.h"
#include "tools/schema_print.h"

namespace {

int Usage() {
  std::cerr << "Aufruf: jet-inspect [--password PW] tables DATEI\n"
               "       jet-inspect [--password PW] schema DATEI TABELLE\n"
               "       jet-inspect [--password PW] export DATEI TABELLE\n"
               "       jet-inspect [--password PW] query DATEI \"SELECT ...\"\n"
               "       jet-inspect [--password PW] exec DATEI \"DELETE ...\"\n"
               "       jet-inspect [--password PW] check DATEI\n";
  return 2;
}

int Fail(const jet::Status& s) {
  std::cerr << "jet-inspect: " << s.ToString() << "\n";
  return 1;
}

// Quotes a connection string value so that ';' and quotes in paths and passwords stay in it.
std::string QuoteValue(const std::string& v) {
  std::string out = "\"";
  for (char c : v) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out + "\"";
}

// Runs a statement through the record layer: queries print as CSV with a header line.
int RunStatement(bool query, const std::string& file, const std::string& password,
                 const std::string& statement) {
  try {
    auto cn = std::make_shared<db::Connection>();
    cn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + QuoteValue(file) +
             ";Jet OLEDB:Database Password=" + QuoteValue(password) + ";");
    if (!query) {
      cn->Execute(statement);
      cn->Close();
      return 0;
    }
    db::Recordset rs;
    rs.Open(statement, cn, db::adOpenForwardOnly, db::adLockReadOnly);
    std::string line;
    for (std::size_t i = 0; i < rs.Fields().Count(); ++i) {
      if (i > 0) line.push_back(',');
      line += rs.Fields().Item(i).Name();
    }
    std::cout << line << '\n';
    for (; !rs.Eof(); rs.MoveNext()) {
      line.clear();
      for (std::size_t i = 0; i < rs.Fields().Count(); ++i) {
        if (i > 0) line.push_back(',');
        line += inspect::CsvField(rs.Fields().Item(i).Value());
      }
      std::cout << line << '\n';
    }
    rs.Close();
    cn->Close();
    return 0;
  } catch (const db::DbError& e) {
    std::cout.flush();
    std::cerr << "jet-inspect: Fehler " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
}

}  // namespace

// What may still throw here is the standard library's running out of memory, which ends the tool
// with std::terminate's message.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
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
  if (command == "query" || command == "exec") {
    if (args.size() != 3) return Usage();
    return RunStatement(command == "query", args[1], options.password, args[2]);
  }
  const bool needs_table = command == "schema" || command == "export";
  if (command != "tables" && command != "check" && !needs_table) return Usage();
  if (needs_table != (args.size() == 3) || args.size() > 3) return Usage();

  auto db = jet::Database::Open(args[1], options);
  if (!db.ok()) return Fail(db.status());

  if (command == "tables") {
    for (const std::string& name : (*db)->TableNames()) std::cout << name << "\n";
    return 0;
  }
  if (command == "check") {
    auto report = jet::CheckIntegrity(**db);
    if (!report.ok()) return Fail(report.status());
    // Damage stops an import that writes the table; what Access leaves as well does not.
    for (const std::string& note : report->notes) std::cout << "Hinweis: " << note << "\n";
    for (const std::string& problem : report->problems) {
      std::cout << "Fehler (hält einen Import an, der die Tabelle schreibt): " << problem << "\n";
    }
    for (const std::string& quirk : report->tolerated) {
      std::cout << "Wie von Access (hält keinen Import an): " << quirk << "\n";
    }
    std::cout << report->tables << " Tabellen, " << report->rows << " Zeilen, "
              << report->index_entries << " Indexeinträge geprüft: "
              << (report->ok() ? "in Ordnung"
                               : std::to_string(report->problems.size()) + " Fehler");
    if (!report->tolerated.empty()) {
      std::cout << ", " << report->tolerated.size() << " wie von Access";
    }
    std::cout << "\n";
    return report->ok() ? 0 : 1;
  }
  jet::Status status = command == "schema" ? inspect::PrintSchema(**db, args[2], std::cout)
                                           : inspect::ExportCsv(**db, args[2], std::cout);
  std::cout.flush();
  if (!status.ok()) return Fail(status);
  return 0;
}
