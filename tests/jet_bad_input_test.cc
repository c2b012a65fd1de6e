// Bad input never crashes the engine, hangs it or makes it read outside a buffer: it ends in a
// Status with a Jet error number and a German description.
//
// Three groups: files that are no database at all (missing, empty, a folder, foreign formats),
// damaged headers, and a corruption sweep in the manner of LevelDB's corruption test: an intact
// database in memory is damaged at many places (random bytes with fixed seeds, and the structures
// that hold the engine's bounds: row counts and row offsets, definition chains, long-value chains,
// usage maps, moved-row pointers), and every table is read through the fuzzer's body.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/open_read_body.h"
#include "jet/base/byte_reader.h"
#include "jet/database/database.h"
#include "jet/database/integrity_check.h"
#include "jet/file/file_source.h"
#include "jet/file/page_store.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/table/catalog.h"
#include "jet/table/table_scan.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace {

using testing_support::Fixture;
using testing_support::kTargetPassword;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Owner of long-value data pages: "LVAL" read as a little-endian number.
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch folder of its own, removed at the end of the test, that takes files of bytes.
class ScratchDir {
 public:
  fs::path Write(const std::string& name, const Bytes& bytes) const {
    fs::path file = dir_.path() / name;
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  const fs::path& path() const { return dir_.path(); }

 private:
  testing_support::ScratchDir dir_{"bad-input"};
};

void ExpectProperError(const jet::Status& s) {
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.number(), 0);
  EXPECT_FALSE(s.message().empty()) << s.number();
  EXPECT_EQ(s.ToString().rfind("Fehler " + std::to_string(s.number()) + ": ", 0), 0u);
}

jet::Status OpenPath(const fs::path& path) {
  auto db = jet::Database::Open(path.string());
  return db.ok() ? jet::Status::Ok() : db.status();
}

jet::Status OpenBytes(const Bytes& bytes, const std::string& password = "") {
  jet::MemoryFile file(bytes);
  auto db = jet::Database::Open(file, {.password = password});
  return db.ok() ? jet::Status::Ok() : db.status();
}

// ---------------------------------------------------------------------------------------------
// Files that are no database.

TEST(JetBadFile, RandomBytesAreNotADatabase) {
  const jet::Status s = OpenPath(Fixture("not-a-database.mdb"));
  ExpectProperError(s);
  EXPECT_EQ(s.code(), jet::ErrorCode::kUnrecognizedFormat) << s.ToString();
}

TEST(JetBadFile, TruncatedFileIsCorrupt) {
  // The header page and part of page 1: the catalog's definition (page 2) is missing.
  const jet::Status s = OpenPath(Fixture("truncated.mdb"));
  ExpectProperError(s);
  EXPECT_EQ(s.code(), jet::ErrorCode::kCorrupt) << s.ToString();
  EXPECT_NE(s.message().find("Seite 2"), std::string::npos) << s.ToString();
}

TEST(JetBadFile, EmptyFileMissingFileAndFolder) {
  ScratchDir dir;
  const jet::Status empty = OpenPath(dir.Write("leer.mdb", {}));
  ExpectProperError(empty);
  EXPECT_EQ(empty.code(), jet::ErrorCode::kUnrecognizedFormat) << empty.ToString();
  EXPECT_EQ(OpenBytes({}).code(), jet::ErrorCode::kUnrecognizedFormat);

  const jet::Status missing = OpenPath(dir.path() / "gibt-es-nicht.mdb");
  ExpectProperError(missing);
  EXPECT_EQ(missing.code(), jet::ErrorCode::kFileNotFound) << missing.ToString();
  EXPECT_NE(missing.message().find("gibt-es-nicht.mdb"), std::string::npos);

  const jet::Status folder = OpenPath(dir.path());
  ExpectProperError(folder);
  EXPECT_EQ(folder.code(), jet::ErrorCode::kPathNotValid) << folder.ToString();
  EXPECT_NE(folder.message().find("Ordner"), std::string::npos) << folder.ToString();
}

