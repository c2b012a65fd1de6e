#include "run/database_state.h"

#include <sys/stat.h>

#include "db/error.h"
#include "host/target_lookup.h"
#include "run/target_layout.h"

namespace run {

std::string LookupTargetFolder() { return LookupTargetSetting().value; }

host::SettingsEntry LookupTargetSetting() {
  std::vector<host::TargetCandidate> candidates = host::FindTargetCandidates();
  if (candidates.empty()) return host::SettingsEntry{};
  if (candidates.size() > 1) throw host::SeveralTargetsError(std::move(candidates));
  return host::ChooseCandidate(candidates.front());
}

std::string TargetDatabaseFile(const DatabaseState& s) {
  if (!s.target_file.empty()) return s.target_file;
  if (!s.strDBRootPrefix.empty()) {
    const host::WineTarget target = host::MapWineTarget(s.strDBRootPrefix, s.strDBRoot);
    if (target.code != db::ErrorCode::kOk)
      throw db::TargetLocationError(target.code, target.message);
    return target.file;
  }
  // A folder of this system, as the settings file records it: the file it names must exist.
  std::string file = s.strDBRoot + host::kTargetFileName;
  struct stat st;
  if (::stat(file.c_str(), &st) == 0) return file;
  const std::size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw db::TargetLocationError(db::ErrorCode::kPathNotValid,
                                  "Der eingetragene Zielordner '" + s.strDBRoot + "' (Datei '" +
                                      host::SettingsFile(host::kSettingsApplication) +
                                      "') existiert nicht.");
  }
  throw db::TargetLocationError(db::ErrorCode::kFileNotFound,
                                "Die Zieldatenbank '" + file +
                                    "' existiert nicht (eingetragen in '" +
                                    host::SettingsFile(host::kSettingsApplication) + "').");
}

std::string TargetConnectionString(const std::string& strDBRoot) {
  return TargetConnectionStringForFile(strDBRoot + host::kTargetFileName);
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
  s.cnTarget = std::make_shared<db::Connection>();
  s.cnTarget->SetTestOptions(s.target_test);
  s.cnTarget->Open(TargetConnectionStringForFile(TargetDatabaseFile(s)), "", "",
                   db::adConnectUnspecified);
  if (std::string said = s.cnTarget->RolledBack(); !said.empty()) s.rolled_back = std::move(said);
  s.rsTargetA = std::make_shared<db::Recordset>();
  s.rsTargetB = std::make_shared<db::Recordset>();
  s.rsTargetC = std::make_shared<db::Recordset>();
  s.cnSource = std::make_shared<db::Connection>();
  s.cnSource->SetReadOnly(true);  // the source is only read, whatever its Mode says
  s.cnSource->Open(SourceConnectionString(txt_DBPfad), "", "", db::adConnectUnspecified);
  s.rsSource = std::make_shared<db::Recordset>();
}

void CloseDatabaseConnections(DatabaseState& s) {
  if (s.cnTarget && s.cnTarget->IsOpen()) s.cnTarget->Close();
  if (s.cnSource && s.cnSource->IsOpen()) s.cnSource->Close();
}

}  // namespace run
