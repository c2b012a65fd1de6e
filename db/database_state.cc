#include "db/database_state.h"

#include "db/settings.h"
#include "db/target_layout.h"

namespace db {

std::string LookupTargetFolder() {
  const std::string application = std::string("Zentavo") + "Settings";
  return GetSetting(application, kSettingsSection, kSettingsKey, "");
}

std::string TargetConnectionString(const std::string& strDBRoot) {
  return std::string("Provider=Microsoft.Jet.OLEDB.4.0;") + "Data Source=" + strDBRoot +
         "DBZentavo.mdb ;" +
         "Persist Security Info=False;Jet OLEDB:Database Password=" + target::kDatabasePassword +
         ";";
}

std::string SourceConnectionString(const std::string& source_path) {
  return std::string("Provider=Microsoft.Jet.OLEDB.4.0;") + "Data Source=" + source_path + " ;" +
         "Mode=Read|Write;Persist Security Info=False";
}

void OpenDatabaseConnections(DatabaseState& s, const std::string& txt_DBPfad) {
  s.cnTarget = std::make_shared<Connection>();
  s.cnTarget->Open(TargetConnectionString(s.strDBRoot), "", "", adConnectUnspecified);
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
