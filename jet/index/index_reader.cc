#include "jet/index/index_reader.h"

#include <optional>
#include <set>
#include <string>

namespace jet {
namespace {

// More levels than this mean a cycle: even 2-byte entries on 2 KB pages give a fan-out above 100,
// so 16 levels cover more rows than a file can hold.
constexpr std::size_t kMaxDepth = 16;

Status Corrupt(const TableDef& table, const RealIndex& index, const std::string& why) {
  return Status::Corrupt("Beschädigter Index " + std::to_string(index.number) + " der Tabelle '" +
                         table.name + "': " + why + ".");
}

std::string PageName(std::uint32_t number) { return "Seite " + std::to_string(number); }

// An index page that must belong to the table.
Result<IndexPage> ReadOwnedPage(const PageStore& store, const TableDef& table,
                                const RealIndex& index, std::uint32_t number) {
  if (number == 0) return Corrupt(table, index, "Verweis auf Seite 0");
  JET_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(store, number));
  if (page.owner != table.page) {
    return Corrupt(
        table, index,
        PageName(number) + " gehört zur Tabelle auf Seite " + std::to_string(page.owner));
  }
  return page;
}

// The child an intermediate page leads to for the smallest keys.
Result<std::uint32_t> FirstChild(const TableDef& table, const RealIndex& index,
                                 const IndexPage& page) {
  if (!page.entries.empty()) return page.entries.front().child;
  if (page.child_tail != 0) return page.child_tail;
  return Corrupt(table, index, PageName(page.number) + " ist eine leere Zwischenseite");
}

}  // namespace

Status IndexCursor::Load(std::uint32_t number, std::uint32_t expected_prev) {
  if (++pages_read_ > store_->page_count()) {
    return Corrupt(*table_, *index_, "die Blattkette ist zyklisch");
  }
  JET_ASSIGN_OR_RETURN(IndexPage page, ReadOwnedPage(*store_, *table_, *index_, number));
  if (!page.leaf) {
    return Corrupt(*table_, *index_,
                   PageName(number) + " steht in der Blattkette, ist aber kein Blatt");
  }
  if (page.prev_page != expected_prev) {
    return Corrupt(*table_, *index_,
                   PageName(number) + " nennt Seite " + std::to_string(page.prev_page) +
                       " als Vorgänger statt " + std::to_string(expected_prev));
  }
  page_ = std::move(page);
  pos_ = 0;
  return Status::Ok();
}

Result<bool> IndexCursor::Next() {
  if (!started_) {
    started_ = true;
    std::uint32_t number = index_->first_page;
    for (std::size_t depth = 0;; ++depth) {
      if (depth >= kMaxDepth) return Corrupt(*table_, *index_, "der Baum ist zu tief (zyklisch?)");
      JET_ASSIGN_OR_RETURN(IndexPage page, ReadOwnedPage(*store_, *table_, *index_, number));
      if (page.leaf) break;
      JET_ASSIGN_OR_RETURN(number, FirstChild(*table_, *index_, page));
    }
    JET_RETURN_IF_ERROR(Load(number, 0));
  } else {
    ++pos_;
  }
  while (pos_ >= page_.entries.size()) {
    if (page_.next_page == 0) return false;
    JET_RETURN_IF_ERROR(Load(page_.next_page, page_.number));
  }
  if (have_previous_ && CompareEntries(previous_, entry()) >= 0) {
    return Corrupt(*table_, *index_,
                   "Einträge auf " + PageName(page_.number) + " stehen nicht in Schlüsselfolge");
  }
  previous_ = entry();
  have_previous_ = true;
  return true;
}

Status ForEachIndexedRow(const PageStore& store, const TableDef& table, const RealIndex& index,
                         const std::function<bool(RowPointer)>& visit) {
  std::uint32_t number = index.first_page;
  for (std::size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) return Corrupt(table, index, "der Baum ist zu tief (zyklisch?)");
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadOwnedPage(store, table, index, number));
    if (page.leaf) break;
    JET_ASSIGN_OR_RETURN(number, FirstChild(table, index, page));
  }
  std::vector<RowPointer> rows;  // one leaf's, the buffer kept from leaf to leaf
  std::uint32_t prev = 0;
  for (std::uint32_t read = 0; number != 0; ++read) {
    if (read >= store.page_count()) return Corrupt(table, index, "die Blattkette ist zyklisch");
    JET_ASSIGN_OR_RETURN(Bytes bytes, store.Page(number));
    rows.clear();
    JET_ASSIGN_OR_RETURN(IndexPage leaf,
                         DecodeLeafRows(store.format().version, number, bytes, rows));
    if (leaf.owner != table.page) {
      return Corrupt(
          table, index,
          PageName(number) + " gehört zur Tabelle auf Seite " + std::to_string(leaf.owner));
    }
    if (leaf.prev_page != prev) {
      return Corrupt(table, index,
                     PageName(number) + " nennt Seite " + std::to_string(leaf.prev_page) +
                         " als Vorgänger statt " + std::to_string(prev));
    }
    for (RowPointer row : rows) {
      if (!visit(row)) return Status::Ok();
    }
    prev = number;
    number = leaf.next_page;
  }
  return Status::Ok();
}