TEST(JetBadFile, HeaderPageAloneOrShorter) {
  const Bytes source = ReadFile(Fixture("source.mdb"));
  ASSERT_GT(source.size(), 3 * 4096u);
  // The whole header page, but nothing after it.
  const jet::Status header_only = OpenBytes(Bytes(source.begin(), source.begin() + 4096));
  ExpectProperError(header_only);
  EXPECT_EQ(header_only.code(), jet::ErrorCode::kCorrupt) << header_only.ToString();
  // A header that parses, in a file shorter than one page.
  const jet::Status short_page = OpenBytes(Bytes(source.begin(), source.begin() + 0x200));
  ExpectProperError(short_page);
  EXPECT_EQ(short_page.code(), jet::ErrorCode::kCorrupt) << short_page.ToString();
  // Every cut inside the header's masked area.
  for (std::size_t size : {1, 4, 0x14, 0x18, 0x40, 0x97}) {
    SCOPED_TRACE(size);
    const jet::Status s =
        OpenBytes(Bytes(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(size)));
    ExpectProperError(s);
    EXPECT_EQ(s.code(), jet::ErrorCode::kUnrecognizedFormat) << s.ToString();
  }
}

// ---------------------------------------------------------------------------------------------
// Damaged headers.

TEST(JetBadHeader, VersionsAfterJet4AreRefused) {
  Bytes bytes = ReadFile(Fixture("source.mdb"));
  for (std::uint8_t version :
       {std::uint8_t{2}, std::uint8_t{3}, std::uint8_t{5}, std::uint8_t{0xFF}}) {
    SCOPED_TRACE(int{version});
    bytes[0x14] = version;
    const jet::Status s = OpenBytes(bytes);
    ExpectProperError(s);
    EXPECT_EQ(s.code(), jet::ErrorCode::kUnrecognizedFormat) << s.ToString();
  }
}

TEST(JetBadHeader, ForeignEngineNamesAreRefused) {
  const Bytes intact = ReadFile(Fixture("source.mdb"));
  for (std::string_view name :
       {std::string_view("Standard ACE DB\0", 16), std::string_view("Standard Jet DX\0", 16),
        std::string_view("SQLite format 3\0", 16)}) {
    SCOPED_TRACE(std::string(name.substr(0, 15)));
    Bytes bytes = intact;
    std::copy(name.begin(), name.end(), bytes.begin() + 4);
    const jet::Status s = OpenBytes(bytes);
    ExpectProperError(s);
    EXPECT_EQ(s.code(), jet::ErrorCode::kUnrecognizedFormat) << s.ToString();
  }
  Bytes bad_magic = intact;
  bad_magic[1] = 0x02;
  EXPECT_EQ(OpenBytes(bad_magic).code(), jet::ErrorCode::kUnrecognizedFormat);
}

TEST(JetBadHeader, Jet3HeaderOverJet4PagesIsAnError) {
  // Version byte 0 makes the engine read 2048-byte Jet 3 pages out of a Jet 4 file.
  Bytes bytes = ReadFile(Fixture("source.mdb"));
  bytes[0x14] = 0;
  const fuzz::ReadSummary summary = fuzz::OpenAndReadAll(bytes);
  EXPECT_FALSE(summary.errors.empty());
  for (const jet::Status& s : summary.errors) ExpectProperError(s);
}

TEST(JetBadHeader, EveryMaskedHeaderByteDamaged) {
  // Each byte of the masked area set to a value that differs from the stored one: the result is
  // the intact database, a wrong password, or an error, but never more than that.
  const Bytes intact = ReadFile(Fixture("source.mdb"));
  for (std::size_t at = 0x18; at < 0x18 + 128; ++at) {
    SCOPED_TRACE(at);
    Bytes bytes = intact;
    bytes[at] ^= 0xA5;
    const fuzz::ReadSummary summary = fuzz::OpenAndReadAll(bytes);
    for (const jet::Status& s : summary.errors) ExpectProperError(s);
  }
}

