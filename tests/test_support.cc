#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "jet/file/page_store.h"
#include "jet/index/index_reader.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/table/table_scan.h"
#include "jet/text/unicode.h"
#include "tests/fixtures.h"

namespace testing_support {
namespace fs = std::filesystem;

namespace {

// Passwords of the project's test databases (tests/data/README.md); the others have none.
const std::map<std::string, std::string>& KnownPasswords() {
  static const std::map<std::string, std::string> passwords = {
      {"target.mdb", kTargetPassword},
      {"target-related.mdb", kTargetPassword},
      {"target-related-strict.mdb", kTargetPassword},
      {"target-wrong-password.mdb", kOtherTargetPassword},
  };
  return passwords;
}

// Files of tests/data that are deliberately not databases.
bool IsBrokenOnPurpose(const std::string& name) {
  return name == "not-a-database.mdb" || name == "truncated.mdb";
}

std::vector<DbFile> MdbFilesIn(const fs::path& dir, bool project) {
  std::vector<DbFile> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mdb") continue;
    const std::string name = entry.path().filename().string();
    if (project && IsBrokenOnPurpose(name)) continue;
    DbFile f{entry.path(), ""};
    if (project) {
      if (auto it = KnownPasswords().find(name); it != KnownPasswords().end()) {
        f.password = it->second;
      }
    }
    files.push_back(std::move(f));
  }
  std::sort(files.begin(), files.end(),
            [](const DbFile& a, const DbFile& b) { return a.path < b.path; });
  return files;
}

class JsonParser {
 public:
  explicit JsonParser(std::string_view s) : s_(s) {}

  std::optional<JsonObject> Object() {
    JsonObject obj;
    if (!Eat('{')) return std::nullopt;
    if (Eat('}')) return End(std::move(obj));
    while (true) {
      std::string key;
      if (!String(key) || !Eat(':')) return std::nullopt;
      JsonValue v;
      if (!Value(v)) return std::nullopt;
      obj.emplace_back(std::move(key), std::move(v));
      if (Eat(',')) continue;
      if (Eat('}')) return End(std::move(obj));
      return std::nullopt;
    }
  }

 private:
  std::optional<JsonObject> End(JsonObject obj) {
    SkipSpace();
    if (pos_ != s_.size()) return std::nullopt;
    return obj;
  }

