// Test databases with encrypted pages, made from plain ones.
//
// Access's "encrypt database" leaves page 0 as it is except for the database key in the masked
// header area, and RC4-encrypts every further page (see jet::CryptPage). The tests make such
// files from the plain fixtures instead of shipping them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace testing_support {

// A copy of the plain database `plain` (its whole file) whose header holds `key` as database
// key and whose pages from 1 on are encrypted under it. Fails when `plain` is not a Jet 3/4
// database, already has a key, or `key` is 0 (which means "not encrypted").
jet::Result<std::vector<std::uint8_t>> MakeEncryptedCopy(const std::vector<std::uint8_t>& plain,
                                                         std::uint32_t key);

}  // namespace testing_support
