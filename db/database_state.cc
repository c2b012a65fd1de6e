#include "db/database_state.h"

#include <sys/stat.h>

#include "db/error.h"
#include "db/target_layout.h"
#include "db/target_lookup.h"

namespace db {
namespace {

constexpr char kTargetFileName[] = "DBZentavo.mdb";

}  // namespace

std::string LookupTargetFolder() { return LookupTargetSetting().value; }

SettingsEntry LookupTargetSetting() {
  std::vector<TargetCandidate> candidates = FindTargetCandidates();
  if (candidates.empty()) return SettingsEntry{};
  if (candidates.size() > 1) throw SeveralTargetsError(std::move(candidates));
  return ChooseCandidate(candidates.front());
}

std::string TargetDatabaseFile(const DatabaseState& s) {
  if (!s.target_file.empty()) return s.target_file;
  if (!s.strDBRootPrefix.empty()) {
    const WineTarget target = MapWineTarget(s.strDBRootPrefix, s.strDBRoot);
    if (target.code != ErrorCode::kOk) throw TargetLocationError(target.code, target.message);
    return target.file;
  }
  // A folder of this system, as the settings file records it: the file it names must exist.
  std::string file = s.strDBRoot + kTargetFileName;
  struct stat st;
  if (::stat(file.c_str(), &st) == 0) return file;
  const std::size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw TargetLocationError(ErrorCode::kPathNotValid,
                              "Der eingetragene Zielordner '" + s.strDBRoot + "' (Datei '" +
                                  SettingsFile(std::string("Zentavo") + "Settings") +
                                  "') existiert nicht.");
  }
  throw TargetLocationError(ErrorCode::kFileNotFound,
                            "Die Zieldatenbank '" + file + "' existiert nicht (eingetragen in '" +
                                SettingsFile(std::string("Zentavo") + "Settings") + "').");
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