// ---------------------------------------------------------------------------------------------
// Corruption sweep.

struct SweepCase {
  const char* file;
  const char* password;
};
void PrintTo(const SweepCase& c, std::ostream* os) { *os << c.file; }

// Where the structures of an intact database lie, found through the engine.
struct Layout {
  std::size_t page_size = 0;
  std::uint32_t page_count = 0;
  const jet::Format* format = nullptr;
  std::vector<std::uint32_t> definition_pages;    // every page of type 0x02
  std::vector<std::uint32_t> table_pages;         // first definition pages of catalog tables
  std::vector<std::uint32_t> data_pages;          // data pages of tables
  std::vector<std::uint32_t> long_value_pages;    // data pages of long values
  std::vector<jet::RowPointer> usage_maps;        // rows holding a table's usage or free-space map
  std::vector<jet::RowPointer> table_usage_maps;  // of those, the usage maps (read by scans)
  std::vector<jet::RowPointer> chain_links;       // long-value rows that link to a next row
  std::vector<std::size_t> long_value_heads;      // file offsets of long-value heads in rows
};

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
         static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

bool Contains(const std::vector<std::uint32_t>& v, std::uint32_t x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

// At most n elements, spread evenly over v: keeps the sweep to a few seconds.
template <typename T>
std::vector<T> Spread(const std::vector<T>& v, std::size_t n) {
  if (v.size() <= n) return v;
  std::vector<T> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(v[i * v.size() / n]);
  return out;
}

class JetCorruption : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    intact_ = ReadFile(Fixture(GetParam().file));
    ASSERT_FALSE(intact_.empty());
    jet::MemoryFile file(intact_);
    auto db = jet::Database::Open(file, {.password = GetParam().password});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    FindLayout(**db);
  }

  void FindLayout(const jet::Database& db) {
    const jet::PageStore& pages = db.pages();
    layout_.page_size = pages.page_size();
    layout_.page_count = pages.page_count();
    layout_.format = &db.format();
    for (const jet::CatalogEntry& e : db.catalog()) {
      if (!e.is_table()) continue;
      auto table = db.GetTable(e.name);
      if (!table.ok()) continue;
      // Only tables the engine reads completely (some system tables hold column types it
      // does not decode): damage to the others may stay unseen behind that error.
      jet::TableScan scan(db, **table);
      jet::Result<bool> more = true;
      while (more.ok() && *more) more = scan.Next();
      if (!more.ok()) continue;
      layout_.table_pages.push_back((*table)->page);
      layout_.usage_maps.push_back((*table)->usage_map);
      layout_.table_usage_maps.push_back((*table)->usage_map);
      layout_.usage_maps.push_back((*table)->free_map);
    }
    std::vector<std::uint32_t> lv_rows;  // raw pointers of every long-value row
    for (std::uint32_t p = 1; p < layout_.page_count; ++p) {
      const std::size_t at = std::size_t{p} * layout_.page_size;
      if (intact_[at] == static_cast<std::uint8_t>(jet::PageType::kTableDefinition)) {
        layout_.definition_pages.push_back(p);
      }
      if (intact_[at] != static_cast<std::uint8_t>(jet::PageType::kData)) continue;
      const std::uint32_t owner = U32At(intact_, at + jet::kDataPageOwnerOffset);
      if (owner == kLongValueOwner) {
        layout_.long_value_pages.push_back(p);
        const std::uint16_t rows = U16At(intact_, at + layout_.format->data_row_count_offset);
        for (std::uint16_t r = 0; r < rows && r < 256; ++r) lv_rows.push_back(p << 8 | r);
      } else if (Contains(layout_.table_pages, owner)) {
        layout_.data_pages.push_back(p);
      }
    }
    // A chained long value's rows start with the pointer to the next row. Rows whose first four
    // bytes happen to look like one are harmless extra candidates.
    for (std::uint32_t raw : lv_rows) {
      const jet::RowPointer at = jet::RowPointer::FromRaw(raw);
      auto row = jet::ReadRowAt(db.pages(), at);
      if (!row.ok() || row->size() < 4) continue;
      const std::uint32_t next = jet::ByteReader(*row).U32(0);
      if (next != raw && Contains(lv_rows, next)) layout_.chain_links.push_back(at);
    }
    // A long-value head in a row: length (3), kind 0x00 or 0x40, a pointer to a long-value row.
    for (std::uint32_t p : layout_.data_pages) {
      const std::size_t start = std::size_t{p} * layout_.page_size;
      for (std::size_t at = start + 4; at + 8 <= start + layout_.page_size; ++at) {
        const std::uint8_t kind = intact_[at - 1];
        if ((kind == 0x00 || kind == 0x40) && Contains(lv_rows, U32At(intact_, at))) {
          layout_.long_value_heads.push_back(at - 4);
        }
      }
    }
  }

  // Byte offset of a page in the file.
  std::size_t PageAt(std::uint32_t page) const { return std::size_t{page} * layout_.page_size; }

  // Byte offset of a row's entry in its page's row offset table.
  std::size_t RowEntryAt(std::uint32_t page, std::uint16_t row) const {
    return PageAt(page) + layout_.format->data_row_table_offset + 2 * std::size_t{row};
  }
  std::uint16_t RowCount(const Bytes& b, std::uint32_t page) const {
    return U16At(b, PageAt(page) + layout_.format->data_row_count_offset);
  }
  // File offset of a row's first byte in an intact page.
  std::size_t RowStartAt(const Bytes& b, std::uint32_t page, std::uint16_t row) const {
    return PageAt(page) + (U16At(b, RowEntryAt(page, row)) & jet::kRowOffsetMask);
  }

  // Reads everything in `bytes`; every error must be a proper Status.
  fuzz::ReadSummary Read(const Bytes& bytes) const {
    fuzz::ReadSummary summary = fuzz::OpenAndReadAll(bytes, GetParam().password);
    for (const jet::Status& s : summary.errors) ExpectProperError(s);
    return summary;
  }

  static bool AnyErrorHas(const fuzz::ReadSummary& summary, std::string_view text) {
    return std::any_of(summary.errors.begin(), summary.errors.end(), [&](const jet::Status& s) {
      return s.message().find(text) != std::string::npos;
    });
  }

  bool IsUsageMap(jet::RowPointer where) const {
    return std::any_of(layout_.table_usage_maps.begin(), layout_.table_usage_maps.end(),
                       [&](jet::RowPointer p) { return p.Raw() == where.Raw(); });
  }

  // Whether the integrity check of `bytes` reports a finding (or fails) with `text` in it: damage
  // of the tables an import may write, or of Access's own tables, which it reports apart.
  bool IntegrityProblemHas(const Bytes& bytes, const std::string& text) const {
    jet::MemoryFile file(bytes);
    auto db = jet::Database::Open(file, {.password = GetParam().password});
    if (!db.ok()) return db.status().message().find(text) != std::string::npos;
    auto report = jet::CheckIntegrity(**db, jet::IntegrityScope::kFileStructure);
    if (!report.ok()) return report.status().message().find(text) != std::string::npos;
    const auto has = [&](const std::string& p) { return p.find(text) != std::string::npos; };
    return std::any_of(report->problems.begin(), report->problems.end(), has) ||
           std::any_of(report->tolerated.begin(), report->tolerated.end(), has);
  }

  Bytes intact_;
  Layout layout_;
};

