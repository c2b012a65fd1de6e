#include "run/run_context.h"

#include <limits>

#include "db/error.h"

namespace run {

void RunContext::AdvanceProgress() {
  progress().SetValue(static_cast<float>(counter));
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    throw db::DbError(db::ErrorCode::kOverflow);
  }
  ++counter;
}

void RunContext::TellRolledBack() {
  if (state.rolled_back.empty()) return;
  const std::string said = std::move(state.rolled_back);
  state.rolled_back.clear();
  user.MsgBox(said, vbInformation, kTitleImport);
}

namespace {

// A description goes inside the message's parentheses: a final full stop of its own would stand
// before the closing one (").).").
std::string InParentheses(const std::string& description) {
  std::string text = description;
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  return "(" + text + ")";
}

}  // namespace

std::string UnexpectedErrorMessage(db::ErrorCode code, const std::string& description,
                                   TargetAfterError target) {
  const char* what_happened =
      target == TargetAfterError::kCompleted
          ? "Der Import wurde dennoch vollständig in die Zieldatenbank übernommen."
          : "Die Zieldatenbank wurde nicht verändert.";
  return "Es ist ein unerwarteter Fehler aufgetreten " +
         InParentheses("Fehler " + std::to_string(db::Number(code)) + ": " + description) + ". " +
         what_happened + " Das Programm wird jetzt beendet.";
}

std::string RestoredMessage(const std::string& backup, const std::string& target,
                            const std::string& kept_as) {
  return "Die Sicherung '" + backup + "' ist zurückgeholt: Sie ist jetzt die Zieldatenbank '" +
         target + "'. Die ersetzte Datenbank liegt als '" + kept_as +
         "' daneben. Das Programm wird nun beendet.";
}

std::string RestoreRefusedMessage(db::ErrorCode code, const std::string& description) {
  return "Die Sicherung kann nicht zurückgeholt werden (Fehler " +
         std::to_string(db::Number(code)) + ": " + description +
         "). Die Zieldatenbank wurde nicht verändert. Das Programm wird jetzt beendet.";
}

std::string DryRunSummary(const RunCounts& c) {
  std::string text =
      "Probelauf: Die Quelldatenbank kann eingelesen werden. Ein Import würde in die "
      "Zieldatenbank schreiben:\n"
      "  Produktgruppen:                " +
      std::to_string(c.categories) + "\n" +
      "  Artikel:                       " + std::to_string(c.products) + "\n" +
      "  Preiszeilen der Artikel:       " + std::to_string(c.product_prices) + "\n" +
      "  Zusatzartikel:                 " + std::to_string(c.extras) + "\n" +
      "  Preiszeilen der Zusatzartikel: " + std::to_string(c.extra_prices) + "\n" +
      "  Zusatzartikel je Artikel:      " + std::to_string(c.assignments) + "\n" +
      "Artikel ohne Produktgruppe in der Quelle: " + std::to_string(c.articles_without_group);
  if (c.articles_without_group > 0) text += " (sie kämen in die Produktgruppe ohne Namen)";
  text += ".\nDie Zieldatenbank wurde nicht verändert.";
  return text;
}

std::string TargetLocationMessage(db::ErrorCode code, const std::string& description) {
  return "Die Datenbank von Zentavo wurde nicht gefunden " +
         InParentheses("Fehler " + std::to_string(db::Number(code)) + ": " + description) +
         ". Es wurde nichts verändert. Das Programm wird jetzt beendet.";
}

std::string InternalErrorDescription(const std::exception& e) {
  return std::string(db::StandardText(db::ErrorCode::kInternalError)) + ": " + e.what();
}

}  // namespace run
