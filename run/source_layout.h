// The source database: every statement sent to it. The validation and the phases spell the
// column names themselves, where they read the fields.
#pragma once

namespace run::source {

inline constexpr char kSelectAllArticles[] = "SELECT * FROM ArtikelStamm";
inline constexpr char kSelectAllAddOns[] = "SELECT * FROM ArtikelZusatzStamm";
inline constexpr char kSelectGroups[] = "SELECT Gruppe FROM ArtikelStamm GROUP BY Gruppe";
inline constexpr char kCountArticles[] = "SELECT Count(*) As TotalProdukte FROM ArtikelStamm";
inline constexpr char kCountAddOns[] = "SELECT Count(*) As TotalProdukte FROM ArtikelZusatzStamm";
// Joined with the category name and "'" (see db/statement_text.h).
inline constexpr char kSelectArticlesOfGroupPrefix[] =
    "SELECT * FROM ArtikelStamm WHERE Gruppe = '";
// The articles that no product group takes.
inline constexpr char kCountArticlesWithoutGroup[] =
    "SELECT Count(*) AS TotalProdukte FROM ArtikelStamm WHERE Gruppe IS NULL OR Gruppe = ''";

}  // namespace run::source
