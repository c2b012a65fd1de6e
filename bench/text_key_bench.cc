// text_key_bench: how fast the index key encoder turns texts into keys, per sort order.
//
//   text_key_bench [--repeat N]
//
// Encodes two fixed sets of texts N times (default 200) in each Jet 4 General order and prints the
// keys per second and the time per key: Western product and customer texts (German words with
// umlauts and ß, digits, punctuation), and texts in other scripts and with emoji, where the order
// keys them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "jet/text/text_sort_key.h"

namespace {

using Clock = std::chrono::steady_clock;

// The Western texts, or (other) the texts in other scripts and with emoji that the order keys.
std::vector<std::string> Texts(jet::TextSortOrder order, bool other_scripts) {
  const char* words[] = {
      "Pizza Margherita",       "Spaghetti Bolognese", "Salat Caprese",
      "Schnitzel Wiener Art",   "Käsespätzle",         "Weißbier 0,5 l",
      "Apfelstrudel mit Sahne", "Café Crème",          "Rinderroulade - hausgemacht",
      "Döner Teller (groß)",    "Frühlingsrolle",      "Müller-Lüdenscheidt",
      "Bäckerei O'Brien",       "Straße 12a",          "Œuvre"};
  const char* other[] = {"寿司", "مطعم", "שלום", "ข้าวผัด", "Pizza 🍕", "Scharf 🌶️"};
  std::vector<std::string> texts;
  for (int i = 0; i < 40 && !other_scripts; ++i) {
    for (const char* w : words) texts.push_back(std::string(w) + " " + std::to_string(i));
  }
  // Texts outside the Western scripts, where the order keys them.
  jet::ByteString key;
  for (const char* w : other) {
    if (!other_scripts) break;
    key.clear();
    if (!jet::AppendTextKey(w, order, true, key).ok()) continue;
    for (int i = 0; i < 40; ++i) texts.push_back(std::string(w) + " " + std::to_string(i));
  }
  return texts;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 200;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "Aufruf: text_key_bench [--repeat N]\n");
      return 2;
    }
  }
  const std::pair<const char*, jet::TextSortOrder> orders[] = {
      {"Allgemein (Access 2000-2007)", jet::TextSortOrder::kGeneralLegacy},
      {"Allgemein (ab Access 2010)", jet::TextSortOrder::kGeneral}};
  for (const auto& [name, order] : orders) {
    for (const bool other_scripts : {false, true}) {
      const std::vector<std::string> texts = Texts(order, other_scripts);
      if (texts.empty()) continue;
      jet::ByteString key;
      std::size_t bytes = 0, keys = 0;
      const auto start = Clock::now();
      for (int r = 0; r < repeat; ++r) {
        for (const std::string& t : texts) {
          key.clear();
          if (!jet::AppendTextKey(t, order, true, key).ok()) return 1;
          bytes += key.size();
          ++keys;
        }
      }
      const double s = std::chrono::duration<double>(Clock::now() - start).count();
      std::printf(
          "%-30s %-9s %4zu Texte, %zu Schlüssel: %.0f Schlüssel/s, %.0f ns je Schlüssel (%zu "
          "Bytes)\n",
          name, other_scripts ? "andere" : "westlich", texts.size(), keys,
          static_cast<double>(keys) / s, 1e9 * s / static_cast<double>(keys), bytes);
    }
  }
  return 0;
}
