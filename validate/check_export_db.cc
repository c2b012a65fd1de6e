#include "validate/check_export_db.h"

#include <array>
#include <string>
#include <string_view>

#include "db/error.h"
#include "db/recordset.h"
#include "run/source_layout.h"

namespace validate {
namespace {

// How the validation tests a column's value in a table's first row.
enum class Check {
  kNullTolerant,   // through cNull: Null passes
  kValueRequired,  // converted to text directly: Null fails
};

struct RequiredColumn {
  std::string_view name;
  Check check;
};

// The columns of each source table, in the order they are tested.
constexpr std::array<RequiredColumn, 19> kArtikelStammColumns = {{
    {"Kurzzeichen", Check::kNullTolerant},
    {"Bezeichnung", Check::kNullTolerant},
    {"Gruppe", Check::kNullTolerant},
    {"Einheit", Check::kNullTolerant},
    {"EinheitAnzahl", Check::kValueRequired},
    {"Ccy", Check::kNullTolerant},
    {"Preis", Check::kValueRequired},
    {"MWSt", Check::kValueRequired},
    {"PreisMWSt", Check::kValueRequired},
    {"Mindestbestand", Check::kValueRequired},
    {"BestandesÄnderung", Check::kValueRequired},
    {"Inventarwert", Check::kValueRequired},
    {"Einstandspreis", Check::kValueRequired},
    {"InventarDatum", Check::kNullTolerant},
    {"InventarDatumLong", Check::kValueRequired},
    {"InventarZeit", Check::kNullTolerant},
    {"InventarZeitDouble", Check::kValueRequired},
    {"FirmenName", Check::kNullTolerant},
    {"PreisGruppe", Check::kValueRequired},
}};

constexpr std::array<RequiredColumn, 10> kArtikelZusatzStammColumns = {{
    {"Bezeichnung", Check::kNullTolerant},
    {"Gruppe", Check::kNullTolerant},
    {"Einheit", Check::kNullTolerant},
    {"EinheitAnzahl", Check::kValueRequired},
    {"Ccy", Check::kNullTolerant},
    {"Preis", Check::kValueRequired},
    {"MWSt", Check::kValueRequired},
    {"PreisMWSt", Check::kValueRequired},
    {"FirmenName", Check::kNullTolerant},
    {"PreisGruppe", Check::kValueRequired},
}};

// Looks up every required column in the current (first) row and converts its value to text.
template <typename Columns>
void CheckFirstRow(db::Recordset& rs, const Columns& columns) {
  if (rs.Eof()) return;
  for (const RequiredColumn& column : columns) {
    db::Value value = rs.Fields().Item(std::string(column.name)).Value();
    if (column.check == Check::kNullTolerant) value = db::cNull(value);
    (void)db::ToText(value);  // the conversion is the test
  }
}

}  // namespace

void CheckExportDB(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  try {
    run::OpenDatabaseConnections(s, run.txt_DBPfad);
    run.TellRolledBack();
    s.rsSource->Open(run::source::kSelectAllArticles, s.cnSource, db::adOpenForwardOnly,
                     db::adLockReadOnly);
    CheckFirstRow(*s.rsSource, kArtikelStammColumns);
    s.rsSource->Close();
    s.rsSource->Open(run::source::kSelectAllAddOns, s.cnSource, db::adOpenForwardOnly,
                     db::adLockReadOnly);
    CheckFirstRow(*s.rsSource, kArtikelZusatzStammColumns);
    s.rsSource->Close();
    run::CloseDatabaseConnections(s);
  } catch (const db::TargetLocationError&) {
    // The target recorded under Wine names no file here: not a fault of the source. The error,
    // which names the recorded folder, passes on to the run's report; nothing was changed.
    run::CloseDatabaseConnections(s);
    throw;
  } catch (const db::EnvironmentError&) {
    // A FIFO or a folder in place of a database (the error names the path), or memory that ran
    // out: no fault of the source's data. The error passes on to the run's report.
    run::CloseDatabaseConnections(s);
    throw;
  } catch (const db::DbError& e) {
    // A failure in the handler itself is not taken here: it passes on to the caller.
    run.error_number = e.number();
    run::CloseDatabaseConnections(s);
    run.user.MsgBox(run::kMessageInvalidDatabase, run::vbCritical, run::kTitleInvalidDatabase);
    run.user.EndProgram(run::kExitInvalidSource);
  }
}

}  // namespace validate
