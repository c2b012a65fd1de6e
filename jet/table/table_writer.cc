#include "jet/table/table_writer.h"

#include <algorithm>
#include <string>

#include "jet/base/byte_writer.h"
#include "jet/page/data_page.h"
#include "jet/page/data_page_writer.h"
#include "jet/page/long_value.h"
#include "jet/page/usage_map.h"
#include "jet/table/null_keys.h"
#include "jet/table/row_reader.h"
#include "jet/table/row_writer.h"
#include "jet/text/text_codec.h"

namespace jet {
Status TableWriter::WriteCounters() {
  const Format& f = store_->format();
  // Every row changes the counts: the page is made mutable again only when the store began a
  // new generation of its undo log since.
  if (definition_.empty() || definition_generation_ != store_->generation()) {
    JET_ASSIGN_OR_RETURN(definition_, store_->MutablePage(table_->page));
    definition_generation_ = store_->generation();
  }
  ByteWriter out(definition_);
  out.Put32(f.tdef_row_count_offset, table_->row_count);
  out.Put32(f.tdef_autonumber_offset, table_->autonumber);
  return Status::Ok();
}

Result<std::uint32_t> TableWriter::PageWithRoom(std::size_t row_size) {
  const Format& f = store_->format();
  if (last_page_ == 0) {
    // Continue on the table's last page, as Access does.
    JET_ASSIGN_OR_RETURN(std::vector<std::uint32_t> pages,
                         ReadUsageMap(*store_, table_->usage_map));
    if (!pages.empty()) last_page_ = pages.back();
  }
  if (last_page_ != 0) {
    if (!room_) {
      JET_ASSIGN_OR_RETURN(Bytes page, store_->TypedPage(last_page_, PageType::kData));
      room_ = MeasureDataPage(page, f);
    }
    if (room_->Takes(f, row_size)) return last_page_;
  }
  JET_ASSIGN_OR_RETURN(std::uint32_t fresh, allocator_->Allocate());
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store_->MutablePage(fresh));
  InitDataPage(bytes, f, table_->page);
  JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, table_->usage_map, fresh, true));
  JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, table_->free_map, fresh, true));
  if (last_page_ != 0) {
    // The page before is full now: it no longer offers free space.
    JET_RETURN_IF_ERROR(
        SetPageInUsageMap(*store_, *allocator_, table_->free_map, last_page_, false));
  }
  last_page_ = fresh;
  room_ = MeasureDataPage(bytes, f);
  return fresh;
}

