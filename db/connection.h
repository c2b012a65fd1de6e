// A connection to one Jet database.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/ado.h"
#include "db/connection_string.h"
#include "db/sql/table_data.h"
#include "jet/database.h"

namespace db {

class Recordset;

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database the connection string names, with its database password. The file is
  // read and never written by opening; a database opened with Mode=Read refuses every write.
  // Throws DbError: the engine's error (file missing 3024, not a database 3343, wrong password
  // 3031, damaged 3049, ...) or one of the connection string (3706, 3001); 3705 when open.
  void Open(const std::string& connection_string, const std::string& user_id = "",
            const std::string& password = "", int options = adConnectUnspecified);

  // Runs one statement whose result is not wanted.
  void Execute(const std::string& command_text, int options = adCmdUnspecified);

  // Closes the database and every recordset still open on it. Throws 3704 when not open.
  void Close();

  bool IsOpen() const { return db_ != nullptr; }
  const ConnectionSettings& settings() const { return settings_; }

  // For the record objects: the tables of the open database (throws 3709 when closed).
  sql::TableProvider& tables();
  const jet::Database& database() const { return *db_; }

 private:
  friend class Recordset;
  void Register(Recordset* rs);
  void Unregister(Recordset* rs);

  ConnectionSettings settings_;
  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<sql::DatabaseTables> tables_;
  std::vector<Recordset*> open_;
};

}  // namespace db
