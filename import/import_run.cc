#include "import/import_run.h"

#include <exception>
#include <new>
#include <string>

#include "db/error.h"
#include "db/target_layout.h"
#include "import/phases.h"
#include "validate/check_export_db.h"

namespace import {
namespace {

// `completed` turns true once the target holds the whole import.
void RunImport(run::RunContext& run, bool& completed) {
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
  completed = true;
  db::CloseDatabaseConnections(s);
  run.user.MsgBox(run::kMessageCompleted, run::vbInformation, run::kTitleImport);
  run.user.EndProgram(run::kExitCompleted);
}

// Closes what is open without storing anything of an unfinished transaction or a failed commit;
// releases the lock file with the target's database.
void AbandonConnections(db::DatabaseState& s) {
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
  AbandonConnections(run.state);
  run.user.MsgBox(run::UnexpectedErrorMessage(code, description,
                                              completed ? run::TargetAfterError::kCompleted
                                                        : run::TargetAfterError::kUnchanged),
                  run::vbCritical, run::kTitleImport);
  run.user.EndProgram(run::kExitUnexpectedError);
}

}  // namespace import
