#include "import/import_run.h"

#include <exception>
#include <filesystem>
#include <new>
#include <string>

#include "db/error.h"
#include "db/recordset.h"
#include "import/phases.h"
#include "run/backups.h"
#include "run/source_layout.h"
#include "run/target_layout.h"
#include "validate/check_export_db.h"

namespace import {
namespace {

// The value of a "SELECT Count(*) AS TotalProdukte ..." statement on `connection`.
std::int64_t Count(db::Recordset& rs, const std::shared_ptr<db::Connection>& connection,
                   const std::string& statement) {
  rs.Open(statement, connection, db::adOpenForwardOnly, db::adLockReadOnly);
  const std::int64_t n = db::ToInt32(rs.Fields().Item("TotalProdukte").Value());
  rs.Close();
  return n;
}

std::string CountOf(std::string_view table) {
  return "SELECT Count(*) AS TotalProdukte FROM " + std::string(table);
}

// What the phases have written: the six product tables' rows (answered from the row counts).
run::RunCounts ReadCounts(run::DatabaseState& s) {
  run::RunCounts c;
  db::Recordset& rs = *s.rsTargetA;
  c.categories = Count(rs, s.cnTarget, CountOf(run::target::kKategorien));
  c.products = Count(rs, s.cnTarget, CountOf(run::target::kProdukte));
  c.product_prices = Count(rs, s.cnTarget, CountOf(run::target::kProduktePreise));
  c.extras = Count(rs, s.cnTarget, CountOf(run::target::kExtras));
  c.extra_prices = Count(rs, s.cnTarget, CountOf(run::target::kExtrasPreise));
  c.assignments = Count(rs, s.cnTarget, CountOf(run::target::kProdukteExtras));
  c.articles_without_group =
      Count(*s.rsSource, s.cnSource, run::source::kCountArticlesWithoutGroup);
  return c;
}

// `completed` turns true once the target holds the whole import.
void RunImport(run::RunContext& run, bool& completed) {
  run::DatabaseState& s = run.state;
  validate::CheckExportDB(run);
  if (!run.dry_run) run::ClearInterruptedBackup(run::TargetDatabaseFile(s));
  run::OpenDatabaseConnections(s, run.txt_DBPfad);
  run.TellRolledBack();
  run.target_file = s.cnTarget->database().path();
  // The whole run is one transaction: the file changes only when every phase has finished.
  s.cnTarget->BeginTrans();
  for (const char* statement : run::target::kResetStatements) s.cnTarget->Execute(statement);
  ImportCategories(run);
  ImportProducts(run);
  ImportExtras(run);
  AssignExtras(run);
  run.counts = ReadCounts(s);
  if (run.dry_run) {
    // Nothing of it reaches the file.
    s.cnTarget->RollbackTrans();
    run::CloseDatabaseConnections(s);
    run.user.MsgBox(run::DryRunSummary(*run.counts), run::vbInformation, run::kTitleImport);
    run.user.EndProgram(run::kExitCompleted);
  }
  // The old target stays beside the new one; of these backups the newest few are kept.
  const std::string backup =
      run::NewBackupPath(run.target_file, run::BackupKind::kImport, run.started);
  s.cnTarget->KeepOldFileOnNextStore(backup);
  s.cnTarget->CommitTrans();
  completed = true;
  if (std::filesystem::exists(backup)) run.backup_file = backup;  // else nothing was stored
  for (std::string& failure : run::PruneBackups(run.target_file)) {
    run.notes.push_back(std::move(failure));
  }
  run::CloseDatabaseConnections(s);
  run.user.MsgBox(run::kMessageCompleted, run::vbInformation, run::kTitleImport);
  run.user.EndProgram(run::kExitCompleted);
}

// Closes what is open without storing anything of an unfinished transaction or a failed commit;
// releases the lock file with the target's database.
void AbandonConnections(run::DatabaseState& s) {
  try {
    if (s.cnTarget && s.cnTarget->IsOpen()) {
      if (s.cnTarget->InTransaction()) s.cnTarget->RollbackTrans();
      s.cnTarget->Close();
    }
  } catch (...) {
    // Nothing more of the run is stored; the message below tells the user what the file holds.
  }
  try {
    if (s.cnSource && s.cnSource->IsOpen()) s.cnSource->Close();
  } catch (...) {
  }
  // The recordsets and connections go now, and with them what they hold in memory.
  s.rsTargetA.reset();
  s.rsTargetB.reset();
  s.rsTargetC.reset();
  s.rsSource.reset();
  s.cnTarget.reset();
  s.cnSource.reset();
}

}  // namespace

void cmdImport_Click(run::RunContext& run) {
  db::ErrorCode code = db::ErrorCode::kOk;
  std::string description;
  bool completed = false;
  try {
    RunImport(run, completed);
    return;  // not reached: the run ends the program
  } catch (const run::ProgramEnd&) {
    throw;
  } catch (const db::TargetLocationError& e) {
    // The target is not where the settings lead: a lookup fault, not an error of the run.
    run.error_number = e.number();
    AbandonConnections(run.state);
    run.user.MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
                    run::kTitleImport);
    run.user.EndProgram(run::kExitNotInstalled);
  } catch (const db::StoredDespiteError& e) {
    completed = true;
    code = e.code();
    description = e.description();
  } catch (const db::DbError& e) {
    code = e.code();
    description = e.description();
  } catch (const std::bad_alloc&) {
    code = db::ErrorCode::kResourcesExceeded;
    description = std::string(db::StandardText(code)) + ": Der Arbeitsspeicher reicht nicht aus.";
  } catch (const std::exception& e) {
    code = db::ErrorCode::kInternalError;
    description = run::InternalErrorDescription(e);
  } catch (...) {
    code = db::ErrorCode::kInternalError;
    description = db::StandardText(code);
  }
  run.error_number = db::Number(code);
  AbandonConnections(run.state);
  run.user.MsgBox(run::UnexpectedErrorMessage(code, description,
                                              completed ? run::TargetAfterError::kCompleted
                                                        : run::TargetAfterError::kUnchanged),
                  run::vbCritical, run::kTitleImport);
  run.user.EndProgram(run::kExitUnexpectedError);
}

}  // namespace import
