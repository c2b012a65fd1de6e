#include "import/restore_run.h"

#include <exception>

#include "db/error.h"
#include "run/backups.h"

namespace import {

void RestoreRun(run::RunContext& run, const std::string& backup) {
  db::ErrorCode code = db::ErrorCode::kOk;
  std::string description;
  int status = run::kExitUnexpectedError;
  try {
    run.target_file = run::TargetDatabaseFile(run.state);
    run.txt_DBPfad = backup;
    const run::RestoreResult done = run::RestoreBackup(run.target_file, backup, run.started);
    run.target_file = done.target;
    run.txt_DBPfad = done.restored;
    run.backup_file = done.kept_as;
    for (std::string& failure : run::PruneBackups(done.target)) {
      run.notes.push_back(std::move(failure));
    }
    run.user.MsgBox(run::RestoredMessage(done.restored, done.target, done.kept_as),
                    run::vbInformation, run::kTitleImport);
    run.user.EndProgram(run::kExitCompleted);
  } catch (const db::TargetLocationError& e) {
    // The target is not where the settings lead: as in an import.
    run.error_number = e.number();
    run.user.MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
                    run::kTitleImport);
    run.user.EndProgram(run::kExitNotInstalled);
  } catch (const run::BackupRefusal& e) {
    code = e.code();
    description = e.description();
    status = run::kExitInvalidSource;
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
  run.error_number = db::Number(code);
  run.user.MsgBox(status == run::kExitInvalidSource
                      ? run::RestoreRefusedMessage(code, description)
                      : run::UnexpectedErrorMessage(code, description),
                  run::vbCritical, run::kTitleImport);
  run.user.EndProgram(status);
}

}  // namespace import
