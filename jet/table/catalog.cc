#include "jet/table/catalog.h"

#include "jet/table/row_reader.h"
#include "jet/table/row_walker.h"

namespace jet {
namespace {

const Value* ColumnValue(const TableDef& t, const std::vector<Value>& row, std::string_view name) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].name == name) return &row[i];
  }
  return nullptr;
}

}  // namespace

Result<TableDef> ReadCatalogDef(const PageStore& store) {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(store, kCatalogPage, kCatalogName));
  const char* needed[] = {"Id", "ParentId", "Name", "Type", "Flags"};
  for (const char* n : needed) {
    if (def.FindColumn(n) == nullptr) {
      return Status::Corrupt("Beschädigte Datenbank: Dem Systemkatalog fehlt die Spalte '" +
                             std::string(n) + "'.");
    }
  }
  return def;
}

Result<std::vector<CatalogEntry>> ReadCatalog(const PageStore& store, const TableDef& def) {
  std::vector<CatalogEntry> entries;
  RowWalker rows(store, def);
  std::vector<Value> row;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, rows.Next());
    if (!more) break;
    JET_RETURN_IF_ERROR(DecodeRow(store, def, rows.row(), row));
    CatalogEntry e;
    const Value* name = ColumnValue(def, row, "Name");
    const Value* id = ColumnValue(def, row, "Id");
    const Value* parent = ColumnValue(def, row, "ParentId");
    const Value* type = ColumnValue(def, row, "Type");
    const Value* flags = ColumnValue(def, row, "Flags");
    const Value* props = ColumnValue(def, row, "LvProp");
    if (name && name->is<std::string>()) e.name = name->as<std::string>();
    if (id && id->is<std::int32_t>()) e.id = id->as<std::int32_t>();
    if (parent && parent->is<std::int32_t>()) e.parent_id = parent->as<std::int32_t>();
    if (type && type->is<std::int16_t>()) e.type = type->as<std::int16_t>();
    if (flags && flags->is<std::int32_t>())
      e.flags = static_cast<std::uint32_t>(flags->as<std::int32_t>());
    if (props && props->is<ByteString>()) e.properties = props->as<ByteString>();
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace jet