Result<RowPointer> TableWriter::Insert(std::vector<Value>& values) {
  const Format& f = store_->format();
  if (values.size() != table_->columns.size()) {
    return Status(ErrorCode::kInvalidValue,
                  "Die Zeile hat nicht so viele Werte wie '" + table_->name + "' Spalten.");
  }
  JET_RETURN_IF_ERROR(CheckKeysNotNull(*table_, values));
  // One field and one data buffer per column; only long-value columns ever fill theirs, so the
  // buffers of the row before need only those emptied.
  std::vector<ByteString>& long_fields = long_fields_;
  std::vector<ByteString>& long_data = long_data_;
  if (long_fields.size() != values.size()) {
    long_fields.assign(values.size(), ByteString());
    long_data.assign(values.size(), ByteString());
  } else {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!table_->columns[i].long_value()) continue;
      long_fields[i].clear();
      long_data[i].clear();
    }
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Column& c = table_->columns[i];
    if (c.autonumber() && c.type() == ColumnType::kLong) {
      if (!values[i].is_null() && keep_numbers_) continue;
      if (!values[i].is_null()) {
        return Status(ErrorCode::kInvalidValue,
                      "Das AutoWert-Feld '" + c.name + "' kann nicht beschrieben werden.");
      }
      if (table_->autonumber >= 0x7FFFFFFFu) {
        return Status(ErrorCode::kInvalidValue,
                      "Der AutoWert von '" + table_->name + "' ist ausgeschöpft.");
      }
      ++table_->autonumber;
      values[i] = Value(static_cast<std::int32_t>(table_->autonumber));
    } else if (c.guid_autonumber() && values[i].is_null()) {
      values[i] = Value(NewGuid());
    } else if (c.type() == ColumnType::kBoolean && values[i].is_null()) {
      values[i] = Value(false);  // Yes/No holds no Null: its null-mask bit is the value
    }
  }
  // The long values' bytes; the row is encoded with their fields' final sizes before anything is
  // stored, so that a row that does not fit leaves no trace.
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Column& c = table_->columns[i];
    if (!c.long_value() || values[i].is_null()) continue;
    if (c.type() == ColumnType::kMemo) {
      if (!values[i].is<std::string>()) {
        return Status(ErrorCode::kInvalidValue, "Text erwartet für '" + c.name + "'.");
      }
      long_data[i] = EncodeJet4Text(values[i].as<std::string>(), c.compressed_unicode());
    } else {
      if (!values[i].is<ByteString>()) {
        return Status(ErrorCode::kInvalidValue, "Binärdaten erwartet für '" + c.name + "'.");
      }
      long_data[i] = values[i].as<ByteString>();
    }
    const std::size_t inline_size =
        long_data[i].size() <= kMaxInlineLongValue ? long_data[i].size() : 0;
    long_fields[i].assign(kLongValueHeadSize + inline_size, 0);
  }
  std::vector<std::uint8_t>& row = row_;
  JET_RETURN_IF_ERROR(encoder_.Encode(f, *table_, values, long_fields, row));
  if (row.size() > MaxRowSize(f)) {
    return Status(ErrorCode::kRecordTooLarge,
                  "Der Datensatz ist zu groß für die Tabelle '" + table_->name + "'.");
  }
  bool stores_long_values = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Column& c = table_->columns[i];
    if (!c.long_value() || values[i].is_null()) continue;
    JET_ASSIGN_OR_RETURN(long_fields[i], long_values_.Store(c, long_data[i]));
    stores_long_values = true;
  }
  // The long values' fields now say where their bytes went; their sizes stay as encoded.
  if (stores_long_values) {
    JET_RETURN_IF_ERROR(encoder_.Encode(f, *table_, values, long_fields, row));
  }
  JET_ASSIGN_OR_RETURN(std::uint32_t page_number, PageWithRoom(row.size()));
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> page, store_->MutablePage(page_number));
  JET_ASSIGN_OR_RETURN(std::uint16_t r, AddRowToPage(page, f, row, *room_));
  ++table_->row_count;
  JET_RETURN_IF_ERROR(WriteCounters());
  return RowPointer{page_number, static_cast<std::uint8_t>(r)};
}

Status TableWriter::Delete(RowPointer where) {
  const Format& f = store_->format();
  JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(*store_, where.page));
  if (page.owner() != table_->page) {
    return Status::Corrupt("Seite " + std::to_string(where.page) + " gehört nicht zu '" +
                           table_->name + "'.");
  }
  JET_ASSIGN_OR_RETURN(RowSlot slot, page.Row(where.row));
  if (slot.deleted) return Status(ErrorCode::kInvalidValue, "Die Zeile ist bereits gelöscht.");
  std::vector<RowPointer> places = {where};
  if (slot.overflow) {
    ByteReader r(slot.data);
    const RowPointer target = RowPointer::FromRaw(r.U32(0));
    if (!r.ok()) return Status::Corrupt("Beschädigter Zeilenverweis.");
    JET_ASSIGN_OR_RETURN(DataPage target_page, DataPage::Open(*store_, target.page));
    JET_ASSIGN_OR_RETURN(slot, target_page.Row(target.row));
    places.push_back(target);
  }
  // Free the row's long values.
  RowFields fields;
  JET_RETURN_IF_ERROR(SplitRow(f, *table_, slot.data, fields));
  for (std::size_t i = 0; i < table_->columns.size(); ++i) {
    const Column& c = table_->columns[i];
    if (c.long_value() && fields.fields[i].stored) {
      JET_RETURN_IF_ERROR(long_values_.Free(c, fields.fields[i].data));
    }
  }
  for (RowPointer at : places) {
    JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store_->MutablePage(at.page));
    JET_RETURN_IF_ERROR(MarkRowDeleted(bytes, f, at.row));
  }
  if (table_->row_count > 0) --table_->row_count;
  JET_RETURN_IF_ERROR(WriteCounters());
  // Pages left without a live row go back to the free pages.
  for (RowPointer at : places) {
    JET_ASSIGN_OR_RETURN(Bytes bytes, store_->Page(at.page));
    if (bytes[0] != static_cast<std::uint8_t>(PageType::kData) || LiveRowCount(bytes, f) != 0) {
      continue;
    }
    JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, table_->usage_map, at.page, false));
    JET_RETURN_IF_ERROR(SetPageInUsageMap(*store_, *allocator_, table_->free_map, at.page, false));
    if (at.page == last_page_) {
      last_page_ = 0;
      room_.reset();
    }
    JET_RETURN_IF_ERROR(allocator_->Free(at.page));
  }
  return Status::Ok();
}