  void SkipSpace() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  bool Hex4(std::uint32_t& out) {
    if (pos_ + 4 > s_.size()) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9') {
        out |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        out |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        out |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }
  bool String(std::string& out) {
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != '"') return false;
    ++pos_;
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out.push_back(e);
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          std::uint32_t unit = 0;
          if (!Hex4(unit)) return false;
          char32_t cp = unit;
          if (unit >= 0xD800 && unit < 0xDC00 && Literal("\\u")) {
            std::uint32_t low = 0;
            if (!Hex4(low)) return false;
            if (low >= 0xDC00 && low < 0xE000) {
              cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            } else {
              jet::AppendUtf8(out, 0xFFFD);
              cp = low;
            }
          }
          jet::AppendUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool Value(JsonValue& v) {
    SkipSpace();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      return String(v.text);
    }
    if (Literal("null")) {
      v.kind = JsonValue::Kind::kNull;
      return true;
    }
    if (Literal("true") || Literal("false")) {
      v.kind = JsonValue::Kind::kBool;
      v.boolean = c == 't';
      return true;
    }
    const std::size_t start = pos_;
    while (pos_ < s_.size() && std::strchr("+-.0123456789eE", s_[pos_]) != nullptr) ++pos_;
    if (pos_ == start) return false;
    v.kind = JsonValue::Kind::kNumber;
    v.text = std::string(s_.substr(start, pos_ - start));
    char* end = nullptr;
    v.number = std::strtod(v.text.c_str(), &end);
    return end == v.text.c_str() + v.text.size();
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string DbFile::TestName() const {
  std::string name;
  for (char c : path.stem().string()) {
    if (std::isalnum(static_cast<unsigned char>(c))) name.push_back(c);
  }
  return name.empty() ? "unnamed" : name;
}

std::vector<DbFile> ProjectDatabases() { return MdbFilesIn(PI_FIXTURE_DIR, /*project=*/true); }

std::optional<fs::path> AccessMadeDir() {
  const fs::path dir = fs::path(PI_SHARED_FIXTURE_DIR) / "access-made";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return std::nullopt;
  return dir;
}

std::vector<DbFile> AccessMadeDatabases() {
  std::vector<DbFile> all;
  for (const char* folder : {"access-made", "access-quirks"}) {
    const fs::path dir = fs::path(PI_SHARED_FIXTURE_DIR) / folder;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    for (DbFile& f : MdbFilesIn(dir, /*project=*/false)) all.push_back(std::move(f));
  }
  return all;
}

std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\'');
  return out;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::fflush(nullptr);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.out.append(buf, n);
  const int status = ::pclose(pipe);
  if (status != -1 && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

namespace {

bool OnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    const std::size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    const fs::path candidate = fs::path(dir.empty() ? "." : std::string(dir)) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

}  // namespace

std::optional<std::string> MissingOracle(Oracle oracle) {
  switch (oracle) {
    case Oracle::kMdbExport:
      if (!OnPath("mdb-export")) return "mdb-export is missing (Debian package mdbtools)";
      return std::nullopt;
    case Oracle::kMdbReader:
      if (!OnPath("node")) return "node is missing (Debian package nodejs)";
      if (!fs::exists(PI_SOURCE_DIR "/node_modules/mdb-reader/package.json")) {
        return "mdb-reader is missing (run npm ci in " PI_SOURCE_DIR ")";
      }
      return std::nullopt;
    case Oracle::kWine:
      if (!OnPath("wine64") && ::access("/usr/lib/wine/wine64", X_OK) != 0) {
        return "wine64 is missing (Debian package wine64)";
      }
      return std::nullopt;
  }
  return "unknown oracle";
}

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

std::string MdbReaderCommand(const DbFile& db) {
  std::string cmd = "node " + ShellQuote(PI_SOURCE_DIR "/tests/oracle/mdb_reader_dump.mjs") + " " +
                    ShellQuote(db.path.string());
  if (!db.password.empty()) cmd += " --password " + ShellQuote(db.password);
  return cmd;
}

std::vector<std::uint8_t> ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

void WriteFileBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

ScratchDir::ScratchDir(std::string_view stem) {
  std::string pattern =
      (fs::temp_directory_path() / ("pi-" + std::string(stem) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw fs::filesystem_error("mkdtemp", fs::path(pattern),
                               std::error_code(errno, std::generic_category()));
  }
  dir_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

TempFile::TempFile(std::string_view stem)
    : dir_(stem), path_(dir_.path() / (std::string(stem) + ".tmp")) {}

TargetCopy::TargetCopy() : dir_("target") {
  fs::copy_file(std::string(PI_FIXTURE_DIR) + "/target.mdb", path());
}

void SkipWithoutDatabase(const DbFile& db) {
  if (db.path.empty()) {
    GTEST_SKIP() << "no Access-made databases: " << PI_SHARED_FIXTURE_DIR
                 << "/access-made does not exist";
  }
}

std::optional<JsonObject> ParseJsonObject(std::string_view line) {
  return JsonParser(line).Object();
}

bool HasMovedRows(const jet::Database& db, const jet::TableDef& table) {
  auto pages = jet::ReadUsageMap(db.pages(), table.usage_map);
  if (!pages.ok()) {
    ADD_FAILURE() << table.name << ": " << pages.status().ToString();
    return false;
  }
  for (std::uint32_t number : *pages) {
    auto page = jet::DataPage::Open(db.pages(), number);
    if (!page.ok()) {
      ADD_FAILURE() << table.name << ": " << page.status().ToString();
      return false;
    }
    for (std::uint16_t row = 0; row < page->row_count(); ++row) {
      auto slot = page->Row(row);
      if (slot.ok() && slot->overflow && !slot->deleted) return true;
    }
  }
  return false;
}

std::vector<std::vector<jet::Value>> ReadAllRows(const jet::Database& db, const jet::TableDef& t) {
  std::vector<std::vector<jet::Value>> rows;
  jet::TableScan scan(db, t);
  while (true) {
    auto more = scan.Next();
    if (!more.ok()) {
      ADD_FAILURE() << t.name << ": " << more.status().ToString();
      break;
    }
    if (!*more) break;
    rows.push_back(scan.values());
  }
  return rows;
}

std::vector<jet::RowPointer> RowsOf(const jet::Database& db, const std::string& table) {
  auto t = db.GetTable(table);
  EXPECT_TRUE(t.ok()) << t.status().ToString();
  std::vector<jet::RowPointer> rows;
  if (!t.ok()) return rows;
  jet::TableScan scan(db, **t);
  while (true) {
    auto more = scan.Next();
    EXPECT_TRUE(more.ok()) << more.status().ToString();
    if (!more.ok() || !*more) break;
    rows.push_back(scan.position());
  }
  return rows;
}

std::vector<jet::IndexEntry> EntriesOf(const jet::PageStore& store, const jet::TableDef& table,
                                       const jet::RealIndex& index) {
  std::vector<jet::IndexEntry> entries;
  jet::IndexCursor cursor(store, table, index);
  while (true) {
    auto more = cursor.Next();
    EXPECT_TRUE(more.ok()) << more.status().ToString();
    if (!more.ok() || !*more) break;
    entries.push_back(cursor.entry());
  }
  return entries;
}

}  // namespace testing_support
