#include "app/command_line.h"

#include <QCommandLineParser>

#include "import/import_run.h"
#include "import/restore_run.h"
#include "run/database_state.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/terminal_user_side.h"

#ifndef PI_VERSION
#define PI_VERSION "unbekannt"
#define PI_RELEASE_YEAR ""
#define PI_MAINTAINER ""
#endif

namespace app {
namespace {

constexpr char kProgram[] = "produkte-import";

std::string Text(const QString& s) { return s.toLocal8Bit().toStdString(); }

// The load step of the command line: the target named by --target, or the folder the settings
// record; without either the information message and status 2, as the window's load step.
// Returns false when the program ends here.
// A search that leads to no database (several Wine prefixes holding the entry among them, which
// the window would ask about and the command line refuses, naming them all) ends the program
// with its message and the status of a missing setting.
bool LoadTarget(const CommandLine& line, run::DatabaseState& state, run::RunContext& run) {
  if (!line.target.empty()) {
    state.target_file = line.target;
    return true;
  }
  host::SettingsEntry entry;
  try {
    entry = run::LookupTargetSetting();
  } catch (const db::TargetLocationError& e) {
    run.error_number = e.number();
    run.user.MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
                    run::kTitleImport);
    return false;
  }
  state.strDBRoot = std::move(entry.value);
  state.strDBRootPrefix = std::move(entry.wine_prefix);
  if (!state.strDBRoot.empty()) return true;
  run.user.MsgBox(run::kMessageNotInstalled, run::vbInformation, run::kTitleImport);
  return false;
}

}  // namespace

std::string HelpText() {
  return std::string("Aufruf: ") + kProgram + " [OPTION]...\n" +
         "Übernimmt Produktgruppen, Artikel mit Preisen und Zusatzartikel aus der Datenbank von\n"
         "Orbelin (Kastrel.mdb) in die Datenbank von Zentavo (DBZentavo.mdb). Ohne Optionen\n"
         "öffnet sich das Fenster; mit Optionen läuft alles im Terminal, ohne Bildschirm.\n"
         "\n"
         "  -s, --source=DATEI     importiert aus der Quelldatenbank DATEI\n"
         "  -n, --dry-run          prüft mit --source nur: meldet, was ein Import schreiben\n"
         "                         würde, und ändert nichts\n"
         "  -r, --restore [SICHERUNG]\n"
         "                         holt die neueste (oder die genannte) Sicherung als\n"
         "                         DBZentavo.mdb zurück\n"
         "  -t, --target=DATEI     arbeitet mit der Zieldatenbank DATEI statt mit der, die\n"
         "                         Zentavo in seinen Einstellungen nennt\n"
         "  -h, --help             zeigt diese Hilfe und beendet das Programm\n"
         "      --version          zeigt die Version und beendet das Programm\n"
         "\n"
         "Vor jedem Import bleibt die alte Zieldatenbank als\n"
         "\"DBZentavo vor Import JJJJ-MM-TT HH-MM.mdb\" daneben erhalten; die letzten fünf\n"
         "dieser Sicherungen werden aufbewahrt.\n"
         "\n"
         "Exit-Status:\n"
         "  0   Import (oder Probelauf, Wiederherstellung) abgeschlossen\n"
         "  1   die Quelldatenbank (oder Sicherung) kann nicht eingelesen werden\n"
         "  2   Zentavo ist nicht eingerichtet (kein Eintrag des Zielordners)\n"
         "  3   unerwarteter Fehler; die Zieldatenbank ist unverändert\n"
         "  64  falscher Aufruf\n"
         "\n"
         "Ausführlich: man produkte-import\n"
         "Fehler bitte an " +
         PI_MAINTAINER + " melden.\n";
}

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
  const QCommandLineOption help({"h", "help"}, "");
  const QCommandLineOption version("version", "");
  const QCommandLineOption source({"s", "source"}, "", "DATEI");
  const QCommandLineOption target({"t", "target"}, "", "DATEI");
  const QCommandLineOption dry_run({"n", "dry-run"}, "");
  const QCommandLineOption restore({"r", "restore"}, "");
  parser.addOptions({help, version, source, target, dry_run, restore});

  CommandLine line;
  if (!parser.parse(arguments)) {
    line.error = Text(parser.errorText());
    return line;
  }
  line.help = parser.isSet(help);
  line.version = parser.isSet(version);
  if (line.help || line.version) return line;
  for (const auto* option : {&source, &target}) {
    if (parser.values(*option).size() > 1) {
      line.error = "Die Option --" + Text(option->names().back()) + " ist mehrfach angegeben.";
      return line;
    }
  }
  line.source = Text(parser.value(source));
  line.target = Text(parser.value(target));
  line.dry_run = parser.isSet(dry_run);
  line.restore = parser.isSet(restore);
  const QStringList rest = parser.positionalArguments();
  if (parser.isSet(source) && line.source.empty()) {
    line.error = "Die Option --source braucht eine Datei.";
  } else if (parser.isSet(target) && line.target.empty()) {
    line.error = "Die Option --target braucht eine Datei.";
  } else if (line.restore && parser.isSet(source)) {
    line.error = "--restore und --source schließen einander aus.";
  } else if (line.restore && line.dry_run) {
    line.error = "--dry-run gilt nur mit --source.";
  } else if (!line.restore && !parser.isSet(source)) {
    line.error = "Es fehlt --source DATEI (oder --restore).";
  } else if (rest.size() > (line.restore ? 1 : 0)) {
    line.error = "Unerwartetes Argument '" + Text(rest.back()) + "'.";
  } else if (line.restore && rest.size() == 1) {
    line.backup = Text(rest.front());
    if (line.backup.empty()) line.error = "Der Name der Sicherung ist leer.";
  }
  return line;
}

