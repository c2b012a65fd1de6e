#include "jet/table/properties.h"

#include <cstring>
#include <vector>

#include "jet/text/text_codec.h"

namespace jet {
namespace {

constexpr std::uint8_t kJet4Magic[] = {'M', 'R', '2', 0};
constexpr std::uint8_t kJet3Magic[] = {'K', 'K', 'D', 0};
constexpr std::size_t kMagicSize = 4;
constexpr std::size_t kChunkHeadSize = 6;
constexpr std::uint16_t kChunkNames = 0x80;
constexpr std::uint16_t kChunkSet0 = 0x00;
constexpr std::uint16_t kChunkSet1 = 0x01;
constexpr std::size_t kValueHeadSize = 8;

Status Corrupt(const std::string& why) {
  return Status::Corrupt("Beschädigte Eigenschaften im Systemkatalog: " + why + ".");
}

std::string DecodeName(Bytes raw, const Format& f) {
  return f.unicode_text ? DecodeJet4Text(raw) : DecodeCodePage(raw);
}

}  // namespace

Value DecodePropertyValue(std::uint8_t type_code, Bytes data, const Format& f) {
  ByteReader in(data);
  Value v;
  switch (static_cast<ColumnType>(type_code)) {
    case ColumnType::kBoolean:
      v = Value(data.size() > 0 && data[0] != 0);
      break;
    case ColumnType::kByte:
      v = Value(in.U8(0));
      break;
    case ColumnType::kInteger:
      v = Value(in.I16(0));
      break;
    case ColumnType::kLong:
      v = Value(in.I32(0));
      break;
    case ColumnType::kCurrency:
      v = Value(Currency{in.I64(0)});
      break;
    case ColumnType::kSingle:
      v = Value(in.F32(0));
      break;
    case ColumnType::kDouble:
      v = Value(in.F64(0));
      break;
    case ColumnType::kDateTime:
      v = Value(DateTime{in.F64(0)});
      break;
    case ColumnType::kText:
    case ColumnType::kMemo:
      v = Value(DecodeName(data, f));
      break;
    case ColumnType::kGuid: {
      Guid g;
      if (data.size() >= g.bytes.size()) std::memcpy(g.bytes.data(), data.data(), g.bytes.size());
      v = Value(g);
      break;
    }
    default:
      v = Value(ByteString(data.begin(), data.end()));
      break;
  }
  if (!in.ok()) return Value(ByteString(data.begin(), data.end()));
  return v;
}

Result<PropertySets> ParseProperties(Bytes blob, const Format& f) {
  PropertySets sets;
  if (blob.empty()) return sets;
  if (blob.size() < kMagicSize || (std::memcmp(blob.data(), kJet4Magic, kMagicSize) != 0 &&
                                   std::memcmp(blob.data(), kJet3Magic, kMagicSize) != 0)) {
    return Corrupt("unbekannte Kennung");
  }
  ByteReader in(blob);
  std::vector<std::string> names;
  std::size_t pos = kMagicSize;
  while (pos + kChunkHeadSize <= blob.size()) {
    const std::uint32_t chunk_len = in.U32(pos);
    const std::uint16_t chunk_type = in.U16(pos + 4);
    if (chunk_len < kChunkHeadSize || chunk_len > blob.size() - pos) {
      return Corrupt("Abschnitt mit ungültiger Länge");
    }
    ByteReader chunk(blob.subspan(pos + kChunkHeadSize, chunk_len - kChunkHeadSize));
    if (chunk_type == kChunkNames) {
      for (std::size_t p = 0; p + 2 <= chunk.size();) {
        const std::uint16_t len = chunk.U16(p);
        Bytes raw = chunk.Slice(p + 2, len);
        if (!chunk.ok()) return Corrupt("Name mit ungültiger Länge");
        names.push_back(DecodeName(raw, f));
        p += 2 + std::size_t{len};
      }
    } else if (chunk_type == kChunkSet0 || chunk_type == kChunkSet1) {
      const std::uint32_t head_len = chunk.U32(0);
      const std::uint16_t name_len = chunk.U16(4);
      Bytes raw_name = chunk.Slice(6, name_len);
      if (!chunk.ok() || head_len < 6u + name_len || head_len > chunk.size()) {
        return Corrupt("Eigenschaftssatz mit ungültigem Kopf");
      }
      PropertyMap& props = sets[DecodeName(raw_name, f)];
      for (std::size_t p = head_len; p + kValueHeadSize <= chunk.size();) {
        const std::uint16_t value_len = chunk.U16(p);
        const std::uint8_t ddl = chunk.U8(p + 2);
        const std::uint8_t type = chunk.U8(p + 3);
        const std::uint16_t name_index = chunk.U16(p + 4);
        const std::uint16_t data_len = chunk.U16(p + 6);
        Bytes data = chunk.Slice(p + kValueHeadSize, data_len);
        if (!chunk.ok() || value_len < kValueHeadSize + data_len) {
          return Corrupt("Eigenschaftswert mit ungültiger Länge");
        }
        if (name_index >= names.size()) return Corrupt("Eigenschaft ohne Namen");
        props[names[name_index]] = Property{type, ddl != 0, DecodePropertyValue(type, data, f)};
        p += value_len;
      }
    }
    pos += chunk_len;
  }
  return sets;
}

}  // namespace jet
