// The target database: its password, the six product tables, and every statement sent to it. The
// phases spell the column names themselves, where they read and write the fields.
#pragma once

#include <array>
#include <string_view>

namespace run::target {

inline constexpr char kDatabasePassword[] = "pwok572hafxi317nrb";

inline constexpr std::string_view kKategorien = "tbl_Verwaltung_ProdukteKategorien";
inline constexpr std::string_view kProdukte = "tbl_Verwaltung_Produkte";
inline constexpr std::string_view kProduktePreise = "tbl_Verwaltung_Produkte_Preise";
inline constexpr std::string_view kExtras = "tbl_Verwaltung_ProdukteExtras";
inline constexpr std::string_view kExtrasPreise = "tbl_Verwaltung_ProdukteExtras_Preise";
inline constexpr std::string_view kProdukteExtras = "tbl_Verwaltung_Produkte_Extras";

// The target reset, in this order: rows that refer to others go before the rows they refer to,
// so that a target whose relationships enforce integrity without cascading takes every delete.
// The run is one transaction, so no one sees the tables between two of them.
inline constexpr std::array<const char*, 6> kResetStatements = {
    "DELETE * FROM tbl_Verwaltung_Produkte_Extras",
    "DELETE * FROM tbl_Verwaltung_Produkte_Preise",
    "DELETE * FROM tbl_Verwaltung_ProdukteExtras_Preise",
    "DELETE * FROM tbl_Verwaltung_Produkte",
    "DELETE * FROM tbl_Verwaltung_ProdukteExtras",
    "DELETE * FROM tbl_Verwaltung_ProdukteKategorien",
};

// Look-ups, joined with their values (see db/statement_text.h); the pieces are exact.
inline constexpr char kSelectCategoryPrefix[] =
    "SELECT * FROM tbl_Verwaltung_ProdukteKategorien WHERE txt_ProduktGruppe = '";
inline constexpr char kSelectCategoryKeys[] =
    "SELECT max(lng_ID) AS lng_GruppeID, txt_ProduktGruppe FROM "
    "tbl_Verwaltung_ProdukteKategorien GROUP BY txt_ProduktGruppe";
inline constexpr char kSelectProductPrefix[] =
    "SELECT * FROM tbl_Verwaltung_Produkte WHERE lng_ProduktGruppe = ";
inline constexpr char kSelectProductMiddle[] = " AND txt_Kurzzeichen = '";
inline constexpr char kSelectProductSuffix[] = "' ";
inline constexpr char kLastProductKey[] =
    "SELECT max(lng_ID) AS lng_LastID FROM tbl_Verwaltung_Produkte";
inline constexpr char kSelectProductPricesPrefix[] =
    "SELECT * FROM tbl_Verwaltung_Produkte_Preise WHERE lng_ProduktID = ";
inline constexpr char kSelectExtraPrefix[] =
    "SELECT * FROM tbl_Verwaltung_ProdukteExtras WHERE txt_Extra = '";
inline constexpr char kSelectExtraSuffix[] = "' ";
inline constexpr char kLastExtraKey[] =
    "SELECT max(lng_ID) AS lng_LastID FROM tbl_Verwaltung_ProdukteExtras";
inline constexpr char kSelectExtraPricesPrefix[] =
    "SELECT * FROM tbl_Verwaltung_ProdukteExtras_Preise WHERE lng_ExtraID = ";
inline constexpr char kCountProducts[] =
    "SELECT Count(*) As TotalProdukte FROM tbl_Verwaltung_Produkte";
inline constexpr char kSelectAllAssignments[] = "SELECT * FROM tbl_Verwaltung_Produkte_Extras";
inline constexpr char kSelectAllProducts[] = "SELECT * FROM tbl_Verwaltung_Produkte";
inline constexpr char kSelectAllExtras[] = "SELECT * FROM tbl_Verwaltung_ProdukteExtras";

}  // namespace run::target
