// UTF-8 helpers for comparing names and texts without regard to letter case.
#pragma once

#include <string>
#include <string_view>

namespace jet {

// Decodes the next code point of a UTF-8 text at `pos` and advances it; malformed bytes decode as
// U+FFFD, one byte at a time.
char32_t NextCodePoint(std::string_view text, std::size_t& pos);

// The lower-case form of a code point for the scripts Jet databases hold in practice: Basic
// Latin, Latin-1, Latin Extended-A, Greek and Cyrillic. Others are returned unchanged.
char32_t FoldCodePoint(char32_t cp);

// The text with every code point folded (UTF-8 in, UTF-8 out).
std::string FoldCase(std::string_view text);

}  // namespace jet
