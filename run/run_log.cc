#include "run/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace run {
namespace {

std::string Escaped(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char* Outcome(int status) {
  switch (status) {
    case kExitCompleted:
      return "abgeschlossen";
    case kExitInvalidSource:
      return "ungültige Quelle";
    case kExitNotInstalled:
      return "nicht eingerichtet";
    default:
      return "Fehler";
  }
}

const char* KindName(RunKind kind) {
  switch (kind) {
    case RunKind::kImport:
      return "import";
    case RunKind::kDryRun:
      return "probelauf";
    case RunKind::kRestore:
      return "wiederherstellung";
  }
  return "import";
}

std::string Time(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

// Makes `folder` and the folders above it that are missing (0700, as the XDG folders are).
bool MakeFolders(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::string RunLogPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string folder;
  if (state != nullptr && state[0] == '/') {
    folder = state;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "") + "/.local/state";
  }
  return folder + "/produkte-import/log";
}

std::string RunLogLine(const RunContext& run, RunKind kind, int status) {
  std::string line = Time(run.started) + "\t" + KindName(kind);
  auto field = [&line](const char* name, const std::string& value) {
    line += std::string("\t") + name + "=" + Escaped(value);
  };
  field("ergebnis", Outcome(status));
  field("status", std::to_string(status));
  field("fehler", std::to_string(run.error_number));
  field(kind == RunKind::kRestore ? "zurückgeholt" : "quelle", run.txt_DBPfad);
  field("ziel", run.target_file);
  field("sicherung", run.backup_file);
  if (run.counts) {
    const RunCounts& c = *run.counts;
    field("produktgruppen", std::to_string(c.categories));
    field("artikel", std::to_string(c.products));
    field("artikelpreise", std::to_string(c.product_prices));
    field("zusatzartikel", std::to_string(c.extras));
    field("zusatzartikelpreise", std::to_string(c.extra_prices));
    field("zuordnungen", std::to_string(c.assignments));
    field("ohne_gruppe", std::to_string(c.articles_without_group));
  }
  return line;
}

std::optional<std::string> AppendRunLog(const RunContext& run, RunKind kind, int status) {
  const std::string path = RunLogPath();
  const std::string folder = path.substr(0, path.rfind('/'));
  const std::string line = RunLogLine(run, kind, status) + "\n";
  auto failed = [&path](int err) {
    return "Das Protokoll '" + path + "' kann nicht geschrieben werden (" +
           std::string(std::strerror(err)) + ").";
  };
  if (!MakeFolders(folder)) return failed(errno);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return failed(errno);
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  const int err = errno;
  ::close(fd);
  if (n < 0) return failed(err);
  if (static_cast<std::size_t>(n) != line.size()) return failed(ENOSPC);
  return std::nullopt;
}

}  // namespace run