TEST_P(JetCorruption, IntactFileReadsAndLayoutIsFound) {
  const fuzz::ReadSummary summary = Read(intact_);
  EXPECT_TRUE(summary.opened);
  for (const jet::Status& s : summary.errors) {
    EXPECT_EQ(s.code(), jet::ErrorCode::kNotSupported) << s.ToString();
  }
  EXPECT_GE(layout_.table_pages.size(), 5u);
  EXPECT_FALSE(layout_.data_pages.empty());
  EXPECT_FALSE(layout_.long_value_pages.empty());
  EXPECT_FALSE(layout_.long_value_heads.empty());
}

TEST_P(JetCorruption, RandomBytesInStructurePages) {
  // Pages the engine interprets: the header, definitions, data and long values.
  std::vector<std::uint32_t> pages = {0};
  for (const auto* list :
       {&layout_.definition_pages, &layout_.data_pages, &layout_.long_value_pages}) {
    pages.insert(pages.end(), list->begin(), list->end());
  }
  const std::uint32_t seeds = intact_.size() > 400'000 ? 40 : 100;
  for (std::uint32_t seed = 1; seed <= seeds; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    Bytes bytes = intact_;
    const int changes = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < changes; ++i) {
      const std::uint32_t page = pages[rng() % pages.size()];
      // Page 0: the header's interpreted part only; other pages: mostly their first bytes,
      // where counts, offsets and definitions are.
      const std::size_t span = page == 0 ? 0x98 : (rng() % 2 ? 256 : layout_.page_size);
      const std::size_t at = PageAt(page) + rng() % span;
      switch (rng() % 4) {
        case 0:
          bytes[at] = 0xFF;
          break;
        case 1:
          bytes[at] = 0x00;
          break;
        case 2:
          bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
          break;
        default:
          bytes[at] = static_cast<std::uint8_t>(rng());
          break;
      }
    }
    Read(bytes);
  }
}

