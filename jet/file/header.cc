#include "jet/file/header.h"

#include <array>
#include <cmath>
#include <cstring>

#include "jet/base/byte_writer.h"
#include "jet/file/rc4.h"
#include "jet/text/text_codec.h"

namespace jet {
namespace {

// Page 0 layout (offsets in bytes; the area from 0x18 is masked, see MaskHeader):
//   0x00  4   magic 00 01 00 00
//   0x04  16  engine name: "Standard Jet DB\0" (".accdb" files: "Standard ACE DB\0")
//   0x14  4   version: 0 Jet 3, 1 Jet 4, 2 and above ACE (refused)
//   0x18  126 (Jet 3) / 128 (Jet 4) bytes masked with RC4 under kHeaderKey:
//     0x3A  2   Jet 3 sort order
//     0x3C  2   code page of Jet 3 text
//     0x3E  4   database key: per-page RC4 key material, 0 when pages are not encrypted
//     0x42  20 (Jet 3) / 40 (Jet 4, UCS-2) database password; Jet 4 also XORs it with the low
//               four bytes of the creation date truncated to an integer
//     0x6E  2   Jet 4 sort order id, 0x71 1 byte its version
//     0x72  8   Jet 4 creation date (double)
constexpr std::size_t kMagicOffset = 0x00;
constexpr std::uint8_t kMagic[] = {0x00, 0x01, 0x00, 0x00};
constexpr std::size_t kEngineNameOffset = 0x04;
constexpr char kJetEngineName[] = "Standard Jet DB";
constexpr char kAceEngineName[] = "Standard ACE DB";
constexpr std::size_t kEngineNameLength = 16;
constexpr std::size_t kVersionOffset = 0x14;
constexpr std::size_t kMaskedOffset = 0x18;
constexpr std::uint8_t kHeaderKey[] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kJet3SortOrderOffset = 0x3A;
constexpr std::size_t kCodePageOffset = 0x3C;
constexpr std::size_t kDatabaseKeyOffset = 0x3E;
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kJet4SortOrderOffset = 0x6E;
constexpr std::size_t kJet4SortVersionOffset = 0x71;
constexpr std::size_t kCreationDateOffset = 0x72;

Status NotADatabase() {
  return Status(ErrorCode::kUnrecognizedFormat,
                "Nicht erkanntes Datenbankformat: Die Datei ist keine Jet-3- oder "
                "Jet-4-Datenbank (.mdb).");
}

}  // namespace

void MaskHeader(std::vector<std::uint8_t>& page0, JetVersion version) {
  const std::size_t length = FormatFor(version).header_masked_length;
  if (page0.size() < kMaskedOffset + length) return;
  Rc4 rc4(kHeaderKey);
  rc4.Apply(std::span(page0).subspan(kMaskedOffset, length));
}

Result<Header> ParseHeader(Bytes page0) {
  ByteReader in(page0);
  if (!in.Has(0, kVersionOffset + 4)) return NotADatabase();
  if (std::memcmp(page0.data() + kMagicOffset, kMagic, sizeof kMagic) != 0) return NotADatabase();
  const char* name = reinterpret_cast<const char*>(page0.data() + kEngineNameOffset);
  if (std::memcmp(name, kAceEngineName, sizeof kAceEngineName) == 0) {
    return Status(ErrorCode::kUnrecognizedFormat,
                  "Nicht erkanntes Datenbankformat: ACE-Datenbanken (.accdb, Access 2007 und "
                  "neuer) werden nicht unterstützt.");
  }
  if (std::memcmp(name, kJetEngineName, sizeof kJetEngineName) != 0) return NotADatabase();
  static_assert(sizeof kJetEngineName <= kEngineNameLength);

  Header h;
  const std::uint32_t version = in.U32(kVersionOffset);
  if (version == 0) {
    h.version = JetVersion::kJet3;
  } else if (version == 1) {
    h.version = JetVersion::kJet4;
  } else {
    return Status(ErrorCode::kUnrecognizedFormat, "Nicht erkanntes Datenbankformat: Version " +
                                                      std::to_string(version) +
                                                      " (ACE/.accdb) wird nicht unterstützt.");
  }
  const Format& f = h.format();
  if (!in.Has(0, kMaskedOffset + f.header_masked_length)) return NotADatabase();

  std::vector<std::uint8_t> plain(
      page0.begin(),
      page0.begin() + static_cast<std::ptrdiff_t>(kMaskedOffset + f.header_masked_length));
  MaskHeader(plain, h.version);
  ByteReader p(plain);

  h.code_page = p.U16(kCodePageOffset);
  h.database_key = p.U32(kDatabaseKeyOffset);
  std::vector<std::uint8_t> pw(
      plain.begin() + kPasswordOffset,
      plain.begin() + static_cast<std::ptrdiff_t>(kPasswordOffset + f.header_password_length));
  if (h.version == JetVersion::kJet4) {
    h.sort_order.id = p.U16(kJet4SortOrderOffset);
    h.sort_order.version = p.U8(kJet4SortVersionOffset);
    h.creation_date = p.F64(kCreationDateOffset);
    std::array<std::uint8_t, 4> mask{};
    if (std::isfinite(h.creation_date) && std::fabs(h.creation_date) < 2147483647.0) {
      const auto date = static_cast<std::uint32_t>(static_cast<std::int32_t>(h.creation_date));
      ByteWriter(mask).Put32(0, date);
    }
    for (std::size_t i = 0; i < pw.size(); ++i) pw[i] ^= mask[i % mask.size()];
    // UCS-2 up to the first NUL character.
    std::size_t chars = 0;
    while (chars * 2 + 1 < pw.size() && (pw[chars * 2] | pw[chars * 2 + 1]) != 0) ++chars;
    h.password = DecodeUcs2(Bytes(pw.data(), chars * 2));
  } else {
    h.sort_order.id = p.U16(kJet3SortOrderOffset);
    std::size_t len = 0;
    while (len < pw.size() && pw[len] != 0) ++len;
    h.password = DecodeCodePage(Bytes(pw.data(), len));
  }
  if (!p.ok()) return NotADatabase();
  return h;
}

bool PasswordMatches(const std::string& stored, const std::string& given) {
  // A database without a password ignores one given (as Jet does); one with a password opens
  // only with exactly that password, letter case included.
  return stored.empty() || stored == given;
}

}  // namespace jet
