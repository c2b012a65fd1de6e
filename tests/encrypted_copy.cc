#include "tests/encrypted_copy.h"

#include <algorithm>
#include <span>

#include "jet/base/format.h"
#include "jet/file/header.h"
#include "jet/file/page_store.h"

namespace testing_support {
namespace {

// Where the database key lives in page 0 (inside the masked area, see jet/file/header.cc).
constexpr std::size_t kDatabaseKeyOffset = 0x3E;

}  // namespace

jet::Result<std::vector<std::uint8_t>> MakeEncryptedCopy(const std::vector<std::uint8_t>& plain,
                                                         std::uint32_t key) {
  if (key == 0) return jet::Status(jet::ErrorCode::kInvalidValue, "key 0 means no encryption");
  JET_ASSIGN_OR_RETURN(jet::Header header, jet::ParseHeader(plain));
  if (header.database_key != 0) {
    return jet::Status(jet::ErrorCode::kInvalidValue, "the database is already encrypted");
  }
  const std::size_t page_size = header.format().page_size;
  if (plain.size() < page_size) return jet::Status::Corrupt("shorter than one page");

  std::vector<std::uint8_t> out = plain;
  // Unmask the header, store the key little-endian, mask it again.
  std::vector<std::uint8_t> page0(out.begin(),
                                  out.begin() + static_cast<std::ptrdiff_t>(page_size));
  jet::MaskHeader(page0, header.version);
  for (int i = 0; i < 4; ++i) {
    page0[kDatabaseKeyOffset + static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(key >> (8 * i));
  }
  jet::MaskHeader(page0, header.version);
  std::copy(page0.begin(), page0.end(), out.begin());

  const std::size_t pages = out.size() / page_size;
  for (std::size_t p = 1; p < pages; ++p) {
    jet::CryptPage(key, static_cast<std::uint32_t>(p),
                   std::span(out).subspan(p * page_size, page_size));
  }
  return out;
}

}  // namespace testing_support
