// The load step's search for Zentavo's database: the settings file, or the registry of every Wine
// prefix of the user (README, "Zentavo on Linux", lists the places in search order).
//
// The settings file $XDG_CONFIG_HOME/ZentavoSettings.ini, when it exists, decides alone: it must
// be readable and hold the entry. Otherwise, when $WINEPREFIX is set, only that prefix counts
// (as in Wine), and it must be an absolute path of a folder. Otherwise every prefix of
// UserWinePrefixes() whose user.reg holds a non-empty entry is a candidate: none means Zentavo is
// not installed, one is taken, several are the user's choice. Only user.reg is read; nothing is
// written and Wine is not started.
//
// Faults of the search itself are thrown as TargetLocationError with a German description that
// names the path concerned, and the program ends with the status of a missing setting.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "db/error.h"
#include "host/settings.h"

namespace host {

// Application name, section and key of the settings entry that records the target folder, and
// the name of the database file in that folder.
inline constexpr char kSettingsApplication[] = "ZentavoSettings";
inline constexpr char kSettingsSection[] = "DB";
inline constexpr char kSettingsKey[] = "Root";
inline constexpr char kTargetFileName[] = "DBZentavo.mdb";

// One place that records the target folder.
struct TargetCandidate {
  std::string prefix;  // the Wine prefix whose user.reg holds the entry; empty for the INI file
  std::string root;    // the recorded folder, as recorded
  // The database file it leads to, as the kernel resolves it (the file Wine opens); empty when
  // it leads to none (then `problem` says why) or when the entry comes from the INI file.
  std::string database;
  std::optional<std::time_t> last_change;  // of `database`
  db::ErrorCode problem_code = db::ErrorCode::kOk;
  std::string problem;  // German, naming the recorded path and the prefix; empty when none
};

// Where a folder that Zentavo recorded under Wine leads: the database file (kernel-resolved), or
// the error number and German text of why it leads to none, naming the recorded path and prefix.
struct WineTarget {
  std::string file;
  db::ErrorCode code = db::ErrorCode::kOk;
  std::string message;
};
WineTarget MapWineTarget(const std::string& prefix, const std::string& root);

// The candidates in search order: empty when Zentavo is not installed (no entry, or an empty
// one). Throws TargetLocationError for an unreadable settings file or one without the entry, an
// unusable $WINEPREFIX, and a user.reg that cannot be read or parsed.
std::vector<TargetCandidate> FindTargetCandidates();

// The entry to load from one candidate: its recorded folder and its prefix. Throws its problem
// as TargetLocationError when it leads to no database.
SettingsEntry ChooseCandidate(const TargetCandidate& candidate);

// "10.12.2026 11:35" in local time, or "Datei fehlt" without a database.
std::string LastChangeText(const TargetCandidate& candidate);

// What a command line answers when several prefixes hold the entry: each prefix with the
// database it leads to and that file's last change, and how to choose one (WINEPREFIX=... or
// --target).
std::string SeveralTargetsMessage(const std::vector<TargetCandidate>& candidates);

// Several prefixes hold the entry and nothing says which one counts: a command line refuses with
// this (its description is SeveralTargetsMessage), the window asks instead.
class SeveralTargetsError : public db::TargetLocationError {
 public:
  explicit SeveralTargetsError(std::vector<TargetCandidate> candidates)
      : db::TargetLocationError(db::ErrorCode::kPathNotValid, SeveralTargetsMessage(candidates)),
        candidates_(std::move(candidates)) {}
  const std::vector<TargetCandidate>& candidates() const { return candidates_; }

 private:
  std::vector<TargetCandidate> candidates_;
};

}  // namespace host
