// Per-version constants of the Jet file format.
//
// The two supported versions differ in page size, text encoding and the offsets inside table
// definitions and data pages. Code reads these offsets from one `Format` table instead of
// scattering numbers; the byte layouts are documented next to the code that decodes them
// (header.cc, table_def.cc, data_page.cc, row_reader.cc, long_value.cc, usage_map.cc).
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

enum class JetVersion : std::uint8_t { kJet3 = 0, kJet4 = 1 };

// Page types: the first byte of every page but page 0.
enum class PageType : std::uint8_t {
  kDatabaseDefinition = 0x00,
  kData = 0x01,
  kTableDefinition = 0x02,
  kIntermediateIndex = 0x03,
  kLeafIndex = 0x04,
  kUsageMap = 0x05,
};

struct Format {
  JetVersion version;
  std::size_t page_size;
  bool unicode_text;  // Jet 4 stores text as UCS-2 (optionally compressed); Jet 3 in a code page

  // Header page (page 0), offsets after unmasking.
  std::size_t header_masked_length;    // bytes masked with the fixed RC4 key from 0x18
  std::size_t header_password_length;  // bytes of the password field at 0x42

  // Data page: row count and the start of the row offset table.
  std::size_t data_row_count_offset;
  std::size_t data_row_table_offset;

  // Table definition (offsets into the concatenated definition buffer).
  std::size_t tdef_row_count_offset;
  std::size_t tdef_autonumber_offset;
  std::size_t tdef_table_type_offset;
  std::size_t tdef_max_cols_offset;
  std::size_t tdef_var_cols_offset;
  std::size_t tdef_num_cols_offset;
  std::size_t tdef_num_idx_offset;
  std::size_t tdef_num_real_idx_offset;
  std::size_t tdef_usage_map_offset;
  std::size_t tdef_free_map_offset;
  std::size_t tdef_header_end;            // first real-index count entry
  std::size_t tdef_real_idx_count_entry;  // bytes per real-index count entry
  std::size_t tdef_column_entry;          // bytes per column descriptor
  std::size_t tdef_name_length_size;      // bytes of a name's length prefix
  std::size_t tdef_real_idx_entry;        // bytes per real-index definition
  std::size_t tdef_real_idx_columns_at;   // offset of the 10 (column, order) pairs in it
  std::size_t tdef_real_idx_flags_at;     // offset of the flags byte in it
  std::size_t tdef_logical_idx_entry;     // bytes per logical-index definition
  std::size_t tdef_logical_idx_skip;      // leading unknown bytes of a logical index (Jet 4: 4)

  // Column descriptor offsets.
  std::size_t col_type;
  std::size_t col_number;
  std::size_t col_var_index;
  std::size_t col_misc;          // text: sort order; decimal: precision (Jet 4), scale at +1
  std::size_t col_sort_version;  // Jet 4 only: the text sort order's version; 0 when absent
  std::size_t col_flags;
  std::size_t col_ext_flags;  // Jet 4 only: compressed-unicode flag; 0 when absent
  std::size_t col_fixed_offset;
  std::size_t col_length;

  // Row layout.
  std::size_t row_count_size;  // width of the column count at a row's start and of var offsets
};

inline constexpr Format kJet3Format = {
    .version = JetVersion::kJet3,
    .page_size = 2048,
    .unicode_text = false,
    .header_masked_length = 126,
    .header_password_length = 20,
    .data_row_count_offset = 8,
    .data_row_table_offset = 10,
    .tdef_row_count_offset = 12,
    .tdef_autonumber_offset = 16,
    .tdef_table_type_offset = 20,
    .tdef_max_cols_offset = 21,
    .tdef_var_cols_offset = 23,
    .tdef_num_cols_offset = 25,
    .tdef_num_idx_offset = 27,
    .tdef_num_real_idx_offset = 31,
    .tdef_usage_map_offset = 35,
    .tdef_free_map_offset = 39,
    .tdef_header_end = 43,
    .tdef_real_idx_count_entry = 8,
    .tdef_column_entry = 18,
    .tdef_name_length_size = 1,
    .tdef_real_idx_entry = 39,
    .tdef_real_idx_columns_at = 0,
    .tdef_real_idx_flags_at = 38,
    .tdef_logical_idx_entry = 20,
    .tdef_logical_idx_skip = 0,
    .col_type = 0,
    .col_number = 1,
    .col_var_index = 3,
    .col_misc = 9,
    .col_sort_version = 0,
    .col_flags = 13,
    .col_ext_flags = 0,
    .col_fixed_offset = 14,
    .col_length = 16,
    .row_count_size = 1,
};

inline constexpr Format kJet4Format = {
    .version = JetVersion::kJet4,
    .page_size = 4096,
    .unicode_text = true,
    .header_masked_length = 128,
    .header_password_length = 40,
    .data_row_count_offset = 12,
    .data_row_table_offset = 14,
    .tdef_row_count_offset = 16,
    .tdef_autonumber_offset = 20,
    .tdef_table_type_offset = 40,
    .tdef_max_cols_offset = 41,
    .tdef_var_cols_offset = 43,
    .tdef_num_cols_offset = 45,
    .tdef_num_idx_offset = 47,
    .tdef_num_real_idx_offset = 51,
    .tdef_usage_map_offset = 55,
    .tdef_free_map_offset = 59,
    .tdef_header_end = 63,
    .tdef_real_idx_count_entry = 12,
    .tdef_column_entry = 25,
    .tdef_name_length_size = 2,
    .tdef_real_idx_entry = 52,
    .tdef_real_idx_columns_at = 4,
    .tdef_real_idx_flags_at = 46,
    .tdef_logical_idx_entry = 28,
    .tdef_logical_idx_skip = 4,
    .col_type = 0,
    .col_number = 5,
    .col_var_index = 7,
    .col_misc = 11,
    .col_sort_version = 14,
    .col_flags = 15,
    .col_ext_flags = 16,
    .col_fixed_offset = 21,
    .col_length = 23,
    .row_count_size = 2,
};

inline const Format& FormatFor(JetVersion v) {
  return v == JetVersion::kJet3 ? kJet3Format : kJet4Format;
}

// A pointer to a row: the row number in its low byte, the page number in the upper three bytes.
struct RowPointer {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
  static RowPointer FromRaw(std::uint32_t raw) {
    return RowPointer{raw >> 8, static_cast<std::uint8_t>(raw & 0xFF)};
  }
  std::uint32_t Raw() const { return (page << 8) | row; }
};

}  // namespace jet