int RunCommandLine(const QStringList& arguments, std::ostream& out, std::ostream& err,
                   bool terminal) {
  const CommandLine line = ParseCommandLine(arguments);
  if (!line.error.empty()) {
    err << kProgram << ": " << line.error << "\n"
        << "„" << kProgram << " --help“ zeigt, wie das Programm aufgerufen wird.\n";
    return kExitUsage;
  }
  if (line.help) {
    out << HelpText();
    return 0;
  }
  if (line.version) {
    out << kProgram << " " << PI_VERSION << "\n"
        << "Copyright (C) " << PI_RELEASE_YEAR << " " << PI_MAINTAINER << "\n";
    return 0;
  }

  run::TerminalUserSide user(out, err, terminal);
  run::DatabaseState state;
  run::RunContext run{state, line.source, user};
  run.dry_run = line.dry_run;
  int status = run::kExitUnexpectedError;
  try {
    if (!LoadTarget(line, state, run)) user.EndProgram(run::kExitNotInstalled);
    if (line.restore) {
      import::RestoreRun(run, line.backup);
    } else {
      import::cmdImport_Click(run);
    }
  } catch (const run::ProgramEnd& end) {
    status = end.status();
  } catch (const std::exception& e) {
    // A failure outside the run's own error handling.
    run.error_number = db::Number(db::ErrorCode::kInternalError);
    user.MsgBox(run::UnexpectedErrorMessage(db::ErrorCode::kInternalError,
                                            run::InternalErrorDescription(e)),
                run::vbCritical, run::kTitleImport);
  }
  if (status == run::kExitCompleted && !line.restore && !run.backup_file.empty()) {
    out << "Die alte Zieldatenbank liegt als '" << run.backup_file << "' daneben.\n";
  }
  for (const std::string& note : run.notes) user.Note("Warnung: " + note);
  const run::RunKind kind = line.restore   ? run::RunKind::kRestore
                            : line.dry_run ? run::RunKind::kDryRun
                                           : run::RunKind::kImport;
  if (auto problem = run::AppendRunLog(run, kind, status)) user.Note("Warnung: " + *problem);
  return status;
}

}  // namespace app
