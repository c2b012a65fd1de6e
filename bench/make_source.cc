// make-source: a source database of a chosen size for the scaling benchmark, written with the
// project's own engine into a copy of the empty sample source.
//
//   make-source ARTICLES ADDONS OUT
//
// ARTICLES articles in ARTICLES / 100 groups (at least one), every column filled as the import's
// validation expects, and ADDONS add-on articles.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "jet/database/database.h"

namespace {

using jet::Value;

class RowBuilder {
 public:
  explicit RowBuilder(const jet::TableDef& table) : table_(table), values_(table.columns.size()) {}

  RowBuilder& Set(std::string_view column, Value value) {
    const jet::Column* c = table_.FindColumn(column);
    if (c == nullptr) {
      std::cerr << "make-source: '" << table_.name << "' hat keine Spalte '" << column << "'\n";
      std::exit(1);
    }
    values_[static_cast<std::size_t>(c - table_.columns.data())] = std::move(value);
    return *this;
  }
  std::vector<Value>& values() { return values_; }

 private:
  const jet::TableDef& table_;
  std::vector<Value> values_;
};

jet::Currency Money(long long cents) { return jet::Currency{cents * 100}; }

void Check(const jet::Status& s) {
  if (!s.ok()) {
    std::cerr << "make-source: " << s.ToString() << "\n";
    std::exit(1);
  }
}

// Columns both tables have.
void FillCommon(RowBuilder& row, const std::string& name, long long cents) {
  row.Set("Bezeichnung", Value(name))
      .Set("Einheit", Value(std::string("Stk.")))
      .Set("EinheitAnzahl", Value(1.0))
      .Set("Ccy", Value(std::string("EUR")))
      .Set("Preis", Value(Money(cents * 100 / 119)))
      .Set("MWSt", Value(19.0))
      .Set("PreisMWSt", Value(Money(cents)))
      .Set("FirmenName", Value(std::string("Testbetrieb")))
      .Set("PreisGruppe", Value(std::int16_t{1}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "Aufruf: make-source ARTIKEL ZUSATZARTIKEL ZIELDATEI\n";
    return 64;
  }
  const long articles = std::strtol(argv[1], nullptr, 10);
  const long addons = std::strtol(argv[2], nullptr, 10);
  const std::filesystem::path out = argv[3];
  if (articles < 0 || addons < 0) {
    std::cerr << "make-source: Anzahlen dürfen nicht negativ sein\n";
    return 64;
  }
  std::error_code ec;
  std::filesystem::copy_file(PI_EMPTY_SOURCE, out,
                             std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    std::cerr << "make-source: " << ec.message() << "\n";
    return 1;
  }
  auto db = jet::Database::Open(out.string(), {.password = "", .writable = true});
  Check(db.status());
  const long groups = std::max(1L, articles / 100);
  auto stamm = (*db)->GetTable("ArtikelStamm");
  Check(stamm.status());
  for (long i = 0; i < articles; ++i) {
    RowBuilder row(**stamm);
    FillCommon(row, "Artikel " + std::to_string(i + 1), 250 + (i % 1000) * 5);
    row.Set("Kurzzeichen", Value("A" + std::to_string(i + 1)))
        .Set("Gruppe", Value("Gruppe " + std::to_string(i % groups + 1)))
        .Set("Mindestbestand", Value(std::int32_t{5}))
        .Set("BestandesÄnderung", Value(std::int32_t{0}))
        .Set("Inventarwert", Value(Money(0)))
        .Set("Einstandspreis", Value(Money(100)))
        .Set("InventarDatum", Value(jet::DateTime{45000.0}))
        .Set("InventarDatumLong", Value(std::int32_t{45000}))
        .Set("InventarZeit", Value(jet::DateTime{0.5}))
        .Set("InventarZeitDouble", Value(0.5));
    Check((*db)->InsertRow("ArtikelStamm", row.values()).status());
  }
  auto zusatz = (*db)->GetTable("ArtikelZusatzStamm");
  Check(zusatz.status());
  for (long i = 0; i < addons; ++i) {
    RowBuilder row(**zusatz);
    FillCommon(row, "Zusatz " + std::to_string(i + 1), 50 + i * 10);
    row.Set("Gruppe", Value(std::string("Extras")));
    Check((*db)->InsertRow("ArtikelZusatzStamm", row.values()).status());
  }
  Check((*db)->Commit());
  std::cout << out.string() << ": " << articles << " Artikel in " << groups << " Gruppen, "
            << addons << " Zusatzartikel\n";
  return 0;
}
