// The source database: the two tables the import reads, their columns in the order the
// validation tests them, and every statement sent to it.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace run::source {

// How the validation tests a column's value in a table's first row.
enum class Check {
  kNullTolerant,   // through cNull: Null passes
  kValueRequired,  // converted to text directly: Null fails
};

struct RequiredColumn {
  std::string_view name;
  Check check;
};

inline constexpr std::string_view kArtikelStamm = "ArtikelStamm";
inline constexpr std::string_view kArtikelZusatzStamm = "ArtikelZusatzStamm";

inline constexpr std::string_view kKurzzeichen = "Kurzzeichen";
inline constexpr std::string_view kBezeichnung = "Bezeichnung";
inline constexpr std::string_view kGruppe = "Gruppe";
inline constexpr std::string_view kPreisMWSt = "PreisMWSt";
inline constexpr std::string_view kTotalProdukte = "TotalProdukte";

inline constexpr std::array<RequiredColumn, 19> kArtikelStammColumns = {{
    {"Kurzzeichen", Check::kNullTolerant},
    {"Bezeichnung", Check::kNullTolerant},
    {"Gruppe", Check::kNullTolerant},
    {"Einheit", Check::kNullTolerant},
    {"EinheitAnzahl", Check::kValueRequired},
    {"Ccy", Check::kNullTolerant},
    {"Preis", Check::kValueRequired},
    {"MWSt", Check::kValueRequired},
    {"PreisMWSt", Check::kValueRequired},
    {"Mindestbestand", Check::kValueRequired},
    {"BestandesÄnderung", Check::kValueRequired},
    {"Inventarwert", Check::kValueRequired},
    {"Einstandspreis", Check::kValueRequired},
    {"InventarDatum", Check::kNullTolerant},
    {"InventarDatumLong", Check::kValueRequired},
    {"InventarZeit", Check::kNullTolerant},
    {"InventarZeitDouble", Check::kValueRequired},
    {"FirmenName", Check::kNullTolerant},
    {"PreisGruppe", Check::kValueRequired},
}};

inline constexpr std::array<RequiredColumn, 10> kArtikelZusatzStammColumns = {{
    {"Bezeichnung", Check::kNullTolerant},
    {"Gruppe", Check::kNullTolerant},
    {"Einheit", Check::kNullTolerant},
    {"EinheitAnzahl", Check::kValueRequired},
    {"Ccy", Check::kNullTolerant},
    {"Preis", Check::kValueRequired},
    {"MWSt", Check::kValueRequired},
    {"PreisMWSt", Check::kValueRequired},
    {"FirmenName", Check::kNullTolerant},
    {"PreisGruppe", Check::kValueRequired},
}};

inline constexpr char kSelectAllArticles[] = "SELECT * FROM ArtikelStamm";
inline constexpr char kSelectAllAddOns[] = "SELECT * FROM ArtikelZusatzStamm";
inline constexpr char kSelectGroups[] = "SELECT Gruppe FROM ArtikelStamm GROUP BY Gruppe";
inline constexpr char kCountArticles[] = "SELECT Count(*) As TotalProdukte FROM ArtikelStamm";
inline constexpr char kCountAddOns[] = "SELECT Count(*) As TotalProdukte FROM ArtikelZusatzStamm";
// Joined with the category name and "'" (see statement_text.h).
inline constexpr char kSelectArticlesOfGroupPrefix[] =
    "SELECT * FROM ArtikelStamm WHERE Gruppe = '";

}  // namespace run::source