TEST_P(JetCorruption, RowCountsAndRowOffsets) {
  for (std::uint32_t page : Spread(layout_.data_pages, 6)) {
    SCOPED_TRACE(page);
    const std::uint16_t rows = RowCount(intact_, page);
    // More rows than the page can hold or a row pointer can name (a scan would otherwise
    // read rows 0.. again as rows 256..): an error that names the page.
    for (std::uint16_t count : {std::uint16_t{0xFFFF}, std::uint16_t{0x0800}, std::uint16_t{257}}) {
      Bytes bytes = intact_;
      PutU16(bytes, PageAt(page) + layout_.format->data_row_count_offset, count);
      const fuzz::ReadSummary summary = Read(bytes);
      EXPECT_TRUE(AnyErrorHas(summary, "Datenseite " + std::to_string(page)));
    }
    // One more row than stored: its offset entry is whatever bytes follow the table.
    {
      Bytes bytes = intact_;
      PutU16(bytes, PageAt(page) + layout_.format->data_row_count_offset,
             static_cast<std::uint16_t>(rows + 1));
      Read(bytes);
    }
    // Each row's offset entry set to values outside the page, overlapping the row table, or
    // with the moved-row flag over a row that is no pointer.
    for (std::uint16_t row : {std::uint16_t{0}, static_cast<std::uint16_t>(page % rows)}) {
      for (std::uint16_t entry : {std::uint16_t{0x1FFF}, std::uint16_t{0x0000},
                                  std::uint16_t{0x0FFF}, std::uint16_t{0x4000 | 0x0FFC}}) {
        Bytes bytes = intact_;
        PutU16(bytes, RowEntryAt(page, row), entry);
        Read(bytes);
      }
    }
  }
}

