#include "host/target_lookup.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "host/wine_prefix.h"
#include "host/wine_registry.h"

namespace host {
namespace {

// The whole file, or a fault naming it: nullopt when it does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path, const char* what) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad() || S_ISDIR(st.st_mode)) {
    throw db::TargetLocationError(db::ErrorCode::kIoError,
                                  std::string(what) + " '" + path +
                                      "' kann nicht gelesen werden. Prüfen Sie "
                                      "ihre Zugriffsrechte.");
  }
  return text.str();
}

// The entry in the prefix's user.reg: nullopt when the file does not exist or holds none.
std::optional<std::string> RegistryEntry(const std::string& prefix) {
  const std::string file = prefix + "/user.reg";
  const std::optional<std::string> text = ReadWholeFile(file, "Die Wine-Registrierung");
  if (!text) return std::nullopt;
  const std::optional<WineRegistry> registry = WineRegistry::Parse(*text);
  if (!registry) {
    throw db::TargetLocationError(db::ErrorCode::kCorrupt,
                                  "Die Wine-Registrierung '" + file +
                                      "' ist beschädigt und kann nicht gelesen werden; ob sie den "
                                      "Eintrag von Zentavo enthält, ist nicht festzustellen.");
  }
  return registry->FindString(RegistrySettingsKey(kSettingsApplication, kSettingsSection),
                              kSettingsKey);
}

std::string Resolved(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

TargetCandidate WineCandidate(const std::string& prefix, const std::string& root) {
  TargetCandidate c;
  c.prefix = prefix;
  c.root = root;
  const WineTarget target = MapWineTarget(prefix, root);
  if (target.code != db::ErrorCode::kOk) {
    c.problem_code = target.code;
    c.problem = target.message;
    return c;
  }
  c.database = target.file;
  struct stat st;
  if (::stat(c.database.c_str(), &st) == 0) c.last_change = st.st_mtime;
  return c;
}

}  // namespace

WineTarget MapWineTarget(const std::string& prefix, const std::string& root) {
  const std::string recorded = root + kTargetFileName;
  const WinePath mapped = MapWindowsPath(prefix, recorded);
  const std::string by_wine =
      "Der von Zentavo unter Wine (Präfix '" + prefix + "') eingetragene Zielordner '" + root + "'";
  switch (mapped.problem) {
    case WinePathProblem::kNone:
      return {mapped.path, db::ErrorCode::kOk, ""};
    case WinePathProblem::kNotAbsolute:
      return {"", db::ErrorCode::kPathNotValid,
              by_wine + " ist kein vollständiger Windows-Pfad mit Laufwerk."};
    case WinePathProblem::kNoDrive:
      return {"", db::ErrorCode::kPathNotValid,
              by_wine + " liegt auf dem Laufwerk " + mapped.where +
                  ", das in diesem Präfix nicht eingerichtet ist (keine Verknüpfung '" + prefix +
                  "/dosdevices/" + static_cast<char>(mapped.where[0] | 0x20) + ":')."};
    case WinePathProblem::kNoShare:
      return {"", db::ErrorCode::kPathNotValid,
              by_wine + " liegt auf der Netzwerkfreigabe " + mapped.where +
                  ", die unter Linux nicht erreichbar ist. Binden Sie die Freigabe ein und "
                  "tragen Sie den Ordner in ZentavoSettings.ini ein."};
    case WinePathProblem::kFolderMissing:
      return {"", db::ErrorCode::kPathNotValid,
              by_wine + " ist nicht erreichbar: der Ordner '" + mapped.where + "' fehlt."};
    case WinePathProblem::kFileMissing:
      return {"", db::ErrorCode::kFileNotFound,
              "Die Datei '" + recorded + "' wurde nicht gefunden (Zentavo unter Wine, Präfix '" +
                  prefix + "', gesucht als '" + mapped.path + "')."};
  }
  return {"", db::ErrorCode::kPathNotValid, by_wine + " ist nicht erreichbar."};
}

std::vector<TargetCandidate> FindTargetCandidates() {
  const std::string ini = SettingsFile(kSettingsApplication);
  if (const auto text = ReadWholeFile(ini, "Die Einstellungsdatei")) {
    const auto value = FindIniValue(*text, kSettingsSection, kSettingsKey);
    if (!value) {
      throw db::TargetLocationError(
          db::ErrorCode::kItemNotFound,
          "Die Einstellungsdatei '" + ini +
              "' enthält keinen Eintrag Root im Abschnitt [DB]. Tragen Sie "
              "dort den Ordner von DBZentavo.mdb ein, z. B. "
              "\"Root=/mnt/kasse/Zentavo/\", oder löschen Sie die Datei.");
    }
    if (value->empty()) return {};
    TargetCandidate c;
    c.root = *value;
    return {c};
  }

  const WinePrefixVariable named = ReadWinePrefixVariable();
  if (!named.fault.empty())
    throw db::TargetLocationError(db::ErrorCode::kPathNotValid, named.fault);
  std::vector<TargetCandidate> candidates;
  std::vector<std::string> seen;  // the prefixes as the kernel resolves them
  for (const std::string& prefix : WinePrefixCandidates()) {
    const std::string real = Resolved(prefix);
    if (std::find(seen.begin(), seen.end(), real) != seen.end()) continue;
    seen.push_back(real);
    const std::optional<std::string> root = RegistryEntry(prefix);
    if (!root || root->empty()) continue;
    candidates.push_back(WineCandidate(prefix, *root));
  }
  return candidates;
}

SettingsEntry ChooseCandidate(const TargetCandidate& candidate) {
  if (!candidate.problem.empty()) {
    throw db::TargetLocationError(candidate.problem_code, candidate.problem);
  }
  return SettingsEntry{candidate.root, candidate.prefix};
}

std::string LastChangeText(const TargetCandidate& candidate) {
  if (!candidate.last_change) return "Datei fehlt";
  std::tm local{};
  const std::time_t t = *candidate.last_change;
  ::localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", &local);
  return text;
}

std::string SeveralTargetsMessage(const std::vector<TargetCandidate>& candidates) {
  std::string text = "Zentavo ist in mehreren Wine-Präfixen eingetragen:\n";
  for (const TargetCandidate& c : candidates) {
    text += "  - Präfix '" + c.prefix + "': ";
    if (c.problem.empty()) {
      text += "Datenbank '" + c.database + "', zuletzt geändert " + LastChangeText(c) + "\n";
    } else {
      text += c.problem + "\n";
    }
  }
  text +=
      "Wählen Sie das Präfix, in dem Zentavo läuft, mit WINEPREFIX=<Präfix> vor dem Aufruf, oder "
      "nennen Sie die Zieldatenbank mit --target <Datei>. Es wurde nichts verändert.";
  return text;
}

}  // namespace host