Result<bool> TableWriter::NullInPlace(RowPointer where, const std::vector<Value>& values) {
  const Format& f = store_->format();
  JET_ASSIGN_OR_RETURN(DataPage page, DataPage::Open(*store_, where.page));
  if (page.owner() != table_->page) {
    return Status::Corrupt("Seite " + std::to_string(where.page) + " gehört nicht zu '" +
                           table_->name + "'.");
  }
  JET_ASSIGN_OR_RETURN(RowSlot slot, page.Row(where.row));
  if (slot.deleted) return Status(ErrorCode::kInvalidValue, "Die Zeile ist bereits gelöscht.");
  if (slot.overflow) return false;
  std::vector<Value> stored;
  JET_RETURN_IF_ERROR(DecodeRow(*store_, *table_, slot.data, stored));
  RowFields fields;
  JET_RETURN_IF_ERROR(SplitRow(f, *table_, slot.data, fields));
  std::vector<std::size_t> nulled;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == stored[i]) continue;
    const Column& c = table_->columns[i];
    if (!values[i].is_null() || !c.fixed() || c.type() == ColumnType::kBoolean ||
        !fields.fields[i].stored) {
      return false;
    }
    nulled.push_back(i);
  }
  // A column is Null when its bit in the null mask (the row's last ceil(columns / 8) bytes, bit
  // n % 8 of byte n / 8 for column number n) is clear; its fixed bytes are zeroed as well.
  JET_ASSIGN_OR_RETURN(Bytes whole, store_->Page(where.page));
  const auto row_at = static_cast<std::size_t>(slot.data.data() - whole.data());
  const std::size_t mask_at = row_at + slot.data.size() - (fields.row_columns + 7) / 8;
  std::vector<std::pair<std::size_t, std::size_t>> zeroed;  // page offset and size
  zeroed.reserve(nulled.size());
  for (std::size_t i : nulled) {
    zeroed.emplace_back(
        row_at + static_cast<std::size_t>(fields.fields[i].data.data() - slot.data.data()),
        fields.fields[i].data.size());
  }
  JET_ASSIGN_OR_RETURN(std::span<std::uint8_t> bytes, store_->MutablePage(where.page));
  for (std::size_t k = 0; k < nulled.size(); ++k) {
    const std::uint16_t number = table_->columns[nulled[k]].number;
    bytes[mask_at + number / 8] &= static_cast<std::uint8_t>(~(1u << (number % 8)));
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(zeroed[k].first), zeroed[k].second,
                std::uint8_t{0});
  }
  return true;
}

Result<RowPointer> TableWriter::Replace(RowPointer row, std::vector<Value>& values) {
  if (values.size() != table_->columns.size()) {
    return Status(ErrorCode::kInvalidValue,
                  "Die Zeile hat nicht so viele Werte wie '" + table_->name + "' Spalten.");
  }
  JET_RETURN_IF_ERROR(CheckKeysNotNull(*table_, values));  // before the old row goes
  JET_ASSIGN_OR_RETURN(bool changed_in_place, NullInPlace(row, values));
  if (changed_in_place) return row;
  JET_RETURN_IF_ERROR(Delete(row));
  keep_numbers_ = true;
  Result<RowPointer> place = Insert(values);
  keep_numbers_ = false;
  return place;
}

}  // namespace jet