TEST_P(JetCorruption, MovedRowPointingToItselfIsACycle) {
  for (std::uint32_t page : Spread(layout_.data_pages, 8)) {
    SCOPED_TRACE(page);
    const std::uint16_t rows = RowCount(intact_, page);
    std::uint16_t row = 0;
    while (row < rows && (U16At(intact_, RowEntryAt(page, row)) & 0xC000) != 0) ++row;
    if (row == rows) continue;  // only deleted or moved rows on this page
    Bytes bytes = intact_;
    const std::size_t entry = RowEntryAt(page, row);
    PutU16(bytes, entry, static_cast<std::uint16_t>(U16At(bytes, entry) | jet::kRowOverflowFlag));
    PutU32(bytes, RowStartAt(intact_, page, row),
           jet::RowPointer{page, static_cast<std::uint8_t>(row)}.Raw());
    const fuzz::ReadSummary summary = Read(bytes);
    EXPECT_TRUE(AnyErrorHas(summary, "Zyklus")) << "row " << row;
  }
}

TEST_P(JetCorruption, DefinitionChains) {
  // A definition page that names itself as its successor: a cycle, reported for that table (the
  // catalog's own definition makes the open fail).
  for (std::uint32_t page : Spread(layout_.table_pages, 6)) {
    SCOPED_TRACE(page);
    Bytes bytes = intact_;
    PutU32(bytes, PageAt(page) + 4, page);
    const fuzz::ReadSummary summary = Read(bytes);
    EXPECT_TRUE(AnyErrorHas(summary, "zyklisch"));
    EXPECT_EQ(summary.opened, page != jet::kCatalogPage);
  }
  // Successors outside the file and on a data page; counts and lengths at their largest.
  const jet::Format& f = *layout_.format;
  for (std::uint32_t page : Spread(layout_.definition_pages, 3)) {
    SCOPED_TRACE(page);
    const std::size_t at = PageAt(page);
    for (std::uint32_t next : {0xFFFFFFFFu, layout_.page_count, layout_.data_pages.front()}) {
      Bytes bytes = intact_;
      PutU32(bytes, at + 4, next);
      Read(bytes);
    }
    for (std::size_t field :
         {f.tdef_num_cols_offset, f.tdef_var_cols_offset, f.tdef_max_cols_offset}) {
      Bytes bytes = intact_;
      PutU16(bytes, at + field, 0xFFFF);
      Read(bytes);
    }
    for (std::size_t field : {f.tdef_num_idx_offset, f.tdef_num_real_idx_offset,
                              f.tdef_usage_map_offset, f.tdef_free_map_offset}) {
      Bytes bytes = intact_;
      PutU32(bytes, at + field, 0xFFFFFFFF);
      Read(bytes);
    }
    // Every 2-byte field of the first column descriptors and names at 0xFFFF.
    const std::size_t columns_at = f.tdef_header_end;
    for (std::size_t off = columns_at; off < columns_at + 2 * f.tdef_column_entry; off += 2) {
      Bytes bytes = intact_;
      PutU16(bytes, at + off, 0xFFFF);
      Read(bytes);
    }
  }
}

TEST_P(JetCorruption, LongValueChainsAndHeads) {
  // A link of a long-value chain pointing to itself: reading the value must stop with an error
  // for every link that is followed (all but a value's last).
  std::size_t cycles = 0;
  const auto links = Spread(layout_.chain_links, 12);
  for (jet::RowPointer link : links) {
    SCOPED_TRACE(link.Raw());
    Bytes bytes = intact_;
    PutU32(bytes, RowStartAt(intact_, link.page, link.row), link.Raw());
    if (AnyErrorHas(Read(bytes), "zyklisch")) ++cycles;
  }
  if (std::string_view(GetParam().file) == "target.mdb") {
    // tbl_Kunden has ten notes over several pages: every link but a note's last is followed.
    EXPECT_GE(links.size(), 10u);
    EXPECT_EQ(cycles, links.size());
  }
  // The heads in rows: lengths at their largest, kinds swapped, pointers to nowhere, to the row
  // that holds the head, and to the header page.
  for (std::size_t head : Spread(layout_.long_value_heads, 8)) {
    SCOPED_TRACE(head);
    const std::uint32_t own_page = static_cast<std::uint32_t>(head / layout_.page_size);
    const auto mutate = [&](auto&& change) {
      Bytes bytes = intact_;
      change(bytes);
      Read(bytes);
    };
    mutate([&](Bytes& b) { b[head] = b[head + 1] = b[head + 2] = 0xFF; });
    mutate([&](Bytes& b) { b[head + 3] ^= 0x40; });
    mutate([&](Bytes& b) { b[head + 3] = 0x80; });
    mutate([&](Bytes& b) { PutU32(b, head + 4, 0xFFFFFFFF); });
    mutate([&](Bytes& b) { PutU32(b, head + 4, own_page << 8); });
    mutate([&](Bytes& b) { PutU32(b, head + 4, 0); });
  }
}