Result<std::vector<RowPointer>> FindEqual(const PageStore& store, const TableDef& table,
                                          const RealIndex& index, Bytes key) {
  std::vector<RowPointer> rows;
  std::uint32_t number = index.first_page;
  IndexPage page;
  for (std::size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) return Corrupt(table, index, "der Baum ist zu tief (zyklisch?)");
    JET_ASSIGN_OR_RETURN(page, ReadOwnedPage(store, table, index, number));
    if (page.leaf) break;
    std::uint32_t child = page.child_tail;
    for (const IndexEntry& e : page.entries) {
      if (CompareKeys(e.key, key) >= 0) {
        child = e.child;
        break;
      }
    }
    if (child == 0) return rows;  // every key in the tree is below `key`
    number = child;
  }
  for (std::uint32_t pages = 1;; ++pages) {
    for (const IndexEntry& e : page.entries) {
      const int c = CompareKeys(e.key, key);
      if (c > 0) return rows;
      if (c == 0) rows.push_back(e.row);
    }
    if (page.next_page == 0) return rows;
    if (pages > store.page_count()) return Corrupt(table, index, "die Blattkette ist zyklisch");
    const std::uint32_t from = page.number;
    JET_ASSIGN_OR_RETURN(page, ReadOwnedPage(store, table, index, page.next_page));
    if (!page.leaf || page.prev_page != from) {
      return Corrupt(table, index, PageName(page.number) + " passt nicht in die Blattkette");
    }
  }
}

namespace {

// The depth-first walk behind CheckIndexTree.
class TreeCheck {
 public:
  TreeCheck(const PageStore& store, const TableDef& table, const RealIndex& index)
      : store_(store), table_(table), index_(index) {}

  Result<IndexTreeStats> Run() {
    JET_ASSIGN_OR_RETURN(std::optional<IndexEntry> last, Visit(index_.first_page, 0));
    (void)last;
    // Each level, read left to right, must be exactly its previous/next chain.
    for (const std::vector<Link>& level : levels_) {
      for (std::size_t i = 0; i < level.size(); ++i) {
        const std::uint32_t prev = i == 0 ? 0 : level[i - 1].number;
        const std::uint32_t next = i + 1 == level.size() ? 0 : level[i + 1].number;
        if (level[i].prev != prev || level[i].next != next) {
          return Corrupt(table_, index_,
                         PageName(level[i].number) + " nennt Vorgänger/Nachfolger " +
                             std::to_string(level[i].prev) + "/" + std::to_string(level[i].next) +
                             ", der Baum ergibt " + std::to_string(prev) + "/" +
                             std::to_string(next));
        }
      }
    }
    stats_.depth = levels_.size();
    return stats_;
  }

 private:
  struct Link {
    std::uint32_t number, prev, next;
  };

  // Checks the subtree under page `number`; returns its last entry (none for an empty root leaf).
  Result<std::optional<IndexEntry>> Visit(std::uint32_t number, std::size_t depth) {
    if (depth >= kMaxDepth) return Corrupt(table_, index_, "der Baum ist zu tief (zyklisch?)");
    if (!seen_.insert(number).second) {
      return Corrupt(table_, index_, PageName(number) + " wird mehrfach erreicht");
    }
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadOwnedPage(store_, table_, index_, number));
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    levels_[depth].push_back({number, page.prev_page, page.next_page});
    if (page.leaf) {
      if (leaf_depth_ && *leaf_depth_ != depth) {
        return Corrupt(table_, index_, "Blätter liegen in verschiedenen Tiefen");
      }
      leaf_depth_ = depth;
      if (page.entries.empty() && depth > 0) {
        return Corrupt(table_, index_, PageName(number) + " ist ein leeres Blatt unter der Wurzel");
      }
      ++stats_.leaves;
      for (const IndexEntry& e : page.entries) {
        if (last_ && CompareEntries(*last_, e) >= 0) {
          return Corrupt(table_, index_,
                         "Einträge auf " + PageName(number) + " stehen nicht in Schlüsselfolge");
        }
        last_ = e;
        ++stats_.entries;
      }
      if (page.entries.empty()) return std::optional<IndexEntry>();
      return std::optional<IndexEntry>(page.entries.back());
    }
    ++stats_.intermediates;
    if (page.entries.empty() && page.child_tail == 0) {
      return Corrupt(table_, index_, PageName(number) + " ist eine leere Zwischenseite");
    }
    std::optional<IndexEntry> last;
    for (std::size_t i = 0; i < page.entries.size(); ++i) {
      const IndexEntry& e = page.entries[i];
      JET_ASSIGN_OR_RETURN(last, Visit(e.child, depth + 1));
      if (!last || CompareEntries(*last, e) != 0 || last->key != e.key) {
        return Corrupt(table_, index_,
                       "Eintrag " + std::to_string(i) + " auf " + PageName(number) +
                           " gleicht nicht dem letzten Eintrag seiner Seite " +
                           std::to_string(e.child));
      }
    }
    if (page.child_tail != 0) {
      JET_ASSIGN_OR_RETURN(last, Visit(page.child_tail, depth + 1));
      if (!last) return Corrupt(table_, index_, PageName(page.child_tail) + " ist leer");
    }
    return last;
  }

  const PageStore& store_;
  const TableDef& table_;
  const RealIndex& index_;
  IndexTreeStats stats_;
  std::set<std::uint32_t> seen_;
  std::vector<std::vector<Link>> levels_;
  std::optional<std::size_t> leaf_depth_;
  std::optional<IndexEntry> last_;
};

}  // namespace

Result<IndexTreeStats> CheckIndexTree(const PageStore& store, const TableDef& table,
                                      const RealIndex& index) {
  TreeCheck check(store, table, index);
  return check.Run();
}

}  // namespace jet
