#include "db/database_state.h"

#include "db/error.h"
#include "db/target_layout.h"
#include "db/wine_prefix.h"

namespace db {
namespace {

constexpr char kTargetFileName[] = "DBZentavo.mdb";

}  // namespace

std::string LookupTargetFolder() { return LookupTargetSetting().value; }

SettingsEntry LookupTargetSetting() {
  const std::string application = std::string("Zentavo") + "Settings";
  std::optional<SettingsEntry> entry = FindSetting(application, kSettingsSection, kSettingsKey);
  return entry ? std::move(*entry) : SettingsEntry{};
}

std::string TargetDatabaseFile(const DatabaseState& s) {
  const std::string recorded = s.strDBRoot + kTargetFileName;
  if (s.strDBRootPrefix.empty()) return recorded;
  const WinePath mapped = MapWindowsPath(s.strDBRootPrefix, recorded);
  const std::string by_wine = "Der von Zentavo unter Wine (Präfix '" + s.strDBRootPrefix +
                              "') eingetragene Zielordner '" + s.strDBRoot + "'";
  switch (mapped.problem) {
    case WinePathProblem::kNone:
      return mapped.path;
    case WinePathProblem::kNotAbsolute:
      throw TargetLocationError(ErrorCode::kPathNotValid,
                                by_wine + " ist kein vollständiger Windows-Pfad mit Laufwerk.");
    case WinePathProblem::kNoDrive:
      throw TargetLocationError(ErrorCode::kPathNotValid,
                                by_wine + " liegt auf dem Laufwerk " + mapped.where +
                                    ", das in diesem Präfix nicht eingerichtet "
                                    "ist (keine Verknüpfung in dosdevices).");
    case WinePathProblem::kNoShare:
      throw TargetLocationError(ErrorCode::kPathNotValid,
                                by_wine + " liegt auf der Netzwerkfreigabe " + mapped.where +
                                    ", die unter Linux nicht erreichbar ist. Binden Sie die "
                                    "Freigabe ein und tragen Sie den Ordner in ZentavoSettings.ini "
                                    "ein.");
    case WinePathProblem::kFolderMissing:
      throw TargetLocationError(
          ErrorCode::kPathNotValid,
          by_wine + " ist nicht erreichbar: der Ordner '" + mapped.where + "' fehlt.");
    case WinePathProblem::kFileMissing:
      throw TargetLocationError(ErrorCode::kFileNotFound,
                                "Die Datei '" + recorded +
                                    "' wurde nicht gefunden (Zentavo unter "
                                    "Wine, Präfix '" +
                                    s.strDBRootPrefix + "', gesucht als '" + mapped.path + "').");
  }
  return recorded;
}

std::string TargetConnectionString(const std::string& strDBRoot) {
  return TargetConnectionStringForFile(strDBRoot + kTargetFileName);
}

std::string TargetConnectionStringForFile(const std::string& file) {
  return std::string("Provider=Microsoft.Jet.OLEDB.4.0;") + "Data Source=" + file + " ;" +
         "Persist Security Info=False;Jet OLEDB:Database Password=" + target::kDatabasePassword +
         ";";
}

std::string SourceConnectionString(const std::string& source_path) {
  return std::string("Provider=Microsoft.Jet.OLEDB.4.0;") + "Data Source=" + source_path + " ;" +
         "Mode=Read|Write;Persist Security Info=False";
}

void OpenDatabaseConnections(DatabaseState& s, const std::string& txt_DBPfad) {
  s.cnTarget = std::make_shared<Connection>();
  s.cnTarget->Open(TargetConnectionStringForFile(TargetDatabaseFile(s)), "", "",
                   adConnectUnspecified);
  if (std::string said = s.cnTarget->RolledBack(); !said.empty()) s.rolled_back = std::move(said);
  s.rsTargetA = std::make_shared<Recordset>();
  s.rsTargetB = std::make_shared<Recordset>();
  s.rsTargetC = std::make_shared<Recordset>();
  s.cnSource = std::make_shared<Connection>();
  s.cnSource->SetReadOnly(true);  // the source is only read, whatever its Mode says
  s.cnSource->Open(SourceConnectionString(txt_DBPfad), "", "", adConnectUnspecified);
  s.rsSource = std::make_shared<Recordset>();
}

void CloseDatabaseConnections(DatabaseState& s) {
  if (s.cnTarget && s.cnTarget->IsOpen()) s.cnTarget->Close();
  if (s.cnSource && s.cnSource->IsOpen()) s.cnSource->Close();
}

}  // namespace db