TEST_P(JetCorruption, UsageMaps) {
  // Usage maps are read by every scan of their table; free-space maps only by writers and the
  // integrity check. Each damage below must show as an error naming the map's page: in the
  // reading of the table for a usage map, in the integrity check for both kinds.
  const auto usage_maps = Spread(layout_.usage_maps, 6);
  ASSERT_FALSE(usage_maps.empty());
  for (jet::RowPointer where : usage_maps) {
    SCOPED_TRACE(where.Raw());
    ASSERT_GT(where.page, 0u);
    ASSERT_LT(where.page, layout_.page_count);
    const bool read_by_scans = IsUsageMap(where);
    const std::size_t row_at = RowStartAt(intact_, where.page, where.row);
    const std::string map_page = "auf Seite " + std::to_string(where.page) + ".";
    // An unknown map type.
    {
      Bytes bytes = intact_;
      bytes[row_at] = 0x07;
      if (read_by_scans) {
        EXPECT_TRUE(AnyErrorHas(Read(bytes), map_page));
      }
      EXPECT_TRUE(IntegrityProblemHas(bytes, map_page));
    }
    // A reference map whose page list names the map's own page (a data page), the header and
    // pages past the end.
    {
      Bytes bytes = intact_;
      bytes[row_at] = jet::kUsageMapReference;
      PutU32(bytes, row_at + 1, where.page);
      PutU32(bytes, row_at + 5, 0xFFFFFFFF);
      PutU32(bytes, row_at + 9, layout_.page_count);
      const std::string own_page = "Seite " + std::to_string(where.page);
      if (read_by_scans) {
        EXPECT_TRUE(AnyErrorHas(Read(bytes), own_page));
      }
      EXPECT_TRUE(IntegrityProblemHas(bytes, own_page));
    }
    // An inline map whose pages start near the top of the number range: every bit lies past the
    // end of the file, where Access leaves bits set in free-space maps; the engine ignores them
    // and reads nothing. Nothing here may crash or read outside the row.
    {
      Bytes bytes = intact_;
      bytes[row_at] = jet::kUsageMapInline;
      PutU32(bytes, row_at + 1, 0xFFFFFFF0);
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(row_at + 5), 8, 0xFF);
      Read(bytes);
    }
    // Every page of the file marked as used, the header page 0 first: no data page of the table.
    if (read_by_scans) {
      Bytes bytes = intact_;
      bytes[row_at] = jet::kUsageMapInline;
      PutU32(bytes, row_at + 1, 0);
      const std::size_t bitmap = std::min<std::size_t>(layout_.page_count / 8 + 1, 64);
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(row_at + 5), bitmap, 0xFF);
      EXPECT_TRUE(AnyErrorHas(Read(bytes), "Seite 0")) << "the header page read as a data page";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(TestDatabases, JetCorruption,
                         ::testing::Values(SweepCase{"source.mdb", ""},
                                           SweepCase{"target.mdb", kTargetPassword}),
                         [](const auto& test) {
                           return std::string(test.param.file) == "source.mdb" ? "Source"
                                                                               : "Target";
                         });

}  // namespace
