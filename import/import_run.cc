#include "import/import_run.h"

#include <exception>

#include "db/error.h"
#include "db/target_layout.h"
#include "import/phases.h"
#include "validate/check_export_db.h"

namespace import {
namespace {

void RunImport(run::RunContext& run) {
  db::DatabaseState& s = run.state;
  validate::CheckExportDB(run);
  db::OpenDatabaseConnections(s, run.txt_DBPfad);
  // The whole run is one transaction: the file changes only when every phase has finished.
  s.cnTarget->BeginTrans();
  for (const char* statement : db::target::kResetStatements) s.cnTarget->Execute(statement);
  ImportCategories(run);
  ImportProducts(run);
  ImportExtras(run);
  AssignExtras(run);
  s.cnTarget->CommitTrans();
  db::CloseDatabaseConnections(s);
  run.user.MsgBox(run::kMessageCompleted, run::vbInformation, run::kTitleImport);
  run.user.EndProgram(run::kExitCompleted);
}

// Closes what is open without storing anything of an unfinished transaction.
void AbandonConnections(db::DatabaseState& s) {
  try {
    if (s.cnTarget && s.cnTarget->IsOpen()) {
      if (s.cnTarget->InTransaction()) s.cnTarget->RollbackTrans();
      s.cnTarget->Close();
    }
  } catch (const db::DbError&) {
    // Nothing of the run was stored; the message below tells the user.
  }
  try {
    if (s.cnSource && s.cnSource->IsOpen()) s.cnSource->Close();
  } catch (const db::DbError&) {
  }
}

}  // namespace

void cmdImport_Click(run::RunContext& run) {
  db::ErrorCode code = db::ErrorCode::kOk;
  std::string description;
  try {
    RunImport(run);
    return;  // not reached: the run ends the program
  } catch (const run::ProgramEnd&) {
    throw;
  } catch (const db::TargetLocationError& e) {
    // The target is not where the settings lead: a lookup fault, not an error of the run.
    AbandonConnections(run.state);
    run.user.MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
                    run::kTitleImport);
    run.user.EndProgram(run::kExitNotInstalled);
  } catch (const db::DbError& e) {
    code = e.code();
    description = e.description();
  } catch (const std::bad_alloc&) {
    code = db::ErrorCode::kOutOfMemory;
    description = db::StandardText(code);
  } catch (const std::exception& e) {
    code = db::ErrorCode::kInternalError;
    description = run::InternalErrorDescription(e);
  }
  AbandonConnections(run.state);
  run.user.MsgBox(run::UnexpectedErrorMessage(code, description), run::vbCritical,
                  run::kTitleImport);
  run.user.EndProgram(run::kExitUnexpectedError);
}

}  // namespace import
