#include "jet/page/long_value.h"

#include <set>
#include <string>

#include "jet/base/format.h"
#include "jet/page/data_page.h"

namespace jet {
namespace {

Status Corrupt(const std::string& why) {
  return Status::Corrupt("Beschädigter Memo- oder OLE-Wert: " + why + ".");
}

}  // namespace

Result<std::vector<std::uint8_t>> ReadLongValue(const PageStore& store, Bytes field) {
  ByteReader in(field);
  const std::uint32_t length = in.U24(0);
  const std::uint8_t kind = in.U8(kLongValueKindOffset);
  const RowPointer ptr = RowPointer::FromRaw(in.U32(kLongValuePointerOffset));
  if (!in.ok() || field.size() < kLongValueHeadSize) return Corrupt("der Kopf ist zu kurz");

  std::vector<std::uint8_t> out;
  if (kind == kLongValueInline) {
    Bytes data = in.Slice(kLongValueHeadSize, length);
    if (!in.ok()) return Corrupt("die Länge überschreitet das Feld");
    out.assign(data.begin(), data.end());
  } else if (kind == kLongValueSinglePage) {
    JET_ASSIGN_OR_RETURN(Bytes row, ReadRowAt(store, ptr));
    if (row.size() < length) return Corrupt("die Länge überschreitet die Zeile");
    out.assign(row.begin(), row.begin() + length);
  } else if (kind == kLongValueChain) {
    out.reserve(length);
    std::set<std::uint32_t> seen;
    RowPointer at = ptr;
    while (out.size() < length) {
      if (at.page == 0) return Corrupt("die Kette endet vor dem Ende des Werts");
      if (!seen.insert(at.Raw()).second) return Corrupt("die Kette ist zyklisch");
      JET_ASSIGN_OR_RETURN(Bytes row, ReadRowAt(store, at));
      ByteReader r(row);
      const std::uint32_t next = r.U32(0);
      if (!r.ok()) return Corrupt("ein Kettenglied ist zu kurz");
      const std::size_t take =
          std::min<std::size_t>(row.size() - kChainNextSize, length - out.size());
      out.insert(out.end(), row.begin() + kChainNextSize,
                 row.begin() + static_cast<std::ptrdiff_t>(kChainNextSize + take));
      at = RowPointer::FromRaw(next);
    }
  } else {
    return Corrupt("unbekannte Speicherart " + std::to_string(kind));
  }
  return out;
}

}  // namespace jet
