// The window-level database state: the target folder, the two connections and the four reusable
// recordsets, with the operations that open and close them.
#pragma once

#include <memory>
#include <string>

#include "db/connection.h"
#include "db/recordset.h"
#include "host/settings.h"

namespace run {

struct DatabaseState {
  std::string strDBRoot;
  // The Wine prefix whose registry recorded strDBRoot (a Windows path, mapped into the prefix
  // when the target is opened); empty when strDBRoot is a path of this system.
  std::string strDBRootPrefix;
  // A target database named directly (the command line's --target): used as it is, in place of
  // strDBRoot and the settings.
  std::string target_file;
  std::shared_ptr<db::Connection> cnTarget;
  std::shared_ptr<db::Recordset> rsTargetA;
  std::shared_ptr<db::Recordset> rsTargetB;
  std::shared_ptr<db::Recordset> rsTargetC;
  std::shared_ptr<db::Connection> cnSource;
  std::shared_ptr<db::Recordset> rsSource;
  // What opening the target said about an interrupted commit it rolled back first (German), until
  // the user has been told; "" otherwise.
  std::string rolled_back;
  // What tests change in the engine's behaviour for the target
  // (db::Connection::SetTestOptions);
  // the program leaves it as it is.
  jet::TestOptions target_test;
};

// The load step's lookup without a window (host/target_lookup.h): the recorded target folder, or ""
// when none is recorded. Only the empty text counts as absent; a value of blanks is returned as it
// is. Throws TargetLocationError for a fault of the lookup, SeveralTargetsError when several Wine
// prefixes hold the entry.
std::string LookupTargetFolder();
// The same with the Wine prefix that recorded it (empty for the INI file or no entry).
host::SettingsEntry LookupTargetSetting();

// The file the target connection opens: target_file when set (as it is); otherwise strDBRoot
// followed by DBZentavo.mdb, mapped into the Wine prefix when strDBRootPrefix is set. Throws
// TargetLocationError (3044 for a folder that does not exist or that the prefix cannot reach, 3024
// for a missing file) naming the recorded path.
std::string TargetDatabaseFile(const DatabaseState& state);

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder + "DBZentavo.mdb ;Persist Security
// Info=False;Jet OLEDB:Database Password=" + password + ";"
std::string TargetConnectionString(const std::string& strDBRoot);
// The same for the target file's whole path.
std::string TargetConnectionStringForFile(const std::string& file);
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + " ;Mode=Read|Write;Persist Security
// Info=False"
std::string SourceConnectionString(const std::string& source_path);

// Creates and opens cnTarget (on TargetDatabaseFile), creates the three target recordsets, creates
// and opens cnSource from the source path, creates rsSource — in this order. A failure stops it
// where it happens (the error passes on): a failed target open leaves cnTarget holding a connection
// that is not open and the other fields as they were; a failed source open leaves cnSource not open
// and rsSource as it was.
void OpenDatabaseConnections(DatabaseState& state, const std::string& txt_DBPfad);

// Closes cnTarget, then cnSource; skips a connection that is absent or not open.
void CloseDatabaseConnections(DatabaseState& state);

}  // namespace run
