#include "db/connection_string.h"

#include "db/error.h"
#include "jet/text/unicode.h"

namespace db {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

[[noreturn]] void Malformed(const std::string& why) {
  throw DbError(ErrorCode::kBadArguments, "Ungültige Verbindungszeichenfolge: " + why + ".");
}

bool ParseBool(std::string_view value, const std::string& key) {
  const std::string v = jet::FoldCase(value);
  if (v == "true" || v == "yes" || v == "-1") return true;
  if (v == "false" || v == "no" || v == "0") return false;
  Malformed("'" + key + "' erwartet True oder False");
}

}  // namespace

bool ConnectionSettings::read_only() const {
  const std::string m = jet::FoldCase(mode);
  return m == "read" || m == "1";
}

ConnectionSettings ParseConnectionString(std::string_view text) {
  ConnectionSettings s;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t eq = text.find('=', i);
    const std::size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      if (!Trim(text.substr(i, semi == std::string_view::npos ? text.npos : semi - i)).empty()) {
        Malformed("Eintrag ohne '='");
      }
      if (semi == std::string_view::npos) break;
      i = semi + 1;
      continue;
    }
    const std::string key = std::string(Trim(text.substr(i, eq - i)));
    std::size_t j = eq + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    std::string value;
    if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
      const char quote = text[j++];
      while (true) {
        if (j >= text.size()) Malformed("Wert ohne schließendes Anführungszeichen");
        if (text[j] == quote) {
          if (j + 1 < text.size() && text[j + 1] == quote) {
            value.push_back(quote);
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value.push_back(text[j++]);
      }
      const std::size_t end = text.find(';', j);
      if (!Trim(text.substr(j, end == std::string_view::npos ? text.npos : end - j)).empty()) {
        Malformed("Zeichen nach dem Anführungszeichen");
      }
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      const std::size_t end = text.find(';', j);
      value =
          std::string(Trim(text.substr(j, end == std::string_view::npos ? text.npos : end - j)));
      i = end == std::string_view::npos ? text.size() : end + 1;
    }
    const std::string k = jet::FoldCase(key);
    if (k == "provider") {
      s.provider = value;
    } else if (k == "data source") {
      s.data_source = value;
    } else if (k == "jet oledb:database password") {
      s.database_password = value;
    } else if (k == "mode") {
      s.mode = value;
    } else if (k == "persist security info") {
      s.persist_security_info = ParseBool(value, key);
    } else if (k == "user id" || k == "password") {
      if (!value.empty() && jet::FoldCase(value) != "admin") {
        Malformed("Benutzerkonten werden nicht unterstützt");
      }
    } else {
      Malformed("unbekannter Schlüssel '" + key + "'");
    }
  }
  if (jet::FoldCase(s.provider) != jet::FoldCase(kJetProvider)) {
    throw DbError(ErrorCode::kProviderNotFound, "Der Provider '" + s.provider +
                                                    "' wurde nicht gefunden. Er ist möglicherweise "
                                                    "nicht ordnungsgemäß installiert.");
  }
  if (s.data_source.empty()) Malformed("'Data Source' fehlt");
  return s;
}

}  // namespace db
