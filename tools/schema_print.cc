#include "tools/schema_print.h"

#include <type_traits>

#include "jet/database/relationships.h"
#include "tools/csv_export.h"

namespace inspect {
namespace {

std::string Pointer(jet::RowPointer p) {
  return "Seite " + std::to_string(p.page) + ", Zeile " + std::to_string(p.row);
}

std::string ColumnList(const std::vector<std::string>& columns) {
  std::string text;
  for (const std::string& c : columns) text += (text.empty() ? "" : ", ") + c;
  return text;
}

// The relationships the table takes part in, on either side.
jet::Status PrintRelationships(const jet::Database& db, const jet::TableDef& t, std::ostream& out) {
  JET_ASSIGN_OR_RETURN(std::vector<jet::Relationship> relationships, jet::ReadRelationships(db));
  bool first = true;
  for (const jet::Relationship& rel : relationships) {
    if (!jet::NamesEqual(rel.primary_table, t.name) &&
        !jet::NamesEqual(rel.related_table, t.name)) {
      continue;
    }
    if (first) out << "Beziehungen\n";
    first = false;
    out << "  " << rel.name << ": " << rel.primary_table << " (" << ColumnList(rel.primary_columns)
        << ") -> " << rel.related_table << " (" << ColumnList(rel.related_columns) << ")";
    out << (rel.enforced() ? ", referentielle Integrität" : ", ohne referentielle Integrität");
    if (rel.cascade_updates()) out << ", Aktualisierungsweitergabe";
    if (rel.cascade_deletes()) out << ", Löschweitergabe";
    if (rel.cascade_null()) out << ", Löschen setzt Null";
    if ((rel.flags & jet::kRelationOneToOne) != 0) out << ", 1:1";
    out << "\n";
    if (rel.enforced()) {
      out << "      Fremdschlüsselindizes: "
          << (rel.primary_index.empty() ? "(fehlt)" : rel.primary_index) << " in "
          << rel.primary_table << ", "
          << (rel.related_index.empty() ? "(fehlt)" : rel.related_index) << " in "
          << rel.related_table << "\n";
    }
  }
  return jet::Status::Ok();
}

}  // namespace

std::string PropertyText(const jet::Property& property) {
  const jet::Value& v = property.value;
  if (v.is<bool>()) return v.as<bool>() ? "True" : "False";
  if (v.is<std::string>()) return "\"" + v.as<std::string>() + "\"";
  if (v.is<jet::ByteString>())
    return "<" + std::to_string(v.as<jet::ByteString>().size()) + " Bytes>";
  std::string text = CsvField(v);
  return text;
}

jet::Status PrintSchema(const jet::Database& db, const std::string& name, std::ostream& out) {
  JET_ASSIGN_OR_RETURN(auto t, db.GetTable(name));
  out << "Tabelle " << t->name << "\n";
  out << "  Definitionsseite: " << t->page << "\n";
  out << "  Zeilen: " << t->row_count << "\n";
  out << "  Letzter AutoWert: " << t->autonumber << "\n";
  out << "  Belegungstabelle: " << Pointer(t->usage_map) << "\n";
  out << "  Freiraumtabelle: " << Pointer(t->free_map) << "\n";
  for (const auto& [key, prop] : t->properties) {
    out << "  Eigenschaft " << key << " = " << PropertyText(prop) << "\n";
  }
  out << "Spalten\n";
  for (const jet::Column& c : t->columns) {
    out << "  " << c.number << " " << c.name << ": " << jet::ColumnTypeName(c.type());
    if (c.type() == jet::ColumnType::kText || c.type() == jet::ColumnType::kBinary) {
      const bool ucs2 = db.format().unicode_text && c.type() == jet::ColumnType::kText;
      out << "(" << (ucs2 ? c.length / 2 : c.length) << ")";
    }
    if (c.type() == jet::ColumnType::kDecimal) {
      out << "(" << int{c.precision} << "," << int{c.scale} << ")";
    }
    out << (c.fixed() ? ", fest" : ", variabel");
    out << (c.nullable() ? ", Null erlaubt" : ", nicht Null");
    if (c.autonumber()) out << ", AutoWert";
    if (c.guid_autonumber()) out << ", AutoWert (GUID)";
    if (c.compressed_unicode()) out << ", Unicode-Kompression";
    out << "\n";
    for (const auto& [key, prop] : c.properties) {
      out << "      " << key << " = " << PropertyText(prop) << "\n";
    }
  }
  out << "Indizes\n";
  for (const jet::Index& x : t->indexes) {
    const jet::RealIndex& r = t->real_indexes[x.real_index];
    out << "  " << x.name << " (";
    for (std::size_t i = 0; i < r.columns.size(); ++i) {
      if (i > 0) out << ", ";
      std::string col = "#" + std::to_string(r.columns[i].column_number);
      for (const jet::Column& c : t->columns) {
        if (c.number == r.columns[i].column_number) col = c.name;
      }
      out << col << (r.columns[i].ascending ? " aufsteigend" : " absteigend");
    }
    out << ")";
    if (x.primary()) out << " Primärschlüssel";
    if (x.foreign_reference()) out << " Fremdschlüssel";
    if (r.unique()) out << " eindeutig";
    if (r.ignore_nulls()) out << " Null ignorieren";
    if (r.required()) out << " erforderlich";
    out << ", Indexbaum " << x.real_index << " ab Seite " << r.first_page << "\n";
  }
  return PrintRelationships(db, *t, out);
}

}  // namespace inspect
